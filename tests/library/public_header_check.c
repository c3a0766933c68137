/* The public header as a C program sees it: self-contained, and the types
 * its functions are called with. */
#include <qltmsi.h>

#include <stddef.h>

static void QLTMSI_CALL IgnoreProgress(int code, void* data) {
    (void)code;
    (void)data;
}

/* Called from the C++ test, so that a C caller's view links as well. */
int PublicHeaderRoundTrip(void) {
    QLTMSI_HANDLE handle = QLTMsiOpen();
    QLTMSI_PROGRESS_CALLBACK callback = IgnoreProgress;
    QLTMSI_DWORD size = 0;
    const QLTMSI_WCHAR product[] = u"{6F4A1D2C-1111-2222-3333-444455556666}";
    int ok = handle >= 0;
    ok = ok && QLTMsiOpenDatabase(handle, product, NULL, NULL, NULL, callback) != QLTMSI_SUCCESS;
    ok = ok && QLTMsiGetBackupStringA(handle, NULL, &size) == QLTMSI_ERROR_NO_BACKUP_STRING;
    ok = ok && QLTMsiCloseDatabase(handle) == QLTMSI_ERROR_NO_DATABASE;
    ok = ok && QLTMsiClose(handle) == QLTMSI_SUCCESS;
    return ok;
}
