// Removed once the first unit lands.
