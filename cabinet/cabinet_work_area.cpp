// The cabinet work area of a patch context: building a cabinet through the
// bound cabinet library, and clearing away the files and directory of work.
#include "cabinet/cabinet_work_area.h"

#include "cabinet/cabinet_binding.h"
#include "cabinet/cabinet_callbacks.h"
#include "platform/delete_own_file.h"
#include "platform/narrow_text.h"
#include "platform/platform_calls.h"
#include "platform/temporary_files.h"

#include <cstring>

namespace {

constexpr ULONG kCabinetSizeLimit = 0x0FFFFFFF;
constexpr ULONG kFolderThreshold = 900000;
constexpr USHORT kCabinetSetId = 12345;

// Narrow text in the ANSI code page; at most three bytes for each UTF-16
// unit, which covers every code page, multibyte ones included.
struct AnsiPath {
    char text[3 * (MAX_PATH + 1) + 1];
};

// Deletes the files directly inside the directory, then the directory;
// subdirectories are left alone and failures are skipped.
void RemoveExtractDirectory(CabinetWorkArea& area) {
    const std::basic_string<WCHAR> directory = area.extractDirectory.data();
    area.extractDirectory[0] = 0;
    area.extractedFiles.clear();
    if (directory.empty()) {
        return;
    }
    const std::basic_string<WCHAR> pattern = directory + TEXT("\\*.*");
    WIN32_FIND_DATAW entry{};
    const HANDLE find = platformCalls.findFirstFile(pattern.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::basic_string<WCHAR> name = entry.cFileName;
            if (name != TEXT(".") && name != TEXT("..")) {
                DeleteOwnFile((directory + TEXT("\\") + name).c_str());
            }
        } while (platformCalls.findNextFile(find, &entry));
        FindClose(find);
    }
    RemoveTemporaryFolder(directory.c_str());
}

}  // namespace

void InitCabinetWorkArea(CabinetWorkArea& area) {
    area.compressorContext = nullptr;
    area.cabinetParameters.szCabPath[0] = 0;
    area.queuedFileCount = 0;
    area.extractDirectory[0] = 0;
    area.extractedFiles.clear();
    area.oldCabinetFile.reset();
}

UINT OpenCompressor(CabinetWorkArea& area, LPCWSTR cabinetFile) {
    CCAB& parameters = area.cabinetParameters;
    std::memset(&parameters, 0, sizeof parameters);
    if (!ToAnsi(cabinetFile, parameters.szCabPath, sizeof parameters.szCabPath)) {
        // Refused rather than cut: a shortened path names some other file.
        parameters.szCabPath[0] = 0;
        return 1;
    }
    parameters.cb = kCabinetSizeLimit;
    parameters.cbFolderThresh = kFolderThreshold;
    parameters.iCab = 1;
    parameters.iDisk = 0;
    parameters.fFailOnIncompressible = 0;
    parameters.setID = kCabinetSetId;
    std::strcpy(parameters.szDisk, tempNameDirectory);
    parameters.szCab[0] = 0;
    area.compressorContext =
        CreateCompressor(&area.compressorError, CabAnswerZero, CabAlloc, CabFree, FciOpenFile,
                         FciReadFile, FciWriteFile, FciCloseFile, FciSeekFile, FciDeleteFile,
                         FciGetTempFile, &parameters, nullptr);
    return area.compressorContext != nullptr ? 0 : 1;
}

UINT AddFileToCabinet(CabinetWorkArea& area, LPCWSTR sourceFile, LPCWSTR nameInCabinet) {
    if (area.compressorContext == nullptr) {
        return 1;
    }
    AnsiPath source;
    AnsiPath name;
    if (!ToAnsi(sourceFile, source.text, sizeof source.text) ||
        !ToAnsi(nameInCabinet, name.text, sizeof name.text)) {
        return 2;
    }
    const PFNFCISTATUS status = CabAnswerZero;
    const BOOL added = CompressorAddFile(area.compressorContext, source.text, name.text, FALSE,
                                         CabAnswerTrue, status, FciGetOpenInfo, tcompTYPE_MSZIP);
    return added ? 0 : 2;
}

bool CloseCompressor(CabinetWorkArea& area) {
    if (area.compressorContext == nullptr) {
        return false;
    }
    const PFNFCISTATUS status = CabAnswerZero;
    const BOOL flushed =
        CompressorFlushCabinet(area.compressorContext, FALSE, CabAnswerTrue, status);
    // Destroyed even after a failed flush, so that its scratch files go.
    const BOOL destroyed = DestroyCompressor(area.compressorContext);
    area.compressorContext = nullptr;
    return flushed == TRUE && destroyed == TRUE;
}

void DiscardCabinetFile(CabinetWorkArea& area) {
    CloseCompressor(area);
    if (area.cabinetParameters.szCabPath[0] != 0) {
        WCHAR wide[MAX_PATH + 1] = {};
        if (MultiByteToWideChar(CP_ACP, 0, area.cabinetParameters.szCabPath, -1, wide,
                                MAX_PATH + 1) != 0) {
            DeleteTemporaryFile(wide);
        } else {
            DeleteFileA(area.cabinetParameters.szCabPath);
        }
    }
    area.cabinetParameters.szCabPath[0] = 0;
}

void ReleaseCabinetWorkArea(CabinetWorkArea& area) {
    CloseCompressor(area);
    DiscardCabinetFile(area);
    RemoveExtractDirectory(area);
    if (area.oldCabinetFile) {
        DeleteTemporaryFile(area.oldCabinetFile->c_str());
        area.oldCabinetFile.reset();
    }
}
