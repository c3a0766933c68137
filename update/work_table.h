// The work table of the working copy: one row per file to pack into the
// library's next cabinet, keyed by the file's File key.
#pragma once

#include "cabinet/cabinet_work_area.h"
#include "platform/installer.h"

#include <string>

// Creates the (empty) work table; the Installer's result.
UINT CreateWorkTable(MSIHANDLE database);

// What the row of a key held before a write, so that a replacement that
// fails after queuing its file can take the write back.
struct WorkTableRowBefore {
    bool existed = false;
    std::basic_string<WCHAR> fullPath;
    std::basic_string<WCHAR> newName;
};

// Sets the row of `fileKey` to the new path and name, inserting it when the
// file has none yet, and counts the write in queuedFileCount. The Installer's
// result; `before` (when given) receives what the row held.
UINT WriteWorkTableRow(CabinetWorkArea& cabinet, MSIHANDLE database, LPCWSTR fileKey,
                       LPCWSTR newFilePath, LPCWSTR newFileName,
                       WorkTableRowBefore* before = nullptr);

// Puts the row of `fileKey` back as `before` describes it (removing a row
// the write inserted) and uncounts the write. The Installer's result.
UINT RevertWorkTableRow(CabinetWorkArea& cabinet, MSIHANDLE database, LPCWSTR fileKey,
                        const WorkTableRowBefore& before);

// Adds a row carried over from the previous cabinet: its name in the cabinet
// and the extracted file, with no new name. The Installer's result.
UINT ListCarriedFile(MSIHANDLE database, LPCWSTR name, LPCWSTR fullPath);
