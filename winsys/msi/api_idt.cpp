// MsiDatabaseExport and MsiDatabaseImport: tables to and from idt files.
#include <msiquery.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <vector>

#include "api_support.h"
#include "codepage.h"
#include "column_type.h"
#include "handles.h"
#include "idt.h"
#include "kernel/text.h"

using namespace winsys::msi;

namespace {

// Archive files are in the database's code page; a neutral database uses the
// host's ANSI code page, which is UTF-8 here.
unsigned fileCodepage(const Database& db) { return db.pool.codepage ? db.pool.codepage : kCodepageUtf8; }

// The OBJECT cells of an exported table go beside it, one file each in
// <folder>/<Table>/, under the name its idt cell gives, as Windows writes
// them and MsiDatabaseImport reads them back. A name that would leave that
// folder fails the export.
UINT exportObjects(Database& db, std::u16string_view name, const std::string& folder) {
    if (name == u"_ForceCodepage" || name == u"_SummaryInformation" || !db.hasTable(name)) return ERROR_SUCCESS;
    UINT r = ERROR_SUCCESS;
    Table* t = db.table(name, &r);
    if (!t) return r;
    std::vector<size_t> objectColumns;
    for (size_t c = 0; c < t->columns.size(); ++c)
        if (isBinaryType(t->columns[c].type)) objectColumns.push_back(c);
    if (objectColumns.empty()) return ERROR_SUCCESS;
    const std::string tableFolder = folder + "/" + winsys::text::toUtf8(t->name);
    bool made = false;
    for (const auto& row : t->rows) {
        for (size_t c : objectColumns) {
            if (!row.cells[c]) continue;
            const std::u16string stream = db.objectStreamName(*t, row.cells);
            if (stream.find(u'/') != std::u16string::npos || stream.find(u'\\') != std::u16string::npos ||
                stream == u"." || stream == u"..")
                return ERROR_FUNCTION_FAILED;
            auto source = db.readStream(stream);
            if (!source) return ERROR_FUNCTION_FAILED;
            if (!made && mkdir(tableFolder.c_str(), 0777) != 0 && errno != EEXIST) return ERROR_OPEN_FAILED;
            made = true;
            std::ofstream out(tableFolder + "/" + winsys::text::toUtf8(stream), std::ios::binary);
            if (!out) return ERROR_OPEN_FAILED;
            std::vector<char> buffer(65536);
            for (uint64_t at = 0; at < source->size();) {
                size_t done = 0;
                const size_t want = size_t(std::min<uint64_t>(buffer.size(), source->size() - at));
                if (FAILED(source->readAt(at, reinterpret_cast<uint8_t*>(buffer.data()), want, &done)) || done == 0)
                    return ERROR_FUNCTION_FAILED;
                out.write(buffer.data(), std::streamsize(done));
                at += done;
            }
            out.close();
            if (!out) return ERROR_WRITE_FAULT;
        }
    }
    return ERROR_SUCCESS;
}

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
    out.close();
    if (!out) return ERROR_FUNCTION_FAILED;
    return exportObjects(*db, table, *dir);
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
