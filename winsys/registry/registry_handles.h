// Open registry keys as handles: small opaque values that name a key row and
// the access it was opened with. Values are never reused, so a closed handle
// stays invalid.
#pragma once

#include <windows.h>

#include "registry/registry_store.h"

namespace winsys::registry {

struct OpenKey {
    KeyId id = 0;
    REGSAM access = 0;
};

HKEY openHandle(KeyId id, REGSAM access);
// The key behind a handle (the predefined roots included); false for a null,
// closed or unknown handle.
bool lookUpHandle(HKEY key, OpenKey& out);
// False when the handle was not open. The predefined roots close as no-ops.
bool closeHandle(HKEY key);
bool isPredefined(HKEY key);

}  // namespace winsys::registry
