// Database and view calls: MsiOpenDatabase, MsiDatabase*, MsiView*.
#include <msiquery.h>

#include <filesystem>

#include "api_support.h"
#include "column_type.h"
#include "handles.h"

using namespace winsys::msi;

namespace {

constexpr uintptr_t kPatchFileFlag = 32;

UINT openDatabase(const std::optional<std::string>& path, uintptr_t persist, const std::optional<std::string>& output,
                  MSIHANDLE* out) {
    if (!out) return ERROR_INVALID_PARAMETER;
    *out = 0;
    if (!path) return ERROR_INVALID_PARAMETER;
    OpenMode mode;
    std::string target = *path;
    if (output) {
        // Work on a copy at the output path; the source stays as it is.
        std::error_code ec;
        if (!std::filesystem::exists(*path, ec)) return ERROR_OPEN_FAILED;
        if (*output != *path) {
            std::filesystem::copy_file(*path, *output, std::filesystem::copy_options::overwrite_existing, ec);
            if (ec) return ERROR_OPEN_FAILED;
        }
        target = *output;
        mode = OpenMode::Transact;
    } else {
        switch (persist & ~kPatchFileFlag) {
        case 0: mode = OpenMode::ReadOnly; break;
        case 1: mode = OpenMode::Transact; break;
        case 2: mode = OpenMode::Direct; break;
        case 3: mode = OpenMode::Create; break;
        case 4: mode = OpenMode::CreateDirect; break;
        default: return ERROR_INVALID_PARAMETER;
        }
    }
    std::shared_ptr<Database> db;
    if (UINT r = Database::open(target, mode, &db, !output && (persist & kPatchFileFlag))) return r;
    *out = allocHandle(std::move(db));
    return ERROR_SUCCESS;
}

bool isModeValue(const void* p) { return reinterpret_cast<uintptr_t>(p) < 0x10000; }

UINT openView(MSIHANDLE hdb, std::u16string_view query, MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!out) return ERROR_INVALID_PARAMETER;
    auto db = handleAs<Database>(hdb);
    if (!db) return ERROR_INVALID_HANDLE;
    auto obj = std::make_shared<ViewObject>();
    obj->db = db;
    if (UINT r = View::open(db, query, &obj->view)) return r;
    *out = allocHandle(std::move(obj));
    return ERROR_SUCCESS;
}

UINT primaryKeys(MSIHANDLE hdb, const std::u16string& tableName, MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!out) return ERROR_INVALID_PARAMETER;
    auto db = handleAs<Database>(hdb);
    if (!db) return ERROR_INVALID_HANDLE;
    std::vector<std::u16string> keys;
    if (tableName == kStreamsTable || tableName == kStoragesTable || tableName == kTablesTable) {
        keys = {u"Name"};
    } else if (tableName == kColumnsTable) {
        keys = {u"Table", u"Number"};
    } else {
        UINT r;
        const Table* t = db->table(tableName, &r);
        if (!t) return r == ERROR_INVALID_TABLE ? ERROR_INVALID_TABLE : r;
        for (size_t k : t->keyColumns) keys.push_back(t->columns[k].name);
    }
    auto rec = std::make_shared<Record>(unsigned(keys.size()));
    rec->fields[0].kind = Field::Kind::String;
    rec->fields[0].text = tableName;
    for (size_t i = 0; i < keys.size(); ++i) {
        rec->fields[i + 1].kind = Field::Kind::String;
        rec->fields[i + 1].text = keys[i];
    }
    *out = allocHandle(std::move(rec));
    return ERROR_SUCCESS;
}

MSICONDITION isPersistent(MSIHANDLE hdb, const std::u16string& tableName) {
    std::lock_guard lock(apiLock());
    auto db = handleAs<Database>(hdb);
    if (!db) return MSICONDITION_ERROR;
    const Table* t = db->table(tableName);
    if (!t) return MSICONDITION_ERROR;
    return t->temporary ? MSICONDITION_FALSE : MSICONDITION_TRUE;
}

}  // namespace

extern "C" {

UINT WINAPI MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!path) return ERROR_INVALID_PARAMETER;
    auto native = nativePathOf(path);
    if (isModeValue(persist)) return openDatabase(native, reinterpret_cast<uintptr_t>(persist), std::nullopt, out);
    auto output = nativePathOf(persist);
    if (!output) return ERROR_OPEN_FAILED;
    return openDatabase(native, 0, output, out);
}

UINT WINAPI MsiOpenDatabaseA(LPCSTR path, LPCSTR persist, MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!path) return ERROR_INVALID_PARAMETER;
    auto native = nativePathOfNarrow(path);
    if (isModeValue(persist)) return openDatabase(native, reinterpret_cast<uintptr_t>(persist), std::nullopt, out);
    auto output = nativePathOfNarrow(persist);
    if (!output) return ERROR_OPEN_FAILED;
    return openDatabase(native, 0, output, out);
}

UINT WINAPI MsiDatabaseCommit(MSIHANDLE hdb) {
    std::lock_guard lock(apiLock());
    auto db = handleAs<Database>(hdb);
    if (!db) return ERROR_INVALID_HANDLE;
    return db->commit();
}

MSIDBSTATE WINAPI MsiGetDatabaseState(MSIHANDLE hdb) {
    std::lock_guard lock(apiLock());
    auto db = handleAs<Database>(hdb);
    if (!db) return MSIDBSTATE_ERROR;
    return db->writable() ? MSIDBSTATE_WRITE : MSIDBSTATE_READ;
}

UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE hdb, LPCWSTR query, MSIHANDLE* out) {
    if (!query) return ERROR_BAD_QUERY_SYNTAX;
    return openView(hdb, std::u16string_view(query), out);
}

UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE hdb, LPCSTR query, MSIHANDLE* out) {
    if (!query) return ERROR_BAD_QUERY_SYNTAX;
    return openView(hdb, wideOf(query), out);
}

UINT WINAPI MsiDatabaseGetPrimaryKeysW(MSIHANDLE hdb, LPCWSTR table, MSIHANDLE* out) {
    if (!table) return ERROR_INVALID_PARAMETER;
    return primaryKeys(hdb, wideOf(table), out);
}

UINT WINAPI MsiDatabaseGetPrimaryKeysA(MSIHANDLE hdb, LPCSTR table, MSIHANDLE* out) {
    if (!table) return ERROR_INVALID_PARAMETER;
    return primaryKeys(hdb, wideOf(table), out);
}

MSICONDITION WINAPI MsiDatabaseIsTablePersistentW(MSIHANDLE hdb, LPCWSTR table) {
    if (!table) return MSICONDITION_ERROR;
    return isPersistent(hdb, wideOf(table));
}

MSICONDITION WINAPI MsiDatabaseIsTablePersistentA(MSIHANDLE hdb, LPCSTR table) {
    if (!table) return MSICONDITION_ERROR;
    return isPersistent(hdb, wideOf(table));
}

UINT WINAPI MsiViewExecute(MSIHANDLE hview, MSIHANDLE hrec) {
    std::lock_guard lock(apiLock());
    auto v = handleAs<ViewObject>(hview);
    if (!v) return ERROR_INVALID_HANDLE;
    std::shared_ptr<Record> rec;
    if (hrec) {
        rec = handleAs<Record>(hrec);
        if (!rec) return ERROR_INVALID_HANDLE;
    }
    return v->view->execute(rec.get());
}

UINT WINAPI MsiViewFetch(MSIHANDLE hview, MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!out) return ERROR_INVALID_PARAMETER;
    *out = 0;
    auto v = handleAs<ViewObject>(hview);
    if (!v) return ERROR_INVALID_HANDLE;
    std::unique_ptr<Record> rec;
    if (UINT r = v->view->fetch(&rec)) return r;
    *out = allocHandle(std::shared_ptr<Record>(std::move(rec)));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewModify(MSIHANDLE hview, MSIMODIFY mode, MSIHANDLE hrec) {
    std::lock_guard lock(apiLock());
    auto v = handleAs<ViewObject>(hview);
    if (!v) return ERROR_INVALID_HANDLE;
    auto rec = handleAs<Record>(hrec);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (mode < MSIMODIFY_SEEK || mode > MSIMODIFY_VALIDATE_DELETE) return ERROR_FUNCTION_FAILED;
    return v->view->modify(ModifyMode(int(mode)), *rec);
}

UINT WINAPI MsiViewClose(MSIHANDLE hview) {
    std::lock_guard lock(apiLock());
    auto v = handleAs<ViewObject>(hview);
    if (!v) return ERROR_INVALID_HANDLE;
    return v->view->close();
}

UINT WINAPI MsiViewGetColumnInfo(MSIHANDLE hview, MSICOLINFO info, MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!out) return ERROR_INVALID_PARAMETER;
    if (info != MSICOLINFO_NAMES && info != MSICOLINFO_TYPES) return ERROR_INVALID_PARAMETER;
    auto v = handleAs<ViewObject>(hview);
    if (!v) return ERROR_INVALID_HANDLE;
    std::unique_ptr<Record> rec;
    if (UINT r = v->view->columnInfo(info == MSICOLINFO_TYPES, &rec)) return r;
    *out = allocHandle(std::shared_ptr<Record>(std::move(rec)));
    return ERROR_SUCCESS;
}

MSIDBERROR WINAPI MsiViewGetErrorW(MSIHANDLE hview, LPWSTR buffer, DWORD* count) {
    std::lock_guard lock(apiLock());
    if (!count) return MSIDBERROR_INVALIDARG;
    auto v = handleAs<ViewObject>(hview);
    if (!v) return MSIDBERROR_INVALIDARG;
    std::u16string column;
    int code = v->view->lastError(&column);
    if (copyOut(column, buffer, count) == ERROR_MORE_DATA) return MSIDBERROR_MOREDATA;
    return MSIDBERROR(code);
}

MSIHANDLE WINAPI MsiGetLastErrorRecord(void) { return 0; }
}
