// Package compaction: the package's storage is copied element by element
// into a fresh compound file, which holds no free space; the copy replaces
// the package only when it opens as a package and is smaller.
#include "backup/defrag.h"

#include "platform/file_size.h"
#include "platform/installer_handle.h"
#include "platform/package_lock.h"
#include "platform/platform_calls.h"
#include "platform/replace_file.h"
#include "platform/temporary_files.h"

#include <ole2.h>
#include <qltmsi.h>

namespace {

constexpr DWORD kOpenMode = STGM_READ | STGM_SHARE_DENY_WRITE;
constexpr DWORD kCreateMode = STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE;

// Copies every element of the package's storage into the new file.
bool CopyStorage(IStorage* source, LPCWSTR target) {
    IStorage* copy = nullptr;
    if (FAILED(StgCreateDocfile(target, kCreateMode, 0, &copy))) {
        return false;
    }
    const HRESULT copied = source->CopyTo(0, nullptr, nullptr, copy);
    copy->Release();
    return SUCCEEDED(copied);
}

bool OpensAsPackage(LPCWSTR path) {
    MsiHandle database;
    return MsiOpenDatabaseW(path, MSIDBOPEN_DIRECT, database.Receive()) == ERROR_SUCCESS;
}

}  // namespace

DWORD CompactPackage(LPCWSTR packagePath) {
    if (packagePath == nullptr) {
        return QLTMSI_DEFRAG_FAILED;
    }
    // Its temporary copy beside the package must not be taken for a
    // leftover by another process's clean-up, and the compacted copy replaces
    // the package whole: a patch or restore running meanwhile would be undone.
    const PackageLock packageLock(packagePath, packageLockWaitMilliseconds);
    if (!packageLock.held()) {
        return QLTMSI_DEFRAG_FAILED;
    }
    IStorage* source = nullptr;
    if (FAILED(StgOpenStorage(packagePath, nullptr, kOpenMode, nullptr, 0, &source))) {
        return QLTMSI_DEFRAG_FAILED;
    }
    WCHAR temporaryDirectory[MAX_PATH + 1] = {};
    WCHAR compacted[MAX_PATH + 1] = {};
    const DWORD length = platformCalls.tempPath(MAX_PATH + 1, temporaryDirectory);
    if (length == 0 || length > MAX_PATH ||
        MakeTemporaryFile(temporaryDirectory, TEXT("qlt"), compacted) == 0) {
        source->Release();
        return QLTMSI_DEFRAG_FAILED;
    }
    const bool copied = CopyStorage(source, compacted);
    source->Release();
    if (!copied || !OpensAsPackage(compacted)) {
        DeleteTemporaryFile(compacted);
        return QLTMSI_DEFRAG_FAILED;
    }
    // A package that could not be replaced is left as it was, and says so.
    // Only a copy known to be no smaller is left unused: a size that cannot
    // be measured is no reason to report a compaction that never happened.
    ULONGLONG compactedSize = 0;
    ULONGLONG packageSize = 0;
    const bool noSmaller = MeasureFile(compacted, compactedSize) == ERROR_SUCCESS &&
                           MeasureFile(packagePath, packageSize) == ERROR_SUCCESS &&
                           compactedSize >= packageSize;
    const bool replaced = noSmaller || ReplaceWithCopy(compacted, packagePath);
    DeleteTemporaryFile(compacted);
    return replaced ? QLTMSI_DEFRAG_DONE : QLTMSI_DEFRAG_FAILED;
}
