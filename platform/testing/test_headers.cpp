// Compiled only to precompile GoogleTest's headers for the test drivers.
