// QLTMsiOpenDatabase and QLTMsiCloseDatabase: making the patch context of the
// open handle and ending it.
#include "api/call_lock.h"
#include "api/messages.h"
#include "api/open_package.h"

#include <objbase.h>

#include <new>

namespace {

struct OpenArguments {
    LPCWSTR packageCode = nullptr;
    LPCWSTR transformName = nullptr;
};

// A GUID in braces is the package code the caller requires; any other text
// names a transform. Later arguments win within a class.
void SortOpenArgument(LPCWSTR text, OpenArguments& arguments) {
    if (text == nullptr) {
        return;
    }
    CLSID parsed{};
    if (CLSIDFromString(text, &parsed) == S_OK) {
        arguments.packageCode = text;
    } else {
        arguments.transformName = text;
    }
}

// "directory\name", or the name alone; refused when longer than a path.
bool JoinTransformPath(LPCWSTR directory, LPCWSTR name, WideString& path) {
    path.clear();
    if (directory != nullptr) {
        path = directory;
        path += TEXT('\\');
    }
    path += name;
    return path.size() <= MAX_PATH;
}

std::unique_ptr<PatchContext> AllocateContext() {
    try {
        return std::make_unique<PatchContext>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Ends the patch context of the open handle, if any, with its files.
void DropCurrentContext() {
    if (libraryState.currentContext) {
        DestroyContext(*libraryState.currentContext);
        libraryState.currentContext.reset();
    }
}

}  // namespace

extern "C" {

DWORD WINAPI QLTMsiOpenDatabase(int handle, LPCWSTR productCode, LPCWSTR first, LPCWSTR second,
                                LPCWSTR transformDirectory, ProgressCallback callback) {
    if (!CheckHandle(handle)) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    CallLockHold callLock;
    if (ContextInUse()) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    // A context the caller did not close is ended here rather than left with
    // its temporary files behind.
    DropCurrentContext();
    std::unique_ptr<PatchContext> context = AllocateContext();
    if (!context) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    InitContext(*context);
    libraryState.currentContext = std::move(context);
    PatchContext& current = *libraryState.currentContext;

    OpenArguments arguments;
    SortOpenArgument(first, arguments);
    SortOpenArgument(second, arguments);
    WideString transformPath;
    if (arguments.transformName != nullptr &&
        !JoinTransformPath(transformDirectory, arguments.transformName, transformPath)) {
        current.lastMessageId = kMessageInvalidParameter;
        return ERROR_INVALID_PARAMETER;
    }
    ContextUse use;
    return OpenPackage(current, productCode, arguments.packageCode,
                       arguments.transformName ? transformPath.c_str() : nullptr, callback);
}

DWORD WINAPI QLTMsiCloseDatabase(int handle) {
    if (!CheckHandle(handle)) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    CallLockHold callLock;
    if (ContextInUse()) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    if (!libraryState.currentContext) {
        return QLTMSI_ERROR_NO_PATCH_CONTEXT;
    }
    const UINT status = ReleaseContext(*libraryState.currentContext);
    DropCurrentContext();
    return status;
}

}  // extern "C"
