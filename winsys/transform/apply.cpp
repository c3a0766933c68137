// Applying a transform. The whole transform is read and checked against the
// database first (records well formed, tables and columns known, the error
// conditions the caller does not suppress absent), simulating its effect on
// the set of keys; only then is the database changed, so a transform that
// fails leaves the database as it was.
#include <msiquery.h>

#include <map>
#include <unordered_set>

#include "msi/column_type.h"
#include "msi/stream_name.h"
#include "record_format.h"
#include "transform.h"

namespace winsys::transform {
namespace {

using msi::Cells;
using msi::Column;
using msi::Database;
using msi::Table;

constexpr UINT kFailed = ERROR_INSTALL_TRANSFORM_FAILURE;

enum class Action { Insert, Overwrite, Update, Delete, Skip };

struct Op {
    uint16_t mask = 0;
    uint64_t present = 0;
    Cells cells;  // transform pool ids and stored integers
    Action action = Action::Skip;
    std::map<size_t, std::shared_ptr<const cfb::ByteSource>> data;  // binary column -> its new bytes
};

struct TablePlan {
    std::u16string name;
    std::vector<Column> columns;  // persistent columns after the transform
    std::vector<size_t> keys;
    bool create = false;
    size_t existingColumns = 0;  // columns the database already has
    std::vector<Op> ops;

    std::vector<uint16_t> types() const {
        std::vector<uint16_t> t;
        for (const Column& c : columns) t.push_back(c.type);
        return t;
    }
};

class Reader {
public:
    Reader(Database& db, const cfb::CompoundFile& file, cfb::EntryId storage, int conditions)
        : db_(db), file_(file), storage_(storage), conditions_(conditions) {}

    UINT run() {
        if (conditions_ & MSITRANSFORM_ERROR_VIEWTRANSFORM) return ERROR_CALL_NOT_IMPLEMENTED;
        if (UINT r = readPool()) return r;
        if (UINT r = listStreams()) return r;
        if (UINT r = readTables()) return r;
        if (UINT r = readColumns()) return r;
        for (const auto& [name, entry] : tableStreams_) {
            if (name == u"_Tables" || name == u"_Columns") continue;
            if (UINT r = readRows(name, entry)) return r;
        }
        if (!db_.writable()) return ERROR_ACCESS_DENIED;
        return apply();
    }

private:
    bool suppressed(int condition) const { return (conditions_ & condition) != 0; }

    UINT readStreamBytes(cfb::EntryId id, std::vector<uint8_t>* out) {
        return SUCCEEDED(file_.readStream(id, out)) ? ERROR_SUCCESS : kFailed;
    }

    UINT readPool() {
        cfb::EntryId poolId, dataId;
        if (FAILED(file_.find(storage_, msi::encodeStreamName(kStringPoolStream, true), &poolId))) return kFailed;
        std::vector<uint8_t> poolBytes, dataBytes;
        if (readStreamBytes(poolId, &poolBytes)) return kFailed;
        if (SUCCEEDED(file_.find(storage_, msi::encodeStreamName(kStringDataStream, true), &dataId)) &&
            readStreamBytes(dataId, &dataBytes))
            return kFailed;
        if (!msi::decodeStringPool(poolBytes, dataBytes, &pool_, &wideRefs_)) return kFailed;
        unsigned mine = pool_.codepage, theirs = db_.pool.codepage;
        if (mine && theirs && mine != theirs && !suppressed(MSITRANSFORM_ERROR_CHANGECODEPAGE)) return kFailed;
        return ERROR_SUCCESS;
    }

    UINT listStreams() {
        std::vector<cfb::EntryInfo> children;
        if (FAILED(file_.children(storage_, &children))) return kFailed;
        for (const auto& e : children) {
            if (e.type != cfb::EntryType::Stream) continue;  // sub-storages are not tables
            bool isTable = false;
            std::u16string name = msi::decodeStreamName(e.name, &isTable);
            if (!isTable || name == kStringPoolStream || name == kStringDataStream) continue;
            tableStreams_.emplace(std::move(name), e.id);
        }
        return ERROR_SUCCESS;
    }

    // Records of a system table, checked for their mask and string ids.
    UINT records(std::u16string_view name, std::span<const uint16_t> types, std::vector<Op>* out) {
        auto it = tableStreams_.find(std::u16string(name));
        if (it == tableStreams_.end()) return ERROR_SUCCESS;
        std::vector<uint8_t> bytes;
        if (readStreamBytes(it->second, &bytes)) return kFailed;
        for (size_t at = 0; at < bytes.size();) {
            Op op;
            if (!readRecord(bytes, &at, types, wideRefs_, &op.mask, &op.cells, &op.present)) return kFailed;
            if (!(op.mask & kInsertBit)) {
                size_t masked = std::min(types.size(), kMaskedColumns);
                if (op.mask & ~uint16_t((uint32_t(1) << masked) - 1)) return kFailed;
            }
            for (size_t i = 0; i < types.size(); ++i)
                if (msi::isStringType(types[i]) && ((op.present >> i) & 1) && !pool_.valid(op.cells[i])) return kFailed;
            out->push_back(std::move(op));
        }
        return ERROR_SUCCESS;
    }

    UINT readTables() {
        std::vector<Op> ops;
        if (UINT r = records(u"_Tables", kTablesTypes, &ops)) return r;
        for (const Op& op : ops) {
            const std::u16string name(pool_.text(op.cells[0]));
            if (name.empty()) return kFailed;
            bool exists = db_.hasTable(name) && !dropped_.count(name) && !plans_.count(name);
            if (exists && db_.table(name) && db_.table(name)->temporary) return kFailed;
            if (op.mask == insertMask(1)) {
                if (exists || plans_.count(name)) {
                    if (!suppressed(MSITRANSFORM_ERROR_ADDEXISTINGTABLE)) return kFailed;
                    readded_.insert(name);
                    continue;
                }
                TablePlan plan;
                plan.name = name;
                plan.create = true;
                plans_.emplace(name, std::move(plan));
            } else if (op.mask == 0) {
                if (!exists) {
                    if (!suppressed(MSITRANSFORM_ERROR_DELMISSINGTABLE)) return kFailed;
                    continue;
                }
                dropped_.insert(name);
            } else {
                return kFailed;
            }
        }
        return ERROR_SUCCESS;
    }

    // The plan of a table the records may name: a new one, or one the
    // database has and the transform does not drop.
    TablePlan* plan(const std::u16string& name) {
        if (auto it = plans_.find(name); it != plans_.end()) return &it->second;
        if (dropped_.count(name) || !db_.hasTable(name)) return nullptr;
        UINT r;
        Table* t = db_.table(name, &r);
        if (!t || t->temporary) return nullptr;
        TablePlan p;
        p.name = name;
        for (const Column& c : t->columns)
            if (!msi::isTemporaryType(c.type)) p.columns.push_back(c);
        p.existingColumns = p.columns.size();
        p.keys = t->keyColumns;
        return &plans_.emplace(name, std::move(p)).first->second;
    }

    UINT readColumns() {
        std::vector<Op> ops;
        if (UINT r = records(u"_Columns", kColumnsTypes, &ops)) return r;
        std::map<std::u16string, int> unnumbered;
        for (const Op& op : ops) {
            if (op.mask != insertMask(4)) return kFailed;
            const std::u16string table(pool_.text(op.cells[0]));
            TablePlan* p = plan(table);
            if (!p) return kFailed;
            Column c;
            c.name = pool_.text(op.cells[2]);
            if (c.name.empty() || !op.cells[3]) return kFailed;
            c.type = uint16_t(op.cells[3] - 0x8000);
            if (msi::isTemporaryType(c.type)) return kFailed;
            // Unnumbered columns belong to a table the transform adds (or
            // adds again, when that condition is suppressed): 1, 2, ...
            bool readded = readded_.count(table) != 0;
            size_t first = p->create || readded ? 0 : p->existingColumns;
            size_t number = op.cells[1] ? size_t(msi::decodeInteger(kColumnsTypes[1], op.cells[1]))
                                        : first + size_t(++unnumbered[table]);
            if (number >= 1 && number <= p->columns.size()) {
                const Column& have = p->columns[number - 1];
                if (have.name != c.name || have.type != c.type) return kFailed;
                if (!readded && !suppressed(MSITRANSFORM_ERROR_ADDEXISTINGROW)) return kFailed;
                continue;
            }
            if (number != p->columns.size() + 1 || p->columns.size() >= 64) return kFailed;
            for (const Column& other : p->columns)
                if (other.name == c.name) return kFailed;
            if (!p->create && msi::isKeyType(c.type)) return kFailed;
            p->columns.push_back(std::move(c));
        }
        for (auto& [name, p] : plans_) {
            if (!p.create) continue;
            if (p.columns.empty()) return kFailed;
            for (size_t i = 0; i < p.columns.size(); ++i)
                if (msi::isKeyType(p.columns[i].type)) p.keys.push_back(i);
            if (p.keys.empty())
                for (size_t i = 0; i < p.columns.size(); ++i) p.keys.push_back(i);
        }
        return ERROR_SUCCESS;
    }

    std::u16string transformKeyText(const TablePlan& p, const Cells& cells) const {
        std::u16string out;
        for (size_t k : p.keys) appendKeyText(out, p.columns[k].type, cells[k], pool_);
        return out;
    }

    // Name of the stream that holds a binary cell of a record, from its keys.
    std::u16string objectName(const TablePlan& p, const Cells& cells) const {
        std::u16string name = p.name;
        for (size_t k : p.keys) {
            name.push_back(u'.');
            uint16_t type = p.columns[k].type;
            if (msi::isIntegerType(type)) {
                std::string digits = std::to_string(msi::decodeInteger(type, cells[k]));
                name.append(digits.begin(), digits.end());
            } else {
                name += pool_.text(cells[k]);
            }
        }
        return name;
    }

    std::shared_ptr<const cfb::ByteSource> dataStream(std::u16string_view name) const {
        cfb::EntryId id;
        std::shared_ptr<const cfb::ByteSource> source;
        std::u16string stored = msi::encodeStreamName(name, false);
        if (stored.size() > cfb::kMaxNameLength || FAILED(file_.find(storage_, stored, &id))) return nullptr;
        cfb::EntryInfo info;
        if (FAILED(file_.stat(id, &info)) || info.type != cfb::EntryType::Stream) return nullptr;
        if (FAILED(file_.openStream(id, &source))) return nullptr;
        return source;
    }

    // What each record does, given the keys present so far.
    UINT decide(Op& op, bool exists) {
        if (op.mask & kInsertBit) {
            if (exists && !suppressed(MSITRANSFORM_ERROR_ADDEXISTINGROW)) return kFailed;
            op.action = exists ? Action::Overwrite : Action::Insert;
        } else if (op.mask == 0) {
            if (!exists && !suppressed(MSITRANSFORM_ERROR_DELMISSINGROW)) return kFailed;
            op.action = exists ? Action::Delete : Action::Skip;
        } else {
            if (!exists && !suppressed(MSITRANSFORM_ERROR_UPDATEMISSINGROW)) return kFailed;
            op.action = exists ? Action::Update : Action::Skip;
        }
        return ERROR_SUCCESS;
    }

    UINT readRows(const std::u16string& name, cfb::EntryId entry) {
        (void)entry;
        if (name == msi::kStreamsTable) return readStreamRows();
        if (name == msi::kStoragesTable) return ERROR_SUCCESS;  // sub-storages of transforms are not carried
        TablePlan* p = plan(name);
        if (!p) return kFailed;  // a transform for another database
        std::vector<uint16_t> types = p->types();
        if (UINT r = records(name, types, &p->ops)) return r;

        std::unordered_set<std::u16string> keys;
        if (!p->create) {
            Table* t = db_.table(name);
            keys.reserve(t->rows.size());
            for (const auto& row : t->rows) {
                std::u16string k;
                for (size_t c : t->keyColumns) appendKeyText(k, t->columns[c].type, row.cells[c], db_.pool);
                keys.insert(std::move(k));
            }
        }
        for (Op& op : p->ops) {
            std::u16string k = transformKeyText(*p, op.cells);
            bool exists = keys.count(k) != 0;
            if (UINT r = decide(op, exists)) return r;
            if (op.action == Action::Insert) keys.insert(k);
            if (op.action == Action::Delete) keys.erase(k);
            if (op.action == Action::Skip || op.action == Action::Delete) continue;
            for (size_t i = 0; i < types.size(); ++i) {
                if (!msi::isBinaryType(types[i]) || !((op.present >> i) & 1) || !op.cells[i]) continue;
                auto data = dataStream(objectName(*p, op.cells));
                if (!data) return kFailed;
                op.data[i] = std::move(data);
            }
        }
        return ERROR_SUCCESS;
    }

    UINT readStreamRows() {
        if (UINT r = records(msi::kStreamsTable, kStreamsTypes, &streamOps_)) return r;
        std::unordered_set<std::u16string> names;
        for (auto& n : db_.streamNames()) names.insert(std::move(n));
        for (Op& op : streamOps_) {
            const std::u16string name(pool_.text(op.cells[0]));
            if (name.empty()) return kFailed;
            bool exists = names.count(name) != 0;
            if (UINT r = decide(op, exists)) return r;
            if (op.action == Action::Insert) names.insert(name);
            if (op.action == Action::Delete) names.erase(name);
            if ((op.action == Action::Insert || op.action == Action::Overwrite || op.action == Action::Update) &&
                ((op.present >> 1) & 1)) {
                auto data = op.cells[1] ? dataStream(name) : cfb::bytesSource({});
                if (!data) return kFailed;
                op.data[1] = std::move(data);
            }
        }
        return ERROR_SUCCESS;
    }

    // --- changing the database: nothing below is expected to fail ---

    // Cells for a row of `width` columns (temporary columns follow the
    // persistent ones and stay null).
    Cells toDatabase(const TablePlan& p, const Op& op, size_t width, const Cells* base) {
        Cells out = base ? *base : Cells(width, 0);
        for (size_t i = 0; i < p.columns.size(); ++i) {
            bool present = (op.present >> i) & 1;
            if (!present) {
                if (op.action == Action::Overwrite) out[i] = 0;
                continue;
            }
            uint16_t type = p.columns[i].type;
            if (msi::isStringType(type))
                out[i] = db_.pool.intern(pool_.text(op.cells[i]));
            else if (msi::isBinaryType(type))
                out[i] = op.cells[i] ? 1 : 0;
            else
                out[i] = op.cells[i];
        }
        return out;
    }

    UINT applyRows(TablePlan& p) {
        UINT r;
        Table* t = db_.table(p.name, &r);
        if (!t) return ERROR_FUNCTION_FAILED;
        for (Op& op : p.ops) {
            if (op.action == Action::Skip) continue;
            Cells cells = toDatabase(p, op, t->columns.size(), nullptr);
            Cells key = t->keyOf(cells);
            if (op.action == Action::Insert) {
                if ((r = db_.insertRow(*t, cells, false))) return r;
            } else if (op.action == Action::Delete) {
                if ((r = db_.deleteRow(*t, key))) return r;
                continue;
            } else {
                const auto* row = t->findRow(key);
                if (!row) return ERROR_FUNCTION_FAILED;
                Cells old(row->cells.begin(), row->cells.end());
                cells = toDatabase(p, op, t->columns.size(), &old);
                // Every binary cell of a row shares the row's one stream: it
                // goes when the last of them becomes null.
                bool had = false, has = false;
                for (size_t i = 0; i < p.columns.size(); ++i)
                    if (msi::isBinaryType(p.columns[i].type)) {
                        had |= old[i] != 0;
                        has |= cells[i] != 0;
                    }
                if (had && !has) db_.removeStream(db_.objectStreamName(*t, old));
                if ((r = db_.updateRow(*t, key, cells))) return r;
            }
            for (auto& [column, data] : op.data)
                if ((r = db_.writeStream(db_.objectStreamName(*t, cells), data))) return r;
        }
        return ERROR_SUCCESS;
    }

    UINT apply() {
        UINT r;
        if (pool_.codepage) db_.pool.codepage = pool_.codepage;
        for (const auto& name : dropped_)
            if ((r = db_.dropTable(name))) return r;
        for (auto& [name, p] : plans_) {
            if (p.create) {
                Table t;
                t.name = name;
                t.columns = p.columns;
                t.keyColumns = p.keys;
                if ((r = db_.createTable(std::move(t)))) return r;
                continue;
            }
            if (p.columns.size() == p.existingColumns) continue;
            Table* t = db_.table(name, &r);
            if (!t) return ERROR_FUNCTION_FAILED;
            for (size_t i = p.existingColumns; i < p.columns.size(); ++i)
                if ((r = db_.addColumn(*t, p.columns[i]))) return r;
        }
        for (auto& [name, p] : plans_)
            if ((r = applyRows(p))) return r;
        for (Op& op : streamOps_) {
            const std::u16string name(pool_.text(op.cells[0]));
            if (op.action == Action::Delete) {
                if ((r = db_.removeStream(name))) return r;
            } else if (op.action != Action::Skip && op.data.count(1)) {
                if ((r = db_.writeStream(name, op.data[1]))) return r;
            }
        }
        return ERROR_SUCCESS;
    }

    Database& db_;
    const cfb::CompoundFile& file_;
    cfb::EntryId storage_;
    int conditions_;
    msi::StringPool pool_;
    bool wideRefs_ = false;
    std::map<std::u16string, cfb::EntryId> tableStreams_;
    std::map<std::u16string, TablePlan> plans_;
    std::set<std::u16string> dropped_;
    std::set<std::u16string> readded_;  // tables added again, the condition suppressed
    std::vector<Op> streamOps_;
};

}  // namespace

UINT applyTransform(Database& db, const std::string& nativePath, int conditions) {
    std::unique_ptr<cfb::CompoundFile> file;
    HRESULT hr = cfb::CompoundFile::open(nativePath, cfb::OpenOptions{}, &file);
    switch (hr) {
    case S_OK: break;
    case STG_E_FILENOTFOUND:
    case STG_E_PATHNOTFOUND:
    case STG_E_ACCESSDENIED:
    case STG_E_SHAREVIOLATION:
    case STG_E_LOCKVIOLATION:
    case STG_E_TOOMANYOPENFILES:
        return ERROR_OPEN_FAILED;
    default:
        return kFailed;
    }
    cfb::EntryInfo root;
    if (FAILED(file->stat(cfb::kRootEntry, &root)) || !isTransformClass(root.clsid)) return kFailed;
    return Reader(db, *file, cfb::kRootEntry, conditions).run();
}

UINT applyStorageTransform(Database& db, std::u16string_view storageName, int conditions) {
    const cfb::CompoundFile& file = db.compoundFile();
    cfb::EntryId id;
    cfb::EntryInfo info;
    std::u16string stored = msi::encodeStreamName(storageName, false);
    if (storageName.empty() || stored.size() > cfb::kMaxNameLength || FAILED(file.find(cfb::kRootEntry, stored, &id)) ||
        FAILED(file.stat(id, &info)) || info.type != cfb::EntryType::Storage)
        return ERROR_OPEN_FAILED;
    return Reader(db, file, id, conditions).run();
}

}  // namespace winsys::transform
