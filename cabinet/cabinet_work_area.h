// The per-package state of cabinet work: the compressor and its parameters
// while a new cabinet is built, and the temporary files and directory of the
// previous cabinet's extraction.
#pragma once

#include "cabinet/cabinet_callbacks.h"

#include <windows.h>

#include <fci.h>

#include <array>
#include <optional>
#include <string>

struct CabinetWorkArea {
    HFCI compressorContext = nullptr;  // null while no cabinet is being built
    CCAB cabinetParameters{};          // szCabPath: the cabinet file being built
    ERF compressorError{};
    DWORD queuedFileCount = 0;  // work-table rows written by updates
    std::array<WCHAR, MAX_PATH + 1> extractDirectory{};
    // What the extraction wrote into extractDirectory, in cabinet order.
    ExtractedFiles extractedFiles;
    std::optional<std::basic_string<WCHAR>> oldCabinetFile;
};

void InitCabinetWorkArea(CabinetWorkArea& area);

// Starts a cabinet that the flush in CloseCompressor writes to `cabinetFile`.
// 0 when a compression context was made; 1 when not, also when the path's
// ANSI form does not fit the cabinet parameters.
UINT OpenCompressor(CabinetWorkArea& area, LPCWSTR cabinetFile);

// Adds a file, MSZIP-compressed, under `nameInCabinet`. 0 when added, 1 with
// no compression context, 2 when the add failed (a name whose ANSI form is
// too long included).
UINT AddFileToCabinet(CabinetWorkArea& area, LPCWSTR sourceFile, LPCWSTR nameInCabinet);

// Flushes the cabinet into its file and destroys the compression context.
// True only when both succeeded, so that the cabinet file is complete; false
// without a context.
bool CloseCompressor(CabinetWorkArea& area);

// Ends a compression still open and deletes the cabinet file being built.
void DiscardCabinetFile(CabinetWorkArea& area);
// Everything DiscardCabinetFile does, then removes the extraction directory
// with the files in it and deletes the old cabinet file.
void ReleaseCabinetWorkArea(CabinetWorkArea& area);
