// Export and import of tables in idt form.
#include "idt.h"

#include <msidefs.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "codepage.h"
#include "column_type.h"
#include "summary_info.h"
#include "view.h"

namespace winsys::msi {
namespace {

// Characters that would break the line structure travel as control codes.
void appendEscaped(std::u16string& out, std::u16string_view text) {
    for (char16_t c : text) {
        if (c == u'\t') c = 0x10;
        else if (c == u'\r') c = 0x11;
        else if (c == u'\n') c = 0x19;
        out.push_back(c);
    }
}

std::u16string unescape(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if (c == 0x10) c = u'\t';
        else if (c == 0x11) c = u'\r';
        else if (c == 0x19) c = u'\n';
    }
    return out;
}

std::u16string ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::u16string number(int64_t v) { return ascii(std::to_string(v)); }

std::u16string filetimeText(uint64_t ft) {
    time_t t = time_t(ft / 10000000ULL) - 11644473600LL;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return ascii(buf);
}

UINT exportSummary(Database& db, std::u16string* out) {
    *out = u"PropertyId\tValue\r\ni2\tl255\r\n_SummaryInformation\tPropertyId\r\n";
    auto stream = db.readStream(kSummaryStream);
    if (!stream) return ERROR_SUCCESS;
    std::vector<uint8_t> bytes(stream->size());
    size_t done = 0;
    if (FAILED(stream->readAt(0, bytes.data(), bytes.size(), &done))) return ERROR_FUNCTION_FAILED;
    auto info = decodeSummaryInfo(bytes);
    if (!info) return ERROR_FUNCTION_FAILED;
    for (const auto& [pid, p] : info->properties) {
        *out += number(pid);
        out->push_back(u'\t');
        switch (p.type) {
        case VT_I2: *out += number(pid == PID_CODEPAGE ? uint16_t(p.integer) : p.integer); break;
        case VT_I4: *out += number(p.integer); break;
        case VT_FILETIME: *out += filetimeText(p.filetime); break;
        case VT_LPSTR: appendEscaped(*out, p.text); break;
        default: break;
        }
        *out += u"\r\n";
    }
    return ERROR_SUCCESS;
}

}  // namespace

UINT exportTable(Database& db, std::u16string_view name, std::u16string* out) {
    out->clear();
    if (name == u"_ForceCodepage") {
        *out = u"\r\n\r\n" + number(db.pool.codepage) + u"\t_ForceCodepage\r\n";
        return ERROR_SUCCESS;
    }
    if (name == u"_SummaryInformation") return exportSummary(db, out);
    if (name == kTablesTable || name == kColumnsTable) {
        std::unique_ptr<View> view;
        if (View::open(std::shared_ptr<Database>(std::shared_ptr<Database>(), &db), u"SELECT * FROM `" + std::u16string(name) + u"`", &view))
            return ERROR_INVALID_TABLE;
        std::unique_ptr<Record> names, types, rec;
        view->columnInfo(false, &names);
        view->columnInfo(true, &types);
        for (unsigned i = 1; i <= names->count(); ++i) *out += (i > 1 ? u"\t" : u"") + names->fields[i].text;
        *out += u"\r\n";
        for (unsigned i = 1; i <= types->count(); ++i) *out += (i > 1 ? u"\t" : u"") + types->fields[i].text;
        *out += u"\r\n" + std::u16string(name) + u"\r\n";
        if (UINT r = view->execute(nullptr)) return r;
        while (view->fetch(&rec) == ERROR_SUCCESS) {
            for (unsigned i = 1; i <= rec->count(); ++i) {
                if (i > 1) out->push_back(u'\t');
                const Field& f = rec->fields[i];
                if (f.kind == Field::Kind::Integer) *out += number(f.integer);
                else appendEscaped(*out, f.text);
            }
            *out += u"\r\n";
        }
        return ERROR_SUCCESS;
    }
    UINT r;
    Table* t = db.table(name, &r);
    if (!t) return r;
    for (size_t c = 0; c < t->columns.size(); ++c) *out += (c ? u"\t" : u"") + t->columns[c].name;
    *out += u"\r\n";
    for (size_t c = 0; c < t->columns.size(); ++c) *out += (c ? u"\t" : u"") + ascii(columnTypeText(t->columns[c].type));
    *out += u"\r\n" + t->name;
    for (size_t k : t->keyColumns) *out += u"\t" + t->columns[k].name;
    *out += u"\r\n";
    for (const auto& row : t->rows) {
        for (size_t c = 0; c < t->columns.size(); ++c) {
            if (c) out->push_back(u'\t');
            uint32_t cell = row.cells[c];
            if (!cell) continue;
            uint16_t type = t->columns[c].type;
            if (isBinaryType(type)) *out += db.objectStreamName(*t, row.cells);
            else if (isStringType(type)) appendEscaped(*out, t->pool->text(cell));
            else *out += number(decodeInteger(type, cell));
        }
        *out += u"\r\n";
    }
    return ERROR_SUCCESS;
}

namespace {

std::vector<std::u16string> splitTabs(std::u16string_view line) {
    std::vector<std::u16string> out;
    size_t start = 0;
    while (true) {
        size_t tab = line.find(u'\t', start);
        out.emplace_back(line.substr(start, tab == std::u16string_view::npos ? std::u16string_view::npos : tab - start));
        if (tab == std::u16string_view::npos) return out;
        start = tab + 1;
    }
}

bool typeFromText(std::u16string_view text, uint16_t* type) {
    if (text.size() < 2) return false;
    char16_t letter = text[0];
    int size = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        size = size * 10 + (text[i] - u'0');
        if (size > 255) return false;
    }
    bool nullable = letter >= u'A' && letter <= u'Z';
    char16_t lower = nullable ? char16_t(letter + 32) : letter;
    using namespace coltype;
    switch (lower) {
    case u's': *type = kValid | kFixedSize | kString | uint16_t(size); break;
    case u'l': *type = kValid | kFixedSize | kString | kLocalizable | uint16_t(size); break;
    case u'v': *type = kValid | kString; break;
    case u'i':
        if (size == 4) *type = kValid | 4;
        else if (size == 2) *type = kValid | kFixedSize | 2;
        else return false;
        break;
    default: return false;
    }
    if (nullable) *type |= kNullable;
    return true;
}

bool parseNumber(std::u16string_view text, int64_t* out) {
    if (text.empty()) return false;
    bool negative = text[0] == u'-';
    int64_t v = 0;
    for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        v = v * 10 + (text[i] - u'0');
        if (v > 0xFFFFFFFFLL) return false;
    }
    *out = negative ? -v : v;
    return true;
}

// "yyyy/mm/dd hh:mm:ss" (UTC) as a FILETIME count.
bool parseFiletime(std::u16string_view text, uint64_t* out) {
    int f[6] = {};
    std::string s(text.begin(), text.end());
    if (std::sscanf(s.c_str(), "%d/%d/%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) != 6) return false;
    struct tm tm {};
    tm.tm_year = f[0] - 1900;
    tm.tm_mon = f[1] - 1;
    tm.tm_mday = f[2];
    tm.tm_hour = f[3];
    tm.tm_min = f[4];
    tm.tm_sec = f[5];
    time_t t = timegm(&tm);
    if (t < -11644473600LL) return false;
    *out = uint64_t(t + 11644473600LL) * 10000000ULL;
    return true;
}

UINT importSummary(Database& db, const std::vector<std::u16string>& lines) {
    SummaryInfo info;
    if (auto stream = db.readStream(kSummaryStream)) {
        std::vector<uint8_t> bytes(stream->size());
        size_t done = 0;
        if (SUCCEEDED(stream->readAt(0, bytes.data(), bytes.size(), &done)))
            if (auto old = decodeSummaryInfo(bytes)) info = std::move(*old);
    }
    for (size_t l = 3; l < lines.size(); ++l) {
        if (lines[l].empty()) continue;
        auto values = splitTabs(lines[l]);
        int64_t pid;
        if (values.size() != 2 || !parseNumber(values[0], &pid) || pid < 0 || pid >= 20) return ERROR_FUNCTION_FAILED;
        SummaryProperty p;
        p.type = summaryPropertyType(uint32_t(pid));
        int64_t number = 0;
        switch (p.type) {
        case VT_I2:
        case VT_I4:
            if (!parseNumber(values[1], &number)) return ERROR_FUNCTION_FAILED;
            p.integer = int32_t(number);
            break;
        case VT_FILETIME:
            if (!parseFiletime(values[1], &p.filetime)) return ERROR_FUNCTION_FAILED;
            break;
        case VT_LPSTR: p.text = unescape(values[1]); break;
        default: return ERROR_FUNCTION_FAILED;
        }
        info.properties[uint32_t(pid)] = std::move(p);
    }
    auto bytes = encodeSummaryInfo(info);
    if (!bytes) return ERROR_FUNCTION_FAILED;
    return db.writeStream(kSummaryStream, cfb::bytesSource(std::move(*bytes)));
}

}  // namespace

namespace {

// The file an OBJECT cell names, <folder>/<Table>/<cell> with the names in
// UTF-8; nothing for names no file can have.
std::optional<std::string> objectFile(const std::string& folder, std::u16string_view table,
                                      std::u16string_view cell) {
    if (table.find(u'\0') != table.npos || cell.find(u'\0') != cell.npos) return std::nullopt;
    auto tableName = encodeCodepage(kCodepageUtf8, table);
    auto cellName = encodeCodepage(kCodepageUtf8, cell);
    if (!tableName || !cellName) return std::nullopt;
    return folder + "/" + *tableName + "/" + *cellName;
}

// The bytes of a regular file; false for anything else (a folder opens but
// cannot be read) and for a read that fails.
bool readObjectFile(const std::string& path, std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    uint8_t buffer[65536];
    while (ok) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    close(fd);
    return ok;
}

}  // namespace

UINT importTable(Database& db, std::u16string_view text, const std::string& folder) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        std::u16string_view line = text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    if (lines.size() < 3) return ERROR_FUNCTION_FAILED;
    auto header = splitTabs(lines[2]);
    if (header.size() >= 2 && header[1] == u"_ForceCodepage") {
        int32_t cp = 0;
        for (char16_t c : header[0]) {
            if (c < u'0' || c > u'9') return ERROR_FUNCTION_FAILED;
            cp = cp * 10 + (c - u'0');
            if (cp > 65535) return ERROR_FUNCTION_FAILED;
        }
        if (!isSupportedCodepage(unsigned(cp))) return ERROR_FUNCTION_FAILED;
        db.pool.codepage = unsigned(cp);
        return ERROR_SUCCESS;
    }
    if (header[0] == u"_SummaryInformation") return importSummary(db, lines);
    auto names = splitTabs(lines[0]);
    auto typeTexts = splitTabs(lines[1]);
    if (names.size() != typeTexts.size() || header.size() < 2) return ERROR_FUNCTION_FAILED;
    std::u16string tableName = header[0];
    if (!db.hasTable(tableName)) {
        Table t;
        t.name = tableName;
        for (size_t i = 0; i < names.size(); ++i) {
            Column c{names[i], 0};
            if (!typeFromText(typeTexts[i], &c.type)) return ERROR_FUNCTION_FAILED;
            if (std::find(header.begin() + 1, header.end(), names[i]) != header.end()) c.type |= coltype::kKey;
            t.columns.push_back(std::move(c));
        }
        for (size_t i = 0; i < t.columns.size(); ++i)
            if (isKeyType(t.columns[i].type)) t.keyColumns.push_back(i);
        if (t.keyColumns.empty()) return ERROR_FUNCTION_FAILED;
        if (UINT r = db.createTable(std::move(t))) return r;
    }
    UINT r;
    Table* t = db.table(tableName, &r);
    if (!t) return r;
    if (t->columns.size() != names.size()) return ERROR_FUNCTION_FAILED;
    for (size_t l = 3; l < lines.size(); ++l) {
        if (lines[l].empty()) continue;
        auto values = splitTabs(lines[l]);
        if (values.size() != names.size()) return ERROR_FUNCTION_FAILED;
        Cells cells(names.size(), 0);
        std::vector<std::pair<size_t, std::string>> objects;
        for (size_t c = 0; c < names.size(); ++c) {
            if (values[c].empty()) continue;
            uint16_t type = t->columns[c].type;
            if (isBinaryType(type)) {
                auto file = objectFile(folder, tableName, values[c]);
                if (!file) return ERROR_FUNCTION_FAILED;
                objects.emplace_back(c, *file);
                cells[c] = 1;
            } else if (isStringType(type)) {
                cells[c] = t->pool->intern(unescape(values[c]));
            } else {
                int64_t v = 0;
                bool negative = values[c][0] == u'-';
                for (size_t i = negative ? 1 : 0; i < values[c].size(); ++i) {
                    if (values[c][i] < u'0' || values[c][i] > u'9') return ERROR_FUNCTION_FAILED;
                    v = v * 10 + (values[c][i] - u'0');
                    if (v > 0x7FFFFFFF) return ERROR_FUNCTION_FAILED;
                }
                if (negative) v = -v;
                if (!isLongType(type) && (v < -32767 || v > 32767)) return ERROR_FUNCTION_FAILED;
                cells[c] = isLongType(type) ? encodeLong(int32_t(v)) : encodeShort(int32_t(v));
            }
        }
        Cells key = t->keyOf(cells);
        if (t->hasRow(key)) {
            if (UINT e = db.updateRow(*t, key, cells)) return e;
        } else if (UINT e = db.insertRow(*t, cells, false)) {
            return e;
        }
        for (auto& [c, file] : objects) {
            std::vector<uint8_t> bytes;
            if (!readObjectFile(file, bytes)) return ERROR_FUNCTION_FAILED;
            if (UINT e = db.writeStream(db.objectStreamName(*t, cells), cfb::bytesSource(std::move(bytes)))) return e;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace winsys::msi
