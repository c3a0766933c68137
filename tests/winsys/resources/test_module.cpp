// A module whose only content is its resource image, for the resource tests.
extern "C" __attribute__((visibility("default"))) int winsysResourceTestModule() { return 42; }
