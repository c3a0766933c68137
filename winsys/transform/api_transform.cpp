// MsiDatabaseGenerateTransform and MsiDatabaseApplyTransform (W and A).
#include <msiquery.h>

#include "msi/api_support.h"
#include "msi/handles.h"
#include "transform.h"

using namespace winsys::msi;

namespace {

UINT generate(MSIHANDLE hChanged, MSIHANDLE hReference, const std::optional<std::string>& path, bool pathGiven,
              int reserved1, int reserved2) {
    std::lock_guard lock(apiLock());
    auto changed = handleAs<Database>(hChanged);
    auto reference = handleAs<Database>(hReference);
    if (!changed || !reference) return ERROR_INVALID_HANDLE;
    if (reserved1 || reserved2) return ERROR_INVALID_PARAMETER;
    if (pathGiven && !path) return ERROR_CREATE_FAILED;
    return winsys::transform::generateTransform(*changed, *reference, pathGiven ? &*path : nullptr);
}

UINT apply(MSIHANDLE hdb, const std::u16string* transform, const std::optional<std::string>& path, int conditions) {
    std::lock_guard lock(apiLock());
    auto db = handleAs<Database>(hdb);
    if (!db) return ERROR_INVALID_HANDLE;
    if (!transform) return ERROR_INVALID_PARAMETER;
    // ":name" names a transform kept as a sub-storage of the database.
    if (!transform->empty() && (*transform)[0] == u':')
        return winsys::transform::applyStorageTransform(*db, std::u16string_view(*transform).substr(1), conditions);
    if (!path) return ERROR_OPEN_FAILED;
    return winsys::transform::applyTransform(*db, *path, conditions);
}

}  // namespace

extern "C" {

UINT WINAPI MsiDatabaseGenerateTransformW(MSIHANDLE hDatabase, MSIHANDLE hDatabaseReference, LPCWSTR szTransformFile,
                                          int iReserved1, int iReserved2) {
    return generate(hDatabase, hDatabaseReference, szTransformFile ? nativePathOf(szTransformFile) : std::nullopt,
                    szTransformFile != nullptr, iReserved1, iReserved2);
}

UINT WINAPI MsiDatabaseGenerateTransformA(MSIHANDLE hDatabase, MSIHANDLE hDatabaseReference, LPCSTR szTransformFile,
                                          int iReserved1, int iReserved2) {
    return generate(hDatabase, hDatabaseReference, szTransformFile ? nativePathOfNarrow(szTransformFile) : std::nullopt,
                    szTransformFile != nullptr, iReserved1, iReserved2);
}

UINT WINAPI MsiDatabaseApplyTransformW(MSIHANDLE hDatabase, LPCWSTR szTransformFile, int iErrorConditions) {
    if (!szTransformFile) return apply(hDatabase, nullptr, std::nullopt, iErrorConditions);
    std::u16string text = wideOf(szTransformFile);
    return apply(hDatabase, &text, nativePathOf(text), iErrorConditions);
}

UINT WINAPI MsiDatabaseApplyTransformA(MSIHANDLE hDatabase, LPCSTR szTransformFile, int iErrorConditions) {
    if (!szTransformFile) return apply(hDatabase, nullptr, std::nullopt, iErrorConditions);
    std::u16string text = wideOf(szTransformFile);
    return apply(hDatabase, &text, nativePathOfNarrow(szTransformFile), iErrorConditions);
}

}  // extern "C"
