// The per-package state of cabinet work: the compressor and its parameters
// while a new cabinet is built, and the temporary files and directory of the
// previous cabinet's extraction.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>

// Until the cabinet SDK declarations are part of the build, the compressor's
// context, parameters and error record are held in stand-ins that keep the
// SDK's field names for the parts the library touches.
struct CabinetParameters {
    std::array<char, 256> szCabPath{};  // narrow path of the cabinet being built
};

struct CabinetWorkArea {
    void* compressorContext = nullptr;
    CabinetParameters cabinetParameters{};
    DWORD queuedFileCount = 0;
    std::array<WCHAR, MAX_PATH + 1> extractDirectory{};
    std::optional<std::basic_string<WCHAR>> oldCabinetFile;
};

void InitCabinetWorkArea(CabinetWorkArea& area);
// Ends a compression still open and deletes the cabinet file being built.
void DiscardCabinetFile(CabinetWorkArea& area);
// Everything DiscardCabinetFile does, then removes the extraction directory
// with the files in it and deletes the old cabinet file.
void ReleaseCabinetWorkArea(CabinetWorkArea& area);
