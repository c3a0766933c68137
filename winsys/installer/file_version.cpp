// MsiGetFileVersion: a file's version and language as the installer writes
// them in the File table ("1.2.3.4" and the decimal language id), read from
// the file's version resource.
#include <msi.h>

#include <vector>

#include "installer/caller_buffers.h"

namespace winsys::installer {

namespace {

std::u16string decimal(unsigned value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// The version call's error as the installer reports it.
UINT installerError(DWORD versionError) {
    switch (versionError) {
        case ERROR_BAD_PATHNAME:
            return ERROR_FILE_NOT_FOUND;
        case ERROR_RESOURCE_DATA_NOT_FOUND:
        case ERROR_RESOURCE_TYPE_NOT_FOUND:
        case ERROR_RESOURCE_NAME_NOT_FOUND:
        case ERROR_BAD_FORMAT:
        case ERROR_BAD_EXE_FORMAT:
            return ERROR_FILE_INVALID;
        default:
            return versionError ? versionError : ERROR_FILE_INVALID;
    }
}

// One requested text: its full length always, as much of the text as fits.
// A count too small for the text is ERROR_MORE_DATA even without a buffer,
// so that a caller may size its buffers first.
template <typename Char>
void deliver(std::u16string_view text, Char* buffer, DWORD* count, UINT& result) {
    if (!count)
        return;
    DWORD given = *count;
    copyTruncating(text, buffer, count);
    if (*count >= given)
        result = ERROR_MORE_DATA;
}

template <typename Char>
UINT getFileVersion(const WCHAR* path, Char* versionBuffer, DWORD* versionCount,
                    Char* languageBuffer, DWORD* languageCount) {
    if ((versionBuffer && !versionCount) || (languageBuffer && !languageCount))
        return ERROR_INVALID_PARAMETER;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (!size)
        return installerError(GetLastError());
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data()))
        return installerError(GetLastError());

    std::u16string version, language;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), u"\\", reinterpret_cast<LPVOID*>(&fixed), &length) &&
        length >= sizeof(*fixed))
        version = decimal(HIWORD(fixed->dwFileVersionMS)) + u"." +
                  decimal(LOWORD(fixed->dwFileVersionMS)) + u"." +
                  decimal(HIWORD(fixed->dwFileVersionLS)) + u"." +
                  decimal(LOWORD(fixed->dwFileVersionLS));
    WORD* translation = nullptr;
    if (VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation",
                       reinterpret_cast<LPVOID*>(&translation), &length) &&
        length >= sizeof(WORD))
        language = decimal(translation[0]);

    UINT result = ERROR_SUCCESS;
    deliver(version, versionBuffer, versionCount, result);
    deliver(language, languageBuffer, languageCount, result);
    return result;
}

}  // namespace

}  // namespace winsys::installer

using namespace winsys::installer;

extern "C" {

WINSYS_EXPORT UINT WINAPI MsiGetFileVersionW(LPCWSTR szFilePath, LPWSTR lpVersionBuf,
                                             DWORD* pcchVersionBuf, LPWSTR lpLangBuf,
                                             DWORD* pcchLangBuf) {
    return getFileVersion(szFilePath, lpVersionBuf, pcchVersionBuf, lpLangBuf, pcchLangBuf);
}

WINSYS_EXPORT UINT WINAPI MsiGetFileVersionA(LPCSTR szFilePath, LPSTR lpVersionBuf,
                                             DWORD* pcchVersionBuf, LPSTR lpLangBuf,
                                             DWORD* pcchLangBuf) {
    WideArgument path(szFilePath);
    return getFileVersion(path.get(), lpVersionBuf, pcchVersionBuf, lpLangBuf, pcchLangBuf);
}

}  // extern "C"
