// Placeholder; removed when the first window lands.
