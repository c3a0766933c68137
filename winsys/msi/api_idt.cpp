// MsiDatabaseExport and MsiDatabaseImport: tables to and from idt files.
#include <msiquery.h>

#include <fstream>
#include <iterator>

#include "api_support.h"
#include "codepage.h"
#include "handles.h"
#include "idt.h"
#include "kernel/text.h"

using namespace winsys::msi;

namespace {

// Archive files are in the database's code page; a neutral database uses the
// host's ANSI code page, which is UTF-8 here.
unsigned fileCodepage(const Database& db) { return db.pool.codepage ? db.pool.codepage : kCodepageUtf8; }

UINT exportFile(MSIHANDLE hdb, const std::u16string& table, const std::u16string& folder, const std::u16string& file) {
    std::lock_guard lock(apiLock());
    auto db = handleAs<Database>(hdb);
    if (!db) return ERROR_INVALID_HANDLE;
    if (table.empty() || folder.empty() || file.empty()) return ERROR_INVALID_PARAMETER;
    auto dir = nativePathOf(folder);
    if (!dir) return ERROR_BAD_PATHNAME;
    std::u16string text;
    if (UINT r = exportTable(*db, table, &text)) return r == ERROR_INVALID_TABLE ? ERROR_FUNCTION_FAILED : r;
    auto bytes = encodeCodepage(fileCodepage(*db), text);
    if (!bytes) return ERROR_FUNCTION_FAILED;
    std::ofstream out(*dir + "/" + winsys::text::toUtf8(file), std::ios::binary);
    if (!out) return ERROR_OPEN_FAILED;
    out.write(bytes->data(), std::streamsize(bytes->size()));
    return out ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

UINT importFile(MSIHANDLE hdb, const std::u16string& folder, const std::u16string& file) {
    std::lock_guard lock(apiLock());
    auto db = handleAs<Database>(hdb);
    if (!db) return ERROR_INVALID_HANDLE;
    if (folder.empty() || file.empty()) return ERROR_INVALID_PARAMETER;
    auto dir = nativePathOf(folder);
    if (!dir) return ERROR_BAD_PATHNAME;
    std::ifstream in(*dir + "/" + winsys::text::toUtf8(file), std::ios::binary);
    if (!in) return ERROR_OPEN_FAILED;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return importTable(*db, decodeCodepage(fileCodepage(*db), bytes), *dir);
}

}  // namespace

extern "C" {

UINT WINAPI MsiDatabaseExportW(MSIHANDLE hdb, LPCWSTR table, LPCWSTR folder, LPCWSTR file) {
    if (!table || !folder || !file) return ERROR_INVALID_PARAMETER;
    return exportFile(hdb, table, folder, file);
}

UINT WINAPI MsiDatabaseExportA(MSIHANDLE hdb, LPCSTR table, LPCSTR folder, LPCSTR file) {
    if (!table || !folder || !file) return ERROR_INVALID_PARAMETER;
    return exportFile(hdb, wideOf(table), wideOf(folder), wideOf(file));
}

UINT WINAPI MsiDatabaseImportW(MSIHANDLE hdb, LPCWSTR folder, LPCWSTR file) {
    if (!folder || !file) return ERROR_INVALID_PARAMETER;
    return importFile(hdb, folder, file);
}

UINT WINAPI MsiDatabaseImportA(MSIHANDLE hdb, LPCSTR folder, LPCSTR file) {
    if (!folder || !file) return ERROR_INVALID_PARAMETER;
    return importFile(hdb, wideOf(folder), wideOf(file));
}
}
