// Shared pieces of the file calls: native paths from Windows arguments,
// errno to Windows codes, attributes (read-only from the mode; hidden,
// system and archive in the user.DOSATTRIB extended attribute, as Wine and
// Samba keep them), FILETIME conversion, and share checks for the calls
// that act on a file by name.
#pragma once

#include <sys/stat.h>
#include <windows.h>

#include <optional>
#include <string>

namespace winsys::kernel {

// The native path for a Windows path argument; on failure the Windows code
// is set as the last error. A null path fails with ERROR_PATH_NOT_FOUND.
std::optional<std::string> nativePathW(LPCWSTR path);
std::optional<std::string> nativePathA(LPCSTR path);

// The Windows code for an errno value. For ENOENT the code depends on
// whether the parent directory of `native` exists (file vs path not found).
DWORD errorFromErrno(int error, const std::string& native = {});
// Sets the last error from errno and returns FALSE.
BOOL failFromErrno(const std::string& native = {});
BOOL failWith(DWORD code);

bool isReadOnly(const struct stat& st);
DWORD attributesOf(const std::string& native, const struct stat& st);
// Stores hidden, system and archive; read-only goes to the mode. Missing
// extended-attribute support is not an error.
bool applyAttributes(const std::string& native, DWORD attributes);
// The stored hidden/system/archive bits, if the file has the attribute.
std::optional<DWORD> storedDosAttributes(const std::string& native);

FILETIME toFileTime(const struct timespec& ts);
struct timespec fromFileTime(const FILETIME& ft);
// Creation time: the birth time where the file system keeps one.
FILETIME creationTimeOf(const std::string& native, int fd, const struct stat& st);

// The rights of a desired access that take part in sharing, as
// share::kReadData, kWriteData and kDelete (see kernel/share_modes.h).
DWORD reduceAccess(DWORD access);
// Whether an operation needing `access` and allowing `share` may act on the
// file now (delete, move, copy).
bool shareAllows(const std::string& native, const struct stat& st, DWORD access, DWORD share);

// Copies a file's bytes, mode, stored attributes and times beside the target
// and renames it into place; when failIfExists, an existing target is kept.
BOOL copyFileAtomically(const std::string& from, const std::string& to, bool failIfExists);

}  // namespace winsys::kernel
