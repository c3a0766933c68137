/* The library's version, for the Windows version resource and for the
 * resources winsys carries in the Linux library. Restores compare it between
 * copies of the library, so it changes only with a release. */
#ifndef QLTMSI_RESOURCES_VERSION_H
#define QLTMSI_RESOURCES_VERSION_H

#define QLTMSI_VERSION_MAJOR 6
#define QLTMSI_VERSION_MINOR 50
#define QLTMSI_VERSION_BUILD 0
#define QLTMSI_VERSION_REVISION 0
#define QLTMSI_FILEVERSION QLTMSI_VERSION_MAJOR, QLTMSI_VERSION_MINOR, QLTMSI_VERSION_BUILD, QLTMSI_VERSION_REVISION
#define QLTMSI_FILEVERSION_TEXT "6.50.0.0"
#define QLTMSI_PRODUCT_NAME "qltmsi"
#define QLTMSI_FILE_DESCRIPTION "Installed package file updater"
#define QLTMSI_ORIGINAL_FILENAME "qltmsi32.dll"
#define QLTMSI_STRING_LANGUAGE 1033

#endif
