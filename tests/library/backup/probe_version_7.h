/* A module of a later version than the library. */
#define QLTMSI_FILEVERSION 7, 0, 0, 0
#define QLTMSI_FILEVERSION_TEXT "7.0.0.0"
#define QLTMSI_PRODUCT_NAME "backup test module"
#define QLTMSI_FILE_DESCRIPTION "Later backup server"
#define QLTMSI_ORIGINAL_FILENAME "probe7.dll"
#define QLTMSI_STRING_LANGUAGE 1033
