// The owner of the test programs' precompiled GoogleTest header; it compiles
// nothing of its own.
