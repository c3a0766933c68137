// The database engine: tables decoded from a package's streams, kept in
// memory with a keyed index, and written back on commit through the compound
// file layer (which keeps every change in memory until its own commit, so a
// database is transacted for free and a crash leaves the old file whole).
// A table is decoded the first time it is used, and a commit encodes again
// only the tables that changed: the others keep their streams as they are,
// which the string pool's stored reference counts make possible.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "column_index.h"
#include "row_store.h"
#include "storage/compound_file.h"
#include "string_pool.h"
#include "table_codec.h"

namespace winsys::msi {

struct Column {
    std::u16string name;
    uint16_t type = 0;
};

struct Table {
    std::u16string name;
    std::vector<Column> columns;
    std::vector<size_t> keyColumns;
    RowStore rows;  // by stored key cells: the order the format keeps
    StringPool* pool = nullptr;
    bool temporary = false;     // every column temporary: never written
    int holds = 0;
    bool loaded = true;
    cfb::EntryId streamEntry = 0;  // table stream still to decode, when !loaded
    bool hasStream = false;        // its stream in the file holds its rows
    // Rows or columns changed since loading or the last commit: the commit
    // encodes its stream again. Set by Database's row and column operations.
    bool changed = false;
    // Kept in step by the row operations of Database and by eraseRow; rows
    // changed any other way must clear it.
    ColumnIndexes indexes;

    Cells keyOf(CellView cells) const;
    std::optional<size_t> columnIndex(std::u16string_view column) const;
    size_t persistentColumnCount() const;
    Row* findRow(CellView key) { return rows.find(keyColumns, key); }
    const Row* findRow(CellView key) const { return rows.find(keyColumns, key); }
    bool hasRow(CellView key) const { return findRow(key) != nullptr; }
    // Adds a copy of a row as it is, nullptr when its key is taken: no checks,
    // and the column indexes are the caller's to update (Database::insertRow does).
    Row* addRow(CellView cells, bool temporary) { return rows.insert(keyColumns, cells, temporary); }
    // Removes a row without the checks and stream clean-up of deleteRow.
    void eraseRow(CellView key);
};

// Names the engine provides itself rather than storing as tables.
inline constexpr std::u16string_view kTablesTable = u"_Tables";
inline constexpr std::u16string_view kColumnsTable = u"_Columns";
inline constexpr std::u16string_view kStreamsTable = u"_Streams";
inline constexpr std::u16string_view kStoragesTable = u"_Storages";
inline constexpr std::u16string_view kSummaryStream = u"\005SummaryInformation";

enum class OpenMode { ReadOnly, Transact, Direct, Create, CreateDirect };

class Database {
public:
    // Windows Installer results: ERROR_OPEN_FAILED for a file that cannot be
    // opened, ERROR_INSTALL_PACKAGE_INVALID for one that is not a package,
    // ERROR_CREATE_FAILED when a new file cannot be made.
    // `patchFile`: the file is (or becomes) a patch; other packages then give
    // ERROR_OPEN_FAILED.
    static UINT open(const std::string& nativePath, OpenMode mode, std::shared_ptr<Database>* out,
                     bool patchFile = false);
    ~Database();

    bool writable() const { return mode_ != OpenMode::ReadOnly; }
    const std::string& path() const { return path_; }

    StringPool pool;

    // A user table by name, rows loaded; nullptr when absent. *error gets
    // ERROR_FUNCTION_FAILED when its stream does not decode.
    Table* table(std::u16string_view name, UINT* error = nullptr);
    bool hasTable(std::u16string_view name) const { return tables_.count(std::u16string(name)) != 0; }
    // User tables in the order _Tables lists them (by name id).
    std::vector<std::u16string> tableNames() const;

    // Changes whenever a table is created or dropped or gains a column, so
    // prepared views know when to look their tables up again.
    uint64_t schemaVersion() const { return schemaVersion_; }

    UINT createTable(Table table);
    UINT dropTable(std::u16string_view name);
    UINT addColumn(Table& table, Column column);

    // --- rows ---
    UINT insertRow(Table& table, Cells cells, bool temporary);
    // Replaces the non-key cells of the row with `key`.
    UINT updateRow(Table& table, const Cells& key, const Cells& cells);
    UINT deleteRow(Table& table, const Cells& key);

    // --- streams at the root of the package (rows of _Streams) ---
    std::vector<std::u16string> streamNames() const;
    std::vector<std::u16string> storageNames() const;
    std::shared_ptr<const cfb::ByteSource> readStream(std::u16string_view name) const;
    UINT writeStream(std::u16string_view name, std::shared_ptr<const cfb::ByteSource> data);
    UINT removeStream(std::u16string_view name);
    UINT writeStorage(std::u16string_view name, const std::string& compoundFilePath);
    UINT removeStorage(std::u16string_view name);

    // Name of the stream that holds an OBJECT cell of `row`.
    std::u16string objectStreamName(const Table& table, CellView row) const;

    UINT commit();

    // The file itself, for readers of its sub-storages (transforms kept inside).
    const cfb::CompoundFile& compoundFile() const { return *file_; }

private:
    Database() = default;
    UINT load();
    UINT loadRows(Table& table);
    // Called before the first change to a table's rows or columns: from then
    // on its references count from its rows, not from the stored counts.
    void markChanged(Table& table);
    // The reference count of each string id the commit writes (`refs`), and
    // the part of it held by table streams (`tableRefs`): unchanged tables'
    // share from the stored counts, changed tables counted from their rows.
    // False when the stored counts cannot be trusted; every table must then
    // be counted.
    bool countReferences(const std::vector<Table*>& persistent, std::vector<uint32_t>* refs,
                         std::vector<uint32_t>* tableRefs) const;
    cfb::CompoundFile& file() { return *file_; }

    std::string path_;
    OpenMode mode_ = OpenMode::ReadOnly;
    std::unique_ptr<cfb::CompoundFile> file_;
    std::map<std::u16string, Table, std::less<>> tables_;
    std::set<std::u16string> droppedStreams_;  // table streams to remove at commit
    std::vector<std::unique_ptr<cfb::CompoundFile>> keepAlive_;  // sources of copied storages
    bool wideRefs_ = false;
    // Per string id, the references held by the streams of tables that have
    // not changed since loading or the last commit, derived from the counts
    // the file stores. Ids whose stored count was saturated (0xFFFF) are in
    // saturated_: their true count is unknown, only a lower bound.
    std::vector<uint32_t> unchangedRefs_;
    std::set<uint32_t> saturated_;
    bool refsTrusted_ = true;  // the stored counts added up so far
    uint64_t schemaVersion_ = 1;
    bool committed_ = false;
};

}  // namespace winsys::msi
