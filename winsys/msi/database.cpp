// Loading, changing and committing a database.
#include "database.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "column_type.h"
#include "stream_name.h"

namespace winsys::msi {
namespace {

constexpr uint16_t kNameType = 0x2D40;     // s64, key
constexpr uint16_t kNumberType = 0x2502;   // i2, key
constexpr uint16_t kColNameType = 0x0D40;  // s64
constexpr uint16_t kColTypeType = 0x0502;  // i2

// Root class ids of packages, transforms and patches.
bool isInstallerClass(const GUID& g) {
    static constexpr uint8_t tail[8] = {0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    return (g.Data1 == 0x000C1084 || g.Data1 == 0x000C1082 || g.Data1 == 0x000C1086) && g.Data2 == 0 &&
           g.Data3 == 0 && std::memcmp(g.Data4, tail, 8) == 0;
}

GUID packageClass(bool patch) {
    GUID g{};
    g.Data1 = patch ? 0x000C1086 : 0x000C1084;
    g.Data4[0] = 0xC0;
    g.Data4[7] = 0x46;
    return g;
}

// Plain names of streams that are not packed: the summary information and
// other property sets start with a control character.
std::u16string storedName(std::u16string_view name, bool isTable) {
    if (!isTable && !name.empty() && name[0] < 0x20) return std::u16string(name);
    return encodeStreamName(name, isTable);
}

// Calls `use` with every string id a table's stream holds: the string cells
// of its persistent columns in its persistent rows.
template <typename Use>
void forEachStoredString(const Table& t, Use use) {
    std::vector<size_t> strings;
    for (size_t c = 0; c < t.columns.size(); ++c)
        if (isStringType(t.columns[c].type) && !isTemporaryType(t.columns[c].type)) strings.push_back(c);
    if (strings.empty()) return;
    for (const Row& row : t.rows) {
        if (row.temporary) continue;
        for (size_t c : strings)
            if (row.cells[c]) use(row.cells[c]);
    }
}

void countStrings(const Table& t, std::vector<uint32_t>* refs) {
    forEachStoredString(t, [&](uint32_t id) {
        if (id >= refs->size()) refs->resize(id + 1, 0);
        ++(*refs)[id];
    });
}

// References from the rows of _Tables and _Columns.
void countSchemaStrings(const std::vector<Table*>& persistent, const StringPool& pool, std::vector<uint32_t>* refs) {
    auto add = [&](uint32_t id) {
        if (id >= refs->size()) refs->resize(id + 1, 0);
        ++(*refs)[id];
    };
    for (const Table* t : persistent) {
        uint32_t nameId = *pool.find(t->name);
        add(nameId);
        for (const Column& c : t->columns) {
            if (isTemporaryType(c.type)) continue;
            add(nameId);
            add(*pool.find(c.name));
        }
    }
}

// The encoded _StringData as the pieces it was encoded apart in: runs of the
// bytes the pool read, which are not copied, and the strings encoded anew.
class StringDataSource final : public cfb::ByteSource {
public:
    StringDataSource(std::shared_ptr<const std::vector<uint8_t>> stored, std::string fresh,
                     std::vector<EncodedPool::Piece> pieces)
        : stored_(std::move(stored)), fresh_(std::move(fresh)), pieces_(std::move(pieces)) {
        for (const auto& p : pieces_) {
            starts_.push_back(size_);
            size_ += p.length;
        }
    }
    uint64_t size() const override { return size_; }
    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const override {
        *done = 0;
        if (offset >= size_) return S_OK;
        count = size_t(std::min<uint64_t>(count, size_ - offset));
        // The piece holding `offset`: the last one starting at or before it.
        size_t i = size_t(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
        auto* out = static_cast<uint8_t*>(buffer);
        while (*done < count) {
            const EncodedPool::Piece& p = pieces_[i];
            size_t within = size_t(offset + *done - starts_[i]);
            size_t n = std::min(count - *done, p.length - within);
            const uint8_t* from = p.stored ? stored_->data() + p.offset
                                           : reinterpret_cast<const uint8_t*>(fresh_.data()) + p.offset;
            std::memcpy(out + *done, from + within, n);
            *done += n;
            ++i;
        }
        return S_OK;
    }

private:
    std::shared_ptr<const std::vector<uint8_t>> stored_;
    std::string fresh_;
    std::vector<EncodedPool::Piece> pieces_;
    std::vector<uint64_t> starts_;
    uint64_t size_ = 0;
};

UINT storageError(HRESULT hr) {
    switch (hr) {
    case S_OK: return ERROR_SUCCESS;
    case STG_E_ACCESSDENIED: return ERROR_ACCESS_DENIED;
    case STG_E_INVALIDNAME: return ERROR_INVALID_PARAMETER;
    case STG_E_MEDIUMFULL: return ERROR_DISK_FULL;
    default: return ERROR_FUNCTION_FAILED;
    }
}

}  // namespace

Cells Table::keyOf(CellView cells) const {
    Cells key;
    key.reserve(keyColumns.size());
    for (size_t k : keyColumns) key.push_back(cells[k]);
    return key;
}

std::optional<size_t> Table::columnIndex(std::u16string_view column) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == column) return i;
    return std::nullopt;
}

void Table::eraseRow(CellView key) {
    const Row* row = findRow(key);
    if (!row) return;
    indexes.removed(key, row->cells);
    rows.erase(keyColumns, key);
}

size_t Table::persistentColumnCount() const {
    size_t n = 0;
    for (const Column& c : columns)
        if (!isTemporaryType(c.type)) ++n;
    return n;
}

UINT Database::open(const std::string& nativePath, OpenMode mode, std::shared_ptr<Database>* out, bool patchFile) {
    std::shared_ptr<Database> db(new Database());
    db->path_ = nativePath;
    db->mode_ = mode;
    if (mode == OpenMode::Create || mode == OpenMode::CreateDirect) {
        HRESULT hr = cfb::CompoundFile::create(nativePath, cfb::Version::V3, false, cfb::kShareRead, &db->file_);
        if (FAILED(hr)) return ERROR_CREATE_FAILED;
        db->file_->setClass(cfb::kRootEntry, packageClass(patchFile));
        *out = std::move(db);
        return ERROR_SUCCESS;
    }
    cfb::OpenOptions options;
    options.access = mode == OpenMode::ReadOnly ? cfb::Access::Read : cfb::Access::ReadWrite;
    options.share = cfb::kShareRead;
    HRESULT hr = cfb::CompoundFile::open(nativePath, options, &db->file_);
    if (FAILED(hr)) {
        switch (hr) {
        case STG_E_FILENOTFOUND:
        case STG_E_PATHNOTFOUND:
        case STG_E_ACCESSDENIED:
        case STG_E_SHAREVIOLATION:
        case STG_E_LOCKVIOLATION:
        case STG_E_TOOMANYOPENFILES:
            return ERROR_OPEN_FAILED;
        default:
            return ERROR_INSTALL_PACKAGE_INVALID;
        }
    }
    cfb::EntryInfo root;
    if (FAILED(db->file_->stat(cfb::kRootEntry, &root)) || !isInstallerClass(root.clsid))
        return ERROR_INSTALL_PACKAGE_INVALID;
    if (patchFile && root.clsid.Data1 != 0x000C1086) return ERROR_OPEN_FAILED;
    if (UINT r = db->load()) return r;
    *out = std::move(db);
    return ERROR_SUCCESS;
}

Database::~Database() {
    if (mode_ == OpenMode::Create && !committed_ && file_) {
        file_.reset();
        ::unlink(path_.c_str());
    }
}

UINT Database::load() {
    auto readTableStream = [&](std::u16string_view name, std::vector<uint8_t>* bytes) -> bool {
        cfb::EntryId id;
        bytes->clear();
        if (FAILED(file_->find(cfb::kRootEntry, encodeStreamName(name, true), &id))) return false;
        return SUCCEEDED(file_->readStream(id, bytes));
    };
    std::vector<uint8_t> poolBytes, dataBytes;
    if (!readTableStream(u"_StringPool", &poolBytes)) return ERROR_INSTALL_PACKAGE_INVALID;
    readTableStream(u"_StringData", &dataBytes);
    if (!decodeStringPoolKeeping(poolBytes, std::move(dataBytes), &pool, &wideRefs_, &unchangedRefs_))
        return ERROR_INSTALL_PACKAGE_INVALID;
    for (uint32_t id = 0; id < unchangedRefs_.size(); ++id)
        if (unchangedRefs_[id] == 0xFFFF) saturated_.insert(id);
    // What the schema rows hold is counted afresh at every commit.
    auto schemaString = [&](uint32_t id) {
        if (id < unchangedRefs_.size() && unchangedRefs_[id] > 0) --unchangedRefs_[id];
        else if (!saturated_.count(id)) refsTrusted_ = false;
    };

    std::vector<uint8_t> bytes;
    readTableStream(u"_Tables", &bytes);
    const uint16_t tablesTypes[] = {kNameType};
    for (const Cells& row : decodeTableStream(bytes, tablesTypes, wideRefs_)) {
        if (row[0] == 0 || !pool.valid(row[0])) return ERROR_INSTALL_PACKAGE_INVALID;
        schemaString(row[0]);
        Table t;
        t.name = pool.text(row[0]);
        t.pool = &pool;
        t.loaded = false;
        tables_.emplace(t.name, std::move(t));
    }
    readTableStream(u"_Columns", &bytes);
    const uint16_t columnsTypes[] = {kNameType, kNumberType, kColNameType, kColTypeType};
    std::map<std::u16string, std::map<int, Column>> columns;
    for (const Cells& row : decodeTableStream(bytes, columnsTypes, wideRefs_)) {
        if (!pool.valid(row[0]) || !pool.valid(row[2]) || row[0] == 0 || row[2] == 0 || row[1] == 0)
            return ERROR_INSTALL_PACKAGE_INVALID;
        schemaString(row[0]);
        schemaString(row[2]);
        Column c;
        c.name = pool.text(row[2]);
        c.type = uint16_t(row[3] - 0x8000);
        int number = decodeInteger(kNumberType, row[1]);
        if (!columns[std::u16string(pool.text(row[0]))].emplace(number, std::move(c)).second) return ERROR_INSTALL_PACKAGE_INVALID;
    }
    for (auto& [name, table] : tables_) {
        auto it = columns.find(name);
        if (it == columns.end()) return ERROR_INSTALL_PACKAGE_INVALID;
        int expected = 1;
        for (auto& [number, column] : it->second) {
            if (number != expected++) return ERROR_INSTALL_PACKAGE_INVALID;
            table.columns.push_back(column);
        }
        for (size_t i = 0; i < table.columns.size(); ++i)
            if (isKeyType(table.columns[i].type)) table.keyColumns.push_back(i);
        if (table.keyColumns.empty())
            for (size_t i = 0; i < table.columns.size(); ++i) table.keyColumns.push_back(i);
        cfb::EntryId id;
        if (SUCCEEDED(file_->find(cfb::kRootEntry, encodeStreamName(name, true), &id))) {
            table.streamEntry = id;
            table.hasStream = true;
        } else {
            table.loaded = true;
        }
    }
    return ERROR_SUCCESS;
}

UINT Database::loadRows(Table& table) {
    if (table.loaded) return ERROR_SUCCESS;
    std::vector<uint8_t> bytes;
    if (FAILED(file_->readStream(table.streamEntry, &bytes))) return ERROR_FUNCTION_FAILED;
    std::vector<uint16_t> types;
    size_t narrowWidth = 0;
    for (const Column& c : table.columns) {
        types.push_back(c.type);
        narrowWidth += cellWidth(c.type, false);
    }
    if (narrowWidth) table.rows.reserve(bytes.size() / narrowWidth, types.size());
    bool valid = forEachStoredRow(bytes, types, wideRefs_, [&](CellView cells) {
        for (size_t c = 0; c < cells.size(); ++c)
            if (isStringType(types[c]) && !pool.valid(cells[c])) return false;
        // Streams keep their rows in key order: each row then goes at the end.
        // A second row with the same key is dropped, as it always was.
        table.addRow(cells, false);
        return true;
    });
    if (!valid) {
        table.rows.clear();
        return ERROR_FUNCTION_FAILED;
    }
    table.loaded = true;
    return ERROR_SUCCESS;
}

void Database::markChanged(Table& t) {
    if (t.changed) return;
    t.changed = true;
    if (!t.hasStream) return;
    if (!t.loaded) {
        refsTrusted_ = false;
        return;
    }
    // The rows are still the ones the stream holds.
    forEachStoredString(t, [&](uint32_t id) {
        if (id < unchangedRefs_.size() && unchangedRefs_[id] > 0) --unchangedRefs_[id];
        else if (!saturated_.count(id)) refsTrusted_ = false;
    });
}

Table* Database::table(std::u16string_view name, UINT* error) {
    auto it = tables_.find(name);
    if (it == tables_.end()) {
        if (error) *error = ERROR_INVALID_TABLE;
        return nullptr;
    }
    if (UINT r = loadRows(it->second)) {
        if (error) *error = r;
        return nullptr;
    }
    if (error) *error = ERROR_SUCCESS;
    return &it->second;
}

std::vector<std::u16string> Database::tableNames() const {
    std::vector<std::pair<uint32_t, std::u16string>> named;
    for (const auto& [name, t] : tables_) {
        auto id = pool.find(name);
        named.emplace_back(id ? *id : UINT32_MAX, name);
    }
    std::sort(named.begin(), named.end());
    std::vector<std::u16string> out;
    for (auto& [id, name] : named) out.push_back(std::move(name));
    return out;
}

UINT Database::createTable(Table table) {
    if (hasTable(table.name)) return ERROR_BAD_QUERY_SYNTAX;
    table.pool = &pool;
    table.loaded = true;
    table.changed = true;
    table.hasStream = false;
    table.temporary = std::all_of(table.columns.begin(), table.columns.end(),
                                  [](const Column& c) { return isTemporaryType(c.type); });
    if (!table.temporary && !writable()) return ERROR_ACCESS_DENIED;
    pool.intern(table.name);
    for (const Column& c : table.columns) pool.intern(c.name);
    droppedStreams_.erase(table.name);
    tables_.emplace(table.name, std::move(table));
    ++schemaVersion_;
    return ERROR_SUCCESS;
}

UINT Database::dropTable(std::u16string_view name) {
    UINT r;
    Table* t = table(name, &r);
    if (!t) return r;
    if (!t->temporary && !writable()) return ERROR_ACCESS_DENIED;
    markChanged(*t);
    bool hasObjects = std::any_of(t->columns.begin(), t->columns.end(),
                                  [](const Column& c) { return isBinaryType(c.type); });
    if (hasObjects) {
        for (const Row& row : t->rows) {
            for (size_t c = 0; c < t->columns.size(); ++c)
                if (isBinaryType(t->columns[c].type) && row.cells[c]) removeStream(objectStreamName(*t, row.cells));
        }
    }
    if (!t->temporary) droppedStreams_.insert(t->name);
    tables_.erase(tables_.find(name));
    ++schemaVersion_;
    return ERROR_SUCCESS;
}

UINT Database::addColumn(Table& t, Column column) {
    if (t.columnIndex(column.name)) return ERROR_BAD_QUERY_SYNTAX;
    if (!isTemporaryType(column.type) && !writable()) return ERROR_ACCESS_DENIED;
    markChanged(t);
    pool.intern(column.name);
    // Persistent columns stay ahead of temporary ones so they number 1..n.
    size_t at = isTemporaryType(column.type) ? t.columns.size() : t.persistentColumnCount();
    t.columns.insert(t.columns.begin() + at, std::move(column));
    for (size_t& k : t.keyColumns)
        if (k >= at) ++k;
    t.rows.insertColumn(at);
    t.indexes.clear();
    if (t.temporary && !isTemporaryType(t.columns[at].type)) t.temporary = false;
    ++schemaVersion_;
    return ERROR_SUCCESS;
}

UINT Database::insertRow(Table& t, Cells cells, bool temporary) {
    if (!temporary && !t.temporary && !writable()) return ERROR_ACCESS_DENIED;
    Cells key = t.keyOf(cells);
    if (t.hasRow(key)) return ERROR_FUNCTION_FAILED;
    markChanged(t);
    Row* row = t.addRow(cells, temporary || t.temporary);
    t.indexes.added(key, row->cells);
    return ERROR_SUCCESS;
}

UINT Database::updateRow(Table& t, const Cells& key, const Cells& cells) {
    Row* row = t.findRow(key);
    if (!row) return ERROR_FUNCTION_FAILED;
    if (!row->temporary && !t.temporary && !writable()) return ERROR_ACCESS_DENIED;
    if (cells.size() != row->cells.size() || t.keyOf(cells) != key) return ERROR_FUNCTION_FAILED;
    markChanged(t);
    t.indexes.changed(key, row->cells, cells);
    std::copy(cells.begin(), cells.end(), row->cells.begin());
    return ERROR_SUCCESS;
}

UINT Database::deleteRow(Table& t, const Cells& key) {
    const Row* row = t.findRow(key);
    if (!row) return ERROR_FUNCTION_FAILED;
    if (!row->temporary && !t.temporary && !writable()) return ERROR_ACCESS_DENIED;
    markChanged(t);
    for (size_t c = 0; c < t.columns.size(); ++c)
        if (isBinaryType(t.columns[c].type) && row->cells[c]) removeStream(objectStreamName(t, row->cells));
    t.eraseRow(key);
    return ERROR_SUCCESS;
}

std::u16string Database::objectStreamName(const Table& t, CellView row) const {
    std::u16string name = t.name;
    for (size_t k : t.keyColumns) {
        name.push_back(u'.');
        uint16_t type = t.columns[k].type;
        if (isIntegerType(type)) {
            std::string digits = std::to_string(decodeInteger(type, row[k]));
            name.append(digits.begin(), digits.end());
        } else {
            name += t.pool->text(row[k]);
        }
    }
    return name;
}

std::vector<std::u16string> Database::streamNames() const {
    std::vector<cfb::EntryInfo> children;
    std::vector<std::u16string> out;
    if (FAILED(file_->children(cfb::kRootEntry, &children))) return out;
    for (const auto& e : children) {
        if (e.type != cfb::EntryType::Stream) continue;
        bool isTable = false;
        std::u16string name = decodeStreamName(e.name, &isTable);
        if (!isTable) out.push_back(std::move(name));
    }
    return out;
}

std::vector<std::u16string> Database::storageNames() const {
    std::vector<cfb::EntryInfo> children;
    std::vector<std::u16string> out;
    if (FAILED(file_->children(cfb::kRootEntry, &children))) return out;
    for (const auto& e : children)
        if (e.type == cfb::EntryType::Storage) out.push_back(decodeStreamName(e.name));
    return out;
}

std::shared_ptr<const cfb::ByteSource> Database::readStream(std::u16string_view name) const {
    cfb::EntryId id;
    if (FAILED(file_->find(cfb::kRootEntry, storedName(name, false), &id))) return nullptr;
    cfb::EntryInfo info;
    if (FAILED(file_->stat(id, &info)) || info.type != cfb::EntryType::Stream) return nullptr;
    std::shared_ptr<const cfb::ByteSource> source;
    if (FAILED(file_->openStream(id, &source))) return nullptr;
    return source;
}

UINT Database::writeStream(std::u16string_view name, std::shared_ptr<const cfb::ByteSource> data) {
    if (!writable()) return ERROR_ACCESS_DENIED;
    std::u16string stored = storedName(name, false);
    if (name.empty() || stored.size() > cfb::kMaxNameLength) return ERROR_INVALID_PARAMETER;
    return storageError(file_->writeStream(cfb::kRootEntry, stored, std::move(data)));
}

UINT Database::removeStream(std::u16string_view name) {
    if (!writable()) return ERROR_ACCESS_DENIED;
    cfb::EntryId id;
    if (FAILED(file_->find(cfb::kRootEntry, storedName(name, false), &id))) return ERROR_FUNCTION_FAILED;
    return storageError(file_->remove(id));
}

UINT Database::writeStorage(std::u16string_view name, const std::string& compoundFilePath) {
    if (!writable()) return ERROR_ACCESS_DENIED;
    std::unique_ptr<cfb::CompoundFile> source;
    if (FAILED(cfb::CompoundFile::open(compoundFilePath, cfb::OpenOptions{}, &source))) return ERROR_FUNCTION_FAILED;
    std::u16string stored = encodeStreamName(name, false);
    if (stored.size() > cfb::kMaxNameLength) return ERROR_INVALID_PARAMETER;
    cfb::EntryId existing;
    if (SUCCEEDED(file_->find(cfb::kRootEntry, stored, &existing))) file_->remove(existing);
    cfb::EntryId target;
    if (UINT r = storageError(file_->createStorage(cfb::kRootEntry, stored, false, &target))) return r;
    if (UINT r = storageError(file_->copyFrom(*source, cfb::kRootEntry, target))) return r;
    keepAlive_.push_back(std::move(source));
    return ERROR_SUCCESS;
}

UINT Database::removeStorage(std::u16string_view name) {
    if (!writable()) return ERROR_ACCESS_DENIED;
    cfb::EntryId id;
    if (FAILED(file_->find(cfb::kRootEntry, encodeStreamName(name, false), &id))) return ERROR_FUNCTION_FAILED;
    return storageError(file_->remove(id));
}

UINT Database::commit() {
    if (!writable()) return ERROR_SUCCESS;
    std::vector<Table*> persistent;
    for (auto& [name, t] : tables_)
        if (!t.temporary) persistent.push_back(&t);
    for (Table* t : persistent) {
        pool.intern(t->name);
        for (const Column& c : t->columns) pool.intern(c.name);
    }
    std::sort(persistent.begin(), persistent.end(),
              [&](const Table* a, const Table* b) { return *pool.find(a->name) < *pool.find(b->name); });

    // References held by table streams, then by the schema rows as well.
    std::vector<uint32_t> tableRefs, refs;
    bool everyTable = !countReferences(persistent, &refs, &tableRefs);
    if (everyTable) {
        // Count every table from its rows; each is then written again, so
        // that the file stays consistent whichever way this commit ends.
        for (Table* t : persistent) {
            if (UINT r = loadRows(*t)) return r;
            t->changed = true;
        }
        unchangedRefs_.clear();
        saturated_.clear();
        refsTrusted_ = true;
        tableRefs.assign(pool.limit(), 0);
        for (const Table* t : persistent) countStrings(*t, &tableRefs);
        refs = tableRefs;
        countSchemaStrings(persistent, pool, &refs);
    }
    refs.resize(std::max<size_t>(refs.size(), pool.limit()), 0);
    refs[0] = 0;
    EncodedPool encoded;
    if (!encodeStringPool(pool, refs, &encoded, true)) return ERROR_FUNCTION_FAILED;
    if (encoded.wideRefs != wideRefs_ && !everyTable) {
        // References change width: every table stream must be encoded again.
        unchangedRefs_.clear();
        refsTrusted_ = false;
        return commit();
    }

    // The encoded streams are handed over, not copied: the file layer keeps
    // them until its commit writes them out.
    auto put = [&](std::u16string_view name, std::shared_ptr<const cfb::ByteSource> bytes) -> UINT {
        return storageError(file_->writeStream(cfb::kRootEntry, encodeStreamName(name, true), std::move(bytes)));
    };
    auto drop = [&](std::u16string_view name) {
        cfb::EntryId id;
        if (SUCCEEDED(file_->find(cfb::kRootEntry, encodeStreamName(name, true), &id))) file_->remove(id);
    };
    if (UINT r = put(u"_StringPool", cfb::bytesSource(std::move(encoded.pool)))) return r;
    if (UINT r = put(u"_StringData", std::make_shared<StringDataSource>(pool.storedData(), std::move(encoded.data),
                                                                        std::move(encoded.pieces))))
        return r;

    std::vector<Cells> tablesRows, columnsRows;
    for (Table* t : persistent) {
        uint32_t nameId = *pool.find(t->name);
        tablesRows.push_back({nameId});
        int number = 0;
        for (const Column& c : t->columns)
            if (!isTemporaryType(c.type))
                columnsRows.push_back({nameId, encodeShort(++number), *pool.find(c.name), (uint32_t(c.type) + 0x8000) & 0xFFFF});
    }
    auto encodeRows = [&](std::vector<Cells>& rows, std::span<const uint16_t> types) {
        std::sort(rows.begin(), rows.end());
        std::vector<const Cells*> ptrs;
        for (const Cells& r : rows) ptrs.push_back(&r);
        return cfb::bytesSource(encodeTableStream(ptrs, types, encoded.wideRefs));
    };
    const uint16_t tablesTypes[] = {kNameType};
    const uint16_t columnsTypes[] = {kNameType, kNumberType, kColNameType, kColTypeType};
    if (UINT r = put(u"_Tables", encodeRows(tablesRows, tablesTypes))) return r;
    if (UINT r = put(u"_Columns", encodeRows(columnsRows, columnsTypes))) return r;

    for (const std::u16string& name : droppedStreams_)
        if (!hasTable(name)) drop(name);
    std::vector<bool> written(persistent.size());
    for (size_t i = 0; i < persistent.size(); ++i) {
        Table* t = persistent[i];
        // An unchanged table keeps its stream: the file layer copies it over.
        if (!t->changed) continue;
        std::vector<uint16_t> types;
        std::vector<size_t> keep;
        for (size_t c = 0; c < t->columns.size(); ++c)
            if (!isTemporaryType(t->columns[c].type)) {
                types.push_back(t->columns[c].type);
                keep.push_back(c);
            }
        std::vector<CellView> ptrs;
        ptrs.reserve(t->rows.size());
        for (const Row& row : t->rows)
            if (!row.temporary) ptrs.push_back(row.cells);
        if (ptrs.empty()) {
            drop(t->name);
            continue;
        }
        if (UINT r = put(t->name, cfb::bytesSource(encodeTableStream(ptrs, types, encoded.wideRefs, keep)))) return r;
        written[i] = true;
    }
    HRESULT hr = file_->commit();
    if (FAILED(hr)) return hr == STG_E_MEDIUMFULL ? ERROR_DISK_FULL : ERROR_FUNCTION_FAILED;
    committed_ = true;
    droppedStreams_.clear();
    wideRefs_ = encoded.wideRefs;
    unchangedRefs_ = std::move(tableRefs);
    for (size_t i = 0; i < persistent.size(); ++i) {
        Table* t = persistent[i];
        if (!t->changed) continue;
        t->changed = false;
        t->hasStream = written[i];
    }
    return ERROR_SUCCESS;
}

bool Database::countReferences(const std::vector<Table*>& persistent, std::vector<uint32_t>* refs,
                               std::vector<uint32_t>* tableRefs) const {
    if (!refsTrusted_) return false;
    *tableRefs = unchangedRefs_;
    tableRefs->resize(std::max<size_t>(tableRefs->size(), pool.limit()), 0);
    for (const Table* t : persistent)
        if (t->changed) countStrings(*t, tableRefs);
    // A saturated count is only a lower bound: it cannot tell that a string
    // is no longer used.
    for (uint32_t id : saturated_)
        if (id < tableRefs->size() && (*tableRefs)[id] == 0) return false;
    *refs = *tableRefs;
    countSchemaStrings(persistent, pool, refs);
    return true;
}

}  // namespace winsys::msi
