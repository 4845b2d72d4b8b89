// Placeholder translation unit; the exports arrive with the link layer.
