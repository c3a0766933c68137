// The record of one opened package: its database, the installed package's
// path, the temporary files made for it, the cabinet work, the last recorded
// message and the caller's progress function.
#pragma once

#include "cabinet/cabinet_work_area.h"
#include "platform/installer.h"
#include "platform/package_lock.h"
#include "platform/wide_text.h"

#include <qltmsi.h>

#include <array>
#include <optional>
#include <string>

using ProgressCallback = QLTMSI_PROGRESS_CALLBACK;

inline constexpr size_t kMessageTextChars = 300;
inline constexpr size_t kBackupStringChars = 360;

// One more step of a long operation is done; the caller's progress function,
// when there is one, hears of it.
inline void TickProgress(ProgressCallback progress) {
    if (progress != nullptr) {
        progress(QLTMSI_PROGRESS_TICK, nullptr);
    }
}

// The undo record a commit made, until the package it describes is in place:
// a commit that fails after the record takes it back. Entry 0 when none.
struct MadeUndoRecord {
    DWORD entry = 0;
    WidePath transform{};
    WidePath cabCacheCopy{};
};

struct PatchContext {
    LONG updateSequence = 0;
    LONG updateDiskId = 0;
    MSIHANDLE database = 0;
    std::optional<WideString> productCode;
    std::optional<WideString> transformPath;
    WidePath packagePath{};
    WidePath workingCopyPath{};
    WidePath reverseTransformPath{};
    WidePath newCabCachePath{};
    WidePath cabCachePath{};
    // The commit left cabCachePath named by the package, because it wrote
    // no cabinet of its own: it must outlive the commit.
    bool cabCacheKept = false;
    // cabCachePath names a cab cache that the carry-over moved out of the
    // working copy; the installed package holds the cabinet itself until a
    // commit makes it name this one.
    bool cabCacheMovedOut = false;
    std::array<char, kMessageTextChars> messageText{};
    std::optional<WideString> backupString;  // at most kBackupStringChars
    MadeUndoRecord madeUndoRecord;
    CabinetWorkArea cabinet;
    LONG lastMessageId = 0;
    DWORD changesPending = 0;
    ProgressCallback progressCallback = nullptr;
    // Held from the open to the release: no other process writes the
    // installed package meanwhile.
    PackageLock packageLock;
    // The installed package's bytes as the working copy took them; a commit
    // refuses to write over a package that has changed since.
    // Empty when no open took note of them.
    WidePath packageFingerprint{};
};

void InitContext(PatchContext& context);

// Closes the database and deletes the temporary files; returns the result of
// closing the database, or 6 (message 6 recorded) when none was open.
UINT ReleaseContext(PatchContext& context);

// ReleaseContext, then the cabinet work area's directory and files.
void DestroyContext(PatchContext& context);

// Closes the database and deletes the working copy and the new cab cache;
// true when the working copy was deleted or there was none.
bool DiscardWorkingFiles(PatchContext& context);

void DiscardReverseTransform(PatchContext& context);

// True when the installed package still holds the bytes the working copy was
// taken from, or when no open took note of them.
bool InstalledPackageUnchanged(const PatchContext& context);
