// Generating a transform: compare two databases table by table, row by row
// and stream by stream, and write the records that turn the reference into
// the changed database, with a string pool of their own.
#include <msidefs.h>
#include <msiquery.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "msi/column_type.h"
#include "msi/stream_name.h"
#include "msi/summary_info.h"
#include "record_format.h"
#include "transform.h"

namespace winsys::transform {
namespace {

using msi::Cells;
using msi::Column;
using msi::Database;
using msi::Row;
using msi::Table;

struct TableRecords {
    std::u16string name;
    std::vector<uint16_t> types;
    std::vector<std::pair<uint16_t, Cells>> records;  // mask, cells as transform ids
};

struct DataStream {
    std::u16string name;  // plain name inside the transform
    std::shared_ptr<const cfb::ByteSource> data;
};

// The difference being built: records, the pool they refer to and the data
// of the binary cells and streams they add or change.
class Builder {
public:
    msi::StringPool pool;
    std::vector<uint32_t> refs{0};
    TableRecords tables{u"_Tables", {std::begin(kTablesTypes), std::end(kTablesTypes)}, {}};
    TableRecords columns{u"_Columns", {std::begin(kColumnsTypes), std::end(kColumnsTypes)}, {}};
    std::vector<TableRecords> rows;
    std::vector<DataStream> streams;

    uint32_t ref(std::u16string_view s) {
        if (s.empty()) return 0;
        uint32_t id = pool.intern(s);
        if (refs.size() <= id) refs.resize(id + 1, 0);
        refs[id] += 1;
        return id;
    }

    bool empty() const {
        if (!tables.records.empty() || !columns.records.empty() || !streams.empty()) return false;
        return std::all_of(rows.begin(), rows.end(), [](const TableRecords& t) { return t.records.empty(); });
    }
};

std::vector<uint8_t> readAll(const cfb::ByteSource& source) {
    std::vector<uint8_t> bytes(source.size());
    size_t done = 0;
    if (!bytes.empty() && FAILED(source.readAt(0, bytes.data(), bytes.size(), &done))) done = 0;
    bytes.resize(done);
    return bytes;
}

bool sameBytes(const std::shared_ptr<const cfb::ByteSource>& a, const std::shared_ptr<const cfb::ByteSource>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    std::vector<uint8_t> x(64 * 1024), y(64 * 1024);
    for (uint64_t at = 0; at < a->size();) {
        size_t n = size_t(std::min<uint64_t>(x.size(), a->size() - at)), dx = 0, dy = 0;
        if (FAILED(a->readAt(at, x.data(), n, &dx)) || FAILED(b->readAt(at, y.data(), n, &dy)) || dx != n || dy != n)
            return false;
        if (std::memcmp(x.data(), y.data(), n) != 0) return false;
        at += n;
    }
    return true;
}

// Persistent columns lead every table (temporary ones are kept behind them).
size_t persistentCount(const Table& t) {
    size_t n = 0;
    while (n < t.columns.size() && !msi::isTemporaryType(t.columns[n].type)) ++n;
    return n;
}

std::u16string keyText(const Table& t, msi::CellView cells) {
    std::u16string out;
    for (size_t k : t.keyColumns) appendKeyText(out, t.columns[k].type, cells[k], *t.pool);
    return out;
}

// Cells of `row` (of database `db`) as transform cells: strings re-interned in
// the transform pool, binary cells as a marker with their data as a stream.
Cells toTransform(Builder& b, Database& db, const Table& t, msi::CellView cells, uint64_t present) {
    Cells out(persistentCount(t), 0);
    bool hasData = false;
    for (size_t i = 0; i < out.size(); ++i) {
        if (!((present >> i) & 1)) continue;
        uint16_t type = t.columns[i].type;
        if (msi::isStringType(type)) {
            out[i] = b.ref(t.pool->text(cells[i]));
        } else if (msi::isBinaryType(type)) {
            out[i] = cells[i] ? 1 : 0;
            hasData |= cells[i] != 0;
        } else {
            out[i] = cells[i];
        }
    }
    if (hasData) {
        std::u16string name = db.objectStreamName(t, cells);
        auto data = db.readStream(name);
        b.streams.push_back({name, data ? data : cfb::bytesSource({})});
    }
    return out;
}

uint64_t allColumns(size_t n) { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }

void addInsert(Builder& b, TableRecords& out, Database& db, const Table& t, msi::CellView cells) {
    size_t n = persistentCount(t);
    out.records.emplace_back(insertMask(n), toTransform(b, db, t, cells, allColumns(n)));
}

void addDelete(Builder& b, TableRecords& out, Database& db, const Table& t, msi::CellView cells) {
    uint64_t keys = 0;
    for (size_t k : t.keyColumns) keys |= uint64_t(1) << k;
    out.records.emplace_back(uint16_t(0), toTransform(b, db, t, cells, keys));
}

void addNewTable(Builder& b, Database& changed, const Table& t) {
    uint32_t nameId = b.ref(t.name);
    b.tables.records.emplace_back(insertMask(1), Cells{nameId});
    size_t n = persistentCount(t);
    for (size_t i = 0; i < n; ++i) {
        // Columns of a new table go without numbers; readers number them in
        // record order, as native transforms expect.
        Cells c{b.ref(t.name), 0, b.ref(t.columns[i].name), (uint32_t(t.columns[i].type) + 0x8000) & 0xFFFF};
        b.columns.records.emplace_back(insertMask(4), std::move(c));
    }
    TableRecords records{t.name, {}, {}};
    for (size_t i = 0; i < n; ++i) records.types.push_back(t.columns[i].type);
    for (const auto& row : t.rows)
        if (!row.temporary) addInsert(b, records, changed, t, row.cells);
    b.rows.push_back(std::move(records));
}

bool sameCell(uint16_t type, uint32_t a, const msi::StringPool& pa, uint32_t b, const msi::StringPool& pb) {
    if (msi::isStringType(type)) return pa.text(a) == pb.text(b);
    return a == b;
}

UINT diffTable(Builder& b, Database& changed, const Table& ct, Database& reference, const Table& rt) {
    size_t cn = persistentCount(ct), rn = persistentCount(rt);
    if (cn < rn) return ERROR_INSTALL_TRANSFORM_FAILURE;
    for (size_t i = 0; i < rn; ++i)
        if (ct.columns[i].name != rt.columns[i].name || ct.columns[i].type != rt.columns[i].type)
            return ERROR_INSTALL_TRANSFORM_FAILURE;
    for (size_t i = rn; i < cn; ++i) {
        if (msi::isKeyType(ct.columns[i].type)) return ERROR_INSTALL_TRANSFORM_FAILURE;
        Cells c{b.ref(ct.name), msi::encodeShort(int32_t(i + 1)), b.ref(ct.columns[i].name),
                (uint32_t(ct.columns[i].type) + 0x8000) & 0xFFFF};
        b.columns.records.emplace_back(insertMask(4), std::move(c));
    }
    TableRecords out{ct.name, {}, {}};
    for (size_t i = 0; i < cn; ++i) out.types.push_back(ct.columns[i].type);

    std::unordered_map<std::u16string, const Row*> before;
    before.reserve(rt.rows.size());
    for (const auto& row : rt.rows)
        if (!row.temporary) before.emplace(keyText(rt, row.cells), &row);
    std::unordered_set<std::u16string> kept;
    kept.reserve(ct.rows.size());
    for (const auto& row : ct.rows) {
        if (row.temporary) continue;
        std::u16string k = keyText(ct, row.cells);
        auto it = before.find(k);
        kept.insert(std::move(k));
        if (it == before.end()) {
            addInsert(b, out, changed, ct, row.cells);
            continue;
        }
        msi::CellView old = it->second->cells;
        uint64_t changedColumns = 0;
        for (size_t i = 0; i < cn; ++i) {
            uint16_t type = ct.columns[i].type;
            if (msi::isKeyType(type)) continue;
            bool same;
            if (i >= rn) {
                same = row.cells[i] == 0;
            } else if (msi::isBinaryType(type)) {
                same = (row.cells[i] == 0) == (old[i] == 0) &&
                       (row.cells[i] == 0 || sameBytes(changed.readStream(changed.objectStreamName(ct, row.cells)),
                                                       reference.readStream(reference.objectStreamName(rt, old))));
            } else {
                same = sameCell(type, row.cells[i], *ct.pool, old[i], *rt.pool);
            }
            if (!same) changedColumns |= uint64_t(1) << i;
        }
        if (!changedColumns) continue;
        if (changedColumns >> kMaskedColumns) {
            // No mask bit for these columns: replace the whole row.
            addDelete(b, out, reference, rt, old);
            addInsert(b, out, changed, ct, row.cells);
            continue;
        }
        uint64_t keys = 0;
        for (size_t k : ct.keyColumns) keys |= uint64_t(1) << k;
        out.records.emplace_back(uint16_t(changedColumns), toTransform(b, changed, ct, row.cells, changedColumns | keys));
    }
    for (const auto& row : rt.rows)
        if (!row.temporary && !kept.count(keyText(rt, row.cells))) addDelete(b, out, reference, rt, row.cells);
    b.rows.push_back(std::move(out));
    return ERROR_SUCCESS;
}

// Root streams that are rows of _Streams: not property sets, not the data of
// a binary cell of either database.
std::vector<std::u16string> plainStreams(Database& db, const std::unordered_set<std::u16string>& objects) {
    std::vector<std::u16string> out;
    for (auto& name : db.streamNames())
        if (!name.empty() && name[0] >= 0x20 && !objects.count(name)) out.push_back(std::move(name));
    std::sort(out.begin(), out.end());
    return out;
}

void collectObjectNames(Database& db, std::unordered_set<std::u16string>* out) {
    for (const auto& name : db.tableNames()) {
        Table* t = db.table(name);
        if (!t || t->temporary) continue;
        std::vector<size_t> binary;
        for (size_t i = 0; i < t->columns.size(); ++i)
            if (msi::isBinaryType(t->columns[i].type)) binary.push_back(i);
        if (binary.empty()) continue;
        for (const auto& row : t->rows)
            for (size_t i : binary)
                if (row.cells[i]) out->insert(db.objectStreamName(*t, row.cells));
    }
}

void diffStreams(Builder& b, Database& changed, Database& reference) {
    std::unordered_set<std::u16string> objects;
    collectObjectNames(changed, &objects);
    collectObjectNames(reference, &objects);
    auto after = plainStreams(changed, objects);
    auto before = plainStreams(reference, objects);
    TableRecords out{std::u16string(msi::kStreamsTable), {std::begin(kStreamsTypes), std::end(kStreamsTypes)}, {}};
    size_t i = 0, j = 0;
    while (i < after.size() || j < before.size()) {
        if (j == before.size() || (i < after.size() && after[i] < before[j])) {
            out.records.emplace_back(insertMask(2), Cells{b.ref(after[i]), 1});
            b.streams.push_back({after[i], changed.readStream(after[i])});
            ++i;
        } else if (i == after.size() || before[j] < after[i]) {
            out.records.emplace_back(uint16_t(0), Cells{b.ref(before[j]), 0});
            ++j;
        } else {
            auto data = changed.readStream(after[i]);
            if (!sameBytes(data, reference.readStream(before[j]))) {
                out.records.emplace_back(uint16_t(0x0002), Cells{b.ref(after[i]), 1});
                b.streams.push_back({after[i], data});
            }
            ++i, ++j;
        }
    }
    b.rows.push_back(std::move(out));
}

std::optional<msi::SummaryInfo> summaryOf(Database& db) {
    auto stream = db.readStream(msi::kSummaryStream);
    if (!stream) return std::nullopt;
    return msi::decodeSummaryInfo(readAll(*stream));
}

std::u16string propertyOf(Database& db, std::u16string_view name) {
    Table* t = db.table(u"Property");
    auto id = db.pool.find(name);
    if (!t || !id || t->columns.size() < 2 || t->keyColumns.size() != 1) return {};
    const auto* row = t->findRow(Cells{*id});
    return row ? std::u16string(db.pool.text(row->cells[1])) : std::u16string();
}

// Summary information of a transform: what it applies to (template, product
// codes and versions before and after) and its conditions and validation.
std::vector<uint8_t> transformSummary(Database& changed, Database& reference, const SummaryFlags& flags) {
    msi::SummaryInfo info;
    auto before = summaryOf(reference), after = summaryOf(changed);
    auto text = [](std::u16string s) {
        msi::SummaryProperty p;
        p.type = VT_LPSTR;
        p.text = std::move(s);
        return p;
    };
    auto integer = [](uint16_t type, int32_t v) {
        msi::SummaryProperty p;
        p.type = type;
        p.integer = v;
        return p;
    };
    if (before && before->properties.count(PID_CODEPAGE)) info.properties[PID_CODEPAGE] = before->properties[PID_CODEPAGE];
    info.properties[PID_TITLE] = text(u"Transform");
    if (before && before->properties.count(PID_TEMPLATE)) info.properties[PID_TEMPLATE] = before->properties[PID_TEMPLATE];
    if (after && after->properties.count(PID_TEMPLATE))
        info.properties[PID_LASTAUTHOR] = text(after->properties[PID_TEMPLATE].text);
    std::u16string revision = propertyOf(reference, u"ProductCode") + propertyOf(reference, u"ProductVersion") + u";" +
                              propertyOf(changed, u"ProductCode") + propertyOf(changed, u"ProductVersion");
    std::u16string upgrade = propertyOf(reference, u"UpgradeCode");
    if (!upgrade.empty()) revision += u";" + upgrade;
    info.properties[PID_REVNUMBER] = text(revision);
    int32_t pages = 0;
    for (auto* s : {&before, &after})
        if (*s && (*s)->properties.count(PID_PAGECOUNT)) pages = std::max(pages, (*s)->properties[PID_PAGECOUNT].integer);
    if (pages) info.properties[PID_PAGECOUNT] = integer(VT_I4, pages);
    info.properties[PID_CHARCOUNT] =
        integer(VT_I4, int32_t(((flags.validation & 0xFFFF) << 16) | (flags.errorConditions & 0xFFFF)));
    if (auto bytes = msi::encodeSummaryInfo(info)) return *bytes;
    info.properties.erase(PID_CODEPAGE);  // text the code page cannot hold: fall back to neutral
    auto bytes = msi::encodeSummaryInfo(info);
    return bytes ? *bytes : std::vector<uint8_t>();
}

UINT writeFile(Builder& b, Database& changed, Database& reference, const std::string& path, const SummaryFlags& flags) {
    msi::EncodedPool encoded;
    if (!msi::encodeStringPool(b.pool, b.refs, &encoded)) return ERROR_INSTALL_TRANSFORM_FAILURE;
    std::unique_ptr<cfb::CompoundFile> file;
    if (FAILED(cfb::CompoundFile::create(path, cfb::Version::V3, false, cfb::kShareRead, &file)))
        return ERROR_CREATE_FAILED;
    bool ok = SUCCEEDED(file->setClass(cfb::kRootEntry, transformClass()));
    auto put = [&](std::u16string_view name, bool isTable, std::vector<uint8_t> bytes) {
        ok = ok && SUCCEEDED(file->writeStream(cfb::kRootEntry, msi::encodeStreamName(name, isTable), bytes));
    };
    put(kStringPoolStream, true, std::move(encoded.pool));
    put(kStringDataStream, true, std::vector<uint8_t>(encoded.data.begin(), encoded.data.end()));
    auto encodeTable = [&](const TableRecords& t) {
        if (t.records.empty()) return;
        std::vector<uint8_t> bytes;
        for (const auto& [mask, cells] : t.records) appendRecord(bytes, mask, t.types, cells, encoded.wideRefs);
        put(t.name, true, std::move(bytes));
    };
    encodeTable(b.tables);
    encodeTable(b.columns);
    for (const auto& t : b.rows) encodeTable(t);
    for (const auto& s : b.streams) {
        std::u16string stored = msi::encodeStreamName(s.name, false);
        ok = ok && stored.size() <= cfb::kMaxNameLength && SUCCEEDED(file->writeStream(cfb::kRootEntry, stored, s.data));
    }
    ok = ok && SUCCEEDED(file->writeStream(cfb::kRootEntry, msi::kSummaryStream, transformSummary(changed, reference, flags)));
    ok = ok && SUCCEEDED(file->commit());
    if (!ok) {
        file.reset();
        ::unlink(path.c_str());
        return ERROR_CREATE_FAILED;
    }
    return ERROR_SUCCESS;
}

}  // namespace

UINT generateTransform(Database& changed, Database& reference, const std::string* nativePath, const SummaryFlags& flags) {
    Builder b;
    b.pool.codepage = changed.pool.codepage;
    bool codepageChanged = changed.pool.codepage != reference.pool.codepage;

    auto changedNames = changed.tableNames(), referenceNames = reference.tableNames();
    for (const auto& name : changedNames) {
        UINT r;
        Table* ct = changed.table(name, &r);
        if (!ct) return ERROR_INSTALL_TRANSFORM_FAILURE;
        if (ct->temporary) continue;
        Table* rt = reference.hasTable(name) ? reference.table(name, &r) : nullptr;
        if (rt && rt->temporary) rt = nullptr;
        if (reference.hasTable(name) && !rt && r) return ERROR_INSTALL_TRANSFORM_FAILURE;
        if (!rt) {
            addNewTable(b, changed, *ct);
        } else if (UINT d = diffTable(b, changed, *ct, reference, *rt)) {
            return d;
        }
    }
    for (const auto& name : referenceNames) {
        Table* rt = reference.table(name);
        if (!rt || rt->temporary) continue;
        Table* ct = changed.hasTable(name) ? changed.table(name) : nullptr;
        if (!ct || ct->temporary) b.tables.records.emplace_back(uint16_t(0), Cells{b.ref(name)});
    }
    diffStreams(b, changed, reference);

    if (b.empty() && !codepageChanged) return ERROR_NO_DATA;
    if (!nativePath) return ERROR_SUCCESS;
    return writeFile(b, changed, reference, *nativePath, flags);
}

}  // namespace winsys::transform
