// Helpers for the transform tests: databases described as plain models and
// written through the Installer API, and a canonical dump of a database
// (schema, rows in key-text order, every stream's bytes) that compares two
// databases whatever their string ids.
#pragma once

#include <msidefs.h>
#include <msiquery.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "winsys/msi/msi_test_util.h"
#include "msi/codepage.h"
#include "msi/column_type.h"
#include "msi/database.h"

namespace trtest {

// Scratch files and wide text come from the Installer API tests' helpers.
using msitest::n;
using msitest::readFile;
using msitest::ScratchDir;
using msitest::w;
using msitest::writeFile;

enum class Kind { String, Short, Long, Object };

struct ColumnDef {
    std::string name;
    Kind kind = Kind::String;
    bool nullable = false;
    bool key = false;
};

using Value = std::optional<std::string>;  // text, decimal integer or object bytes

struct TableModel {
    std::vector<ColumnDef> columns;
    std::map<std::string, std::vector<Value>> rows;  // by key text
};

struct Model {
    std::map<std::string, TableModel> tables;
    std::map<std::string, std::string> streams;  // _Streams rows
};

inline std::string keyOf(const TableModel& t, const std::vector<Value>& row) {
    std::string k;
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].key) k += *row[i] + '\x01';
    return k;
}

inline std::string sqlType(const ColumnDef& c) {
    std::string t;
    switch (c.kind) {
    case Kind::String: t = "CHAR(0)"; break;
    case Kind::Short: t = "SHORT"; break;
    case Kind::Long: t = "LONG"; break;
    case Kind::Object: t = "OBJECT"; break;
    }
    return c.nullable ? t : t + " NOT NULL";
}

inline UINT run(MSIHANDLE db, const std::string& sql, MSIHANDLE params = 0) {
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewA(db, sql.c_str(), &view);
    if (r) return r;
    r = MsiViewExecute(view, params);
    MsiViewClose(view);
    MsiCloseHandle(view);
    return r;
}

// Writes `m` as a new package at `path`; blobs go through scratch files in `dir`.
inline bool writeModel(const Model& m, const std::string& path, const std::string& dir, unsigned codepage = 0) {
    std::filesystem::remove(path);
    MSIHANDLE db = 0;
    if (MsiOpenDatabaseW(w(path).c_str(), MSIDBOPEN_CREATE, &db)) return false;
    bool ok = true;
    std::string blob = dir + "/blob.tmp";
    if (codepage) {
        std::string idt = "\r\n\r\n" + std::to_string(codepage) + "\t_ForceCodepage\r\n";
        writeFile(dir + "/cp.idt", idt);
        ok = ok && MsiDatabaseImportA(db, dir.c_str(), "cp.idt") == 0;
    }
    for (const auto& [name, t] : m.tables) {
        std::string sql = "CREATE TABLE `" + name + "` (";
        std::string keys, cols, marks;
        for (const auto& c : t.columns) {
            sql += "`" + c.name + "` " + sqlType(c) + ", ";
            if (c.key) keys += (keys.empty() ? "`" : ", `") + c.name + "`";
            cols += (cols.empty() ? "`" : ", `") + c.name + "`";
            marks += marks.empty() ? "?" : ", ?";
        }
        sql.resize(sql.size() - 2);
        ok = ok && run(db, sql + " PRIMARY KEY " + keys + ")") == 0;
        MSIHANDLE view = 0;
        ok = ok && MsiDatabaseOpenViewA(db, ("INSERT INTO `" + name + "` (" + cols + ") VALUES (" + marks + ")").c_str(), &view) == 0;
        MSIHANDLE rec = MsiCreateRecord(UINT(t.columns.size()));
        for (const auto& [key, row] : t.rows) {
            MsiRecordClearData(rec);
            for (size_t i = 0; i < row.size(); ++i) {
                if (!row[i]) continue;
                UINT f = UINT(i + 1);
                switch (t.columns[i].kind) {
                case Kind::String: MsiRecordSetStringA(rec, f, row[i]->c_str()); break;
                case Kind::Short:
                case Kind::Long: MsiRecordSetInteger(rec, f, std::stoi(*row[i])); break;
                case Kind::Object:
                    writeFile(blob, *row[i]);
                    MsiRecordSetStreamA(rec, f, blob.c_str());
                    break;
                }
            }
            ok = ok && MsiViewExecute(view, rec) == 0;
            MsiViewClose(view);
        }
        MsiCloseHandle(rec);
        MsiCloseHandle(view);
    }
    for (const auto& [name, data] : m.streams) {
        MSIHANDLE rec = MsiCreateRecord(2);
        writeFile(blob, data);
        MsiRecordSetStringA(rec, 1, name.c_str());
        MsiRecordSetStreamA(rec, 2, blob.c_str());
        ok = ok && run(db, "INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", rec) == 0;
        MsiCloseHandle(rec);
    }
    ok = ok && MsiDatabaseCommit(db) == 0;
    MsiCloseHandle(db);
    return ok;
}

inline std::string readAll(const std::shared_ptr<const winsys::cfb::ByteSource>& s) {
    if (!s) return "<missing>";
    std::string out(s->size(), '\0');
    size_t done = 0;
    if (!out.empty()) s->readAt(0, out.data(), out.size(), &done);
    out.resize(done);
    return out;
}

inline std::string digest(const std::string& bytes) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ULL;
    return "<" + std::to_string(bytes.size()) + " bytes " + std::to_string(h) + ">";
}

// Lines of `a` missing from `b` and the other way round, for failure messages.
inline std::string lineDiff(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::multiset<std::string> out;
        size_t start = 0;
        while (start < s.size()) {
            size_t end = s.find('\n', start);
            out.insert(s.substr(start, end - start));
            start = end + 1;
        }
        return out;
    };
    auto x = split(a), y = split(b);
    std::string out;
    for (auto& l : x)
        if (!y.count(l)) out += "- " + l + "\n";
    for (auto& l : y)
        if (!x.count(l)) out += "+ " + l + "\n";
    return out.substr(0, 3000);
}

// Schema, rows and streams of a database as text; rows sorted by their text.
inline std::string canonical(winsys::msi::Database& db) {
    using namespace winsys::msi;
    std::string out = "codepage " + std::to_string(db.pool.codepage) + "\n";
    auto names = db.tableNames();
    std::sort(names.begin(), names.end());
    auto text = [](std::u16string_view s) { return *encodeCodepage(kCodepageUtf8, s); };
    for (const auto& name : names) {
        Table* t = db.table(name);
        if (!t) return "<table " + text(name) + " unreadable>";
        out += "table " + text(name) + "\n";
        for (const auto& c : t->columns) out += "  column " + text(c.name) + " " + columnTypeText(c.type) + "\n";
        std::vector<std::string> rows;
        for (const auto& row : t->rows) {
            std::string line = " ";
            for (size_t i = 0; i < t->columns.size(); ++i) {
                uint16_t type = t->columns[i].type;
                uint32_t v = row.cells[i];
                line += "|";
                if (!v) line += "<null>";
                else if (isStringType(type)) line += text(db.pool.text(v));
                else if (isBinaryType(type)) line += digest(readAll(db.readStream(db.objectStreamName(*t, row.cells))));
                else line += std::to_string(decodeInteger(type, v));
            }
            rows.push_back(line);
        }
        std::sort(rows.begin(), rows.end());
        for (auto& r : rows) out += r + "\n";
    }
    auto streams = db.streamNames();
    std::sort(streams.begin(), streams.end());
    for (const auto& s : streams)
        if (!s.empty() && s[0] >= 0x20) out += "stream " + text(s) + " " + digest(readAll(db.readStream(s))) + "\n";
    return out;
}

inline std::string canonical(const std::string& path) {
    std::shared_ptr<winsys::msi::Database> db;
    if (winsys::msi::Database::open(path, winsys::msi::OpenMode::ReadOnly, &db)) return "<open failed>";
    return canonical(*db);
}

}  // namespace trtest
