/* A loadable module with one export, for the loader tests. */
__attribute__((visibility("default"))) int testModuleAnswer(void) {
    return 42;
}
