// Placeholder; removed when the first core unit lands.
