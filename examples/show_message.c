/* The smallest program on the installed library: takes a handle, prints the
 * text the library gives for a failed open of a product that is not
 * installed, and gives the handle back. */
#include <stdio.h>

#include <qltmsi.h>

int main(void) {
    static const QLTMSI_WCHAR unknownProduct[] = {'{', '0', '0', '0', '0', '0', '0', '0', '0',
                                                  '-', '0', '0', '0', '0', '-', '0', '0', '0',
                                                  '0', '-', '0', '0', '0', '0', '-', '0', '0',
                                                  '0', '0', '0', '0', '0', '0', '0', '0', '0',
                                                  '0', '}', 0};
    QLTMSI_HANDLE handle = QLTMsiOpen();
    if (handle == QLTMSI_HANDLE_ALREADY_OPEN) {
        fputs("no handle\n", stderr);
        return 1;
    }
    QLTMSI_STATUS status = QLTMsiOpenDatabase(handle, unknownProduct, NULL, NULL, NULL, NULL);
    const char* text = QLTMsiGetLastErrorStrA(handle);
    printf("status %u: %s\n", (unsigned)status, text ? text : "(no message)");
    QLTMsiClose(handle);
    return status == QLTMSI_ERROR_UNKNOWN_PRODUCT ? 0 : 1;
}
