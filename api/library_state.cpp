// The library's per-process state. Constant-initialised, so that it is in
// place before the load handling runs.
#include "api/library_state.h"

constinit LibraryState libraryState{};
