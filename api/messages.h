// The library's messages: string-table numbers recorded at failure sites,
// and loading a recorded message's text.
#pragma once

#include "api/patch_context.h"

enum MessageId : LONG {
    kMessageInvalidHandle = 1,
    kMessageInvalidParameter = 2,
    kMessageProductNotOpened = 3,
    kMessageWorkingCopy = 4,
    kMessageArchiveCreate = 5,
    kMessageOpenDatabase = 6,
    kMessageCommit = 7,
    kMessageInsertStream = 8,
    kMessageFileNotFound = 9,
    kMessageArchiveFile = 10,
    kMessageUpdateFile = 11,
    kMessageUnpatchTransform = 12,
    kMessageBackupTransform = 13,
    kMessageUserTransform = 14,
    kMessagePackageGuid = 15,
    kMessagePackageMismatch = 16,
    kMessageArchivePatchFile = 17,
    kMessageCommitProgress = 18,
};

// The narrow text of the recorded message, loaded anew into the context's
// message buffer; null when no message is recorded.
const char* LoadMessageText(PatchContext& context);
