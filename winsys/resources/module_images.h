// The resource image of a module file: parsed once per file version for the
// string calls on loaded modules, read anew for the version calls.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "resources/resource_image.h"

namespace winsys::resources {

// The ELF section our modules carry their resources in.
inline constexpr const char* kElfSectionName = "winsys_rsrc";

// The resources of a native file: a PE file's .rsrc or an ELF file's
// winsys_rsrc section (empty when it has none). Null with *error set
// (ERROR_FILE_NOT_FOUND, ERROR_BAD_FORMAT, ...) otherwise.
std::shared_ptr<const ResourceImage> imageOfFile(const std::string& nativePath, DWORD* error);

// The same, read anew on every call, for files that may change under us: a
// file rewritten in place with the same size within the file system's
// timestamp granularity looks unchanged to the cache. The version calls use
// it, since the files they are asked about are the ones being replaced.
// onlyType, when not 0, keeps the resources of that type alone.
std::shared_ptr<const ResourceImage> readImageOfFile(const std::string& nativePath, DWORD* error, uint16_t onlyType = 0);

// The native file of a loaded module: its base address, as HMODULE is, or
// null for the main program.
bool moduleFile(HMODULE module, std::string& nativePath);

}  // namespace winsys::resources
