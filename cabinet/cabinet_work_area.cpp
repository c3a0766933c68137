// Setting up and clearing away the cabinet work area of a patch context.
#include "cabinet/cabinet_work_area.h"

#include "platform/platform_calls.h"

namespace {

// Without a compressor bound yet, closing one only forgets it.
void CloseCompressor(CabinetWorkArea& area) {
    area.compressorContext = nullptr;
}

// Deletes the files directly inside the directory, then the directory;
// subdirectories are left alone and failures are skipped.
void RemoveExtractDirectory(CabinetWorkArea& area) {
    const std::basic_string<WCHAR> directory = area.extractDirectory.data();
    area.extractDirectory[0] = 0;
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
                platformCalls.deleteFile((directory + TEXT("\\") + name).c_str());
            }
        } while (platformCalls.findNextFile(find, &entry));
        FindClose(find);
    }
    platformCalls.removeDirectory(directory.c_str());
}

}  // namespace

void InitCabinetWorkArea(CabinetWorkArea& area) {
    area.compressorContext = nullptr;
    area.cabinetParameters.szCabPath[0] = 0;
    area.queuedFileCount = 0;
    area.extractDirectory[0] = 0;
    area.oldCabinetFile.reset();
}

void DiscardCabinetFile(CabinetWorkArea& area) {
    CloseCompressor(area);
    if (area.cabinetParameters.szCabPath[0] != 0) {
        DeleteFileA(area.cabinetParameters.szCabPath);
    }
    area.cabinetParameters.szCabPath[0] = 0;
}

void ReleaseCabinetWorkArea(CabinetWorkArea& area) {
    CloseCompressor(area);
    DiscardCabinetFile(area);
    RemoveExtractDirectory(area);
    if (area.oldCabinetFile) {
        platformCalls.deleteFile(area.oldCabinetFile->c_str());
        area.oldCabinetFile.reset();
    }
}
