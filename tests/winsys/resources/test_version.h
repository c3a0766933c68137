/* Version of the test module, in the form of resources/version.h. */
#define QLTMSI_FILEVERSION 1, 2, 3, 4
#define QLTMSI_FILEVERSION_TEXT "1.2.3.4"
#define QLTMSI_PRODUCT_NAME "winsys test module"
#define QLTMSI_FILE_DESCRIPTION "Resources test module"
#define QLTMSI_ORIGINAL_FILENAME "testmodule.dll"
#define QLTMSI_STRING_LANGUAGE 1033
