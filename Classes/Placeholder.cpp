// Removed once the first class lands.
