/* A module of an earlier version than the library (6.10 against 6.50). */
#define QLTMSI_FILEVERSION 6, 10, 99, 99
#define QLTMSI_FILEVERSION_TEXT "6.10.99.99"
#define QLTMSI_PRODUCT_NAME "backup test module"
#define QLTMSI_FILE_DESCRIPTION "Earlier backup server"
#define QLTMSI_ORIGINAL_FILENAME "probe610.dll"
#define QLTMSI_STRING_LANGUAGE 1033
