// The work table of the working copy: one row per file to pack into the
// library's next cabinet, keyed by the file's File key.
#pragma once

#include "cabinet/cabinet_work_area.h"
#include "platform/installer.h"

inline constexpr LPCWSTR kWorkTableName = TEXT("QuilletTempTable");

// Creates the (empty) work table; the Installer's result.
UINT CreateWorkTable(MSIHANDLE database);

// Sets the row of `fileKey` to the new path and name, inserting it when the
// file has none yet, and counts the write in queuedFileCount. The Installer's
// result.
UINT WriteWorkTableRow(CabinetWorkArea& cabinet, MSIHANDLE database, LPCWSTR fileKey,
                       LPCWSTR newFilePath, LPCWSTR newFileName);

// Adds a row carried over from the previous cabinet: its name in the cabinet
// and the extracted file, with no new name. The Installer's result.
UINT ListCarriedFile(MSIHANDLE database, LPCWSTR name, LPCWSTR fullPath);
