// Conversions between the fields of records and the cells tables store:
// integers with their bias, strings through the pool, OBJECT columns as a
// marker whose data lives in a stream of its own.
#include <string>

#include "column_type.h"
#include "view_internal.h"

namespace winsys::msi::views {
namespace {

std::u16string numberText(int64_t v) {
    std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

}  // namespace

bool parseInteger(std::u16string_view s, int32_t* out) {
    if (s.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (s[0] == u'-') { negative = true; i = 1; }
    if (i >= s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') return false;
        v = v * 10 + (s[i] - u'0');
        if (v > 0x80000000LL) return false;
    }
    if (negative) v = -v;
    if (v > 0x7FFFFFFF || v < -0x7FFFFFFFLL) return false;
    *out = int32_t(v);
    return true;
}

// The cell for a field in a column of `t`.
UINT fieldToCell(Table& t, size_t column, const Field& f, uint32_t* cell) {
    uint16_t type = t.columns[column].type;
    *cell = 0;
    if (f.kind == Field::Kind::Null) return ERROR_SUCCESS;
    if (isBinaryType(type)) {
        if (f.kind != Field::Kind::Stream) return ERROR_DATATYPE_MISMATCH;
        *cell = 1;
        return ERROR_SUCCESS;
    }
    if (isStringType(type)) {
        if (f.kind == Field::Kind::Stream) return ERROR_DATATYPE_MISMATCH;
        *cell = f.kind == Field::Kind::Integer ? t.pool->intern(numberText(f.integer)) : t.pool->intern(f.text);
        return ERROR_SUCCESS;
    }
    int32_t v;
    if (f.kind == Field::Kind::Integer) v = f.integer;
    else if (f.kind == Field::Kind::String && parseInteger(f.text, &v)) {}
    else return ERROR_DATATYPE_MISMATCH;
    if (v == INT32_MIN) return ERROR_SUCCESS;
    if (isLongType(type)) *cell = encodeLong(v);
    else if (v < -32767 || v > 32767) return ERROR_FUNCTION_FAILED;
    else *cell = encodeShort(v);
    return ERROR_SUCCESS;
}

bool missingRequired(const Table& t, CellView cells, std::u16string* column) {
    for (size_t c = 0; c < t.columns.size(); ++c)
        if (!isNullableType(t.columns[c].type) && cells[c] == 0) {
            if (column) *column = t.columns[c].name;
            return true;
        }
    return false;
}

Field cellToField(Database& db, const Source& s, size_t column, CellView cells) {
    Field f;
    const Table& t = *s.table;
    uint16_t type = t.columns[column].type;
    uint32_t cell = cells[column];
    if (cell == 0) return f;
    if (isBinaryType(type)) {
        if (s.kind == SourceKind::Storages) return f;
        std::u16string name =
            s.kind == SourceKind::Streams ? std::u16string(t.pool->text(cells[0])) : db.objectStreamName(t, cells);
        f.stream = db.readStream(name);
        if (f.stream) f.kind = Field::Kind::Stream;
    } else if (isStringType(type)) {
        f.kind = Field::Kind::String;
        f.text = t.pool->text(cell);
    } else {
        f.kind = Field::Kind::Integer;
        f.integer = decodeInteger(type, cell);
    }
    return f;
}

Field operandField(const sql::Operand& o, const std::vector<Field>& parameters) {
    Field f;
    switch (o.kind) {
    case sql::Operand::Kind::Integer: f.kind = Field::Kind::Integer; f.integer = o.integer; break;
    case sql::Operand::Kind::String:
        if (!o.text.empty()) { f.kind = Field::Kind::String; f.text = o.text; }
        break;
    case sql::Operand::Kind::Parameter:
        if (o.parameter <= parameters.size()) f = parameters[o.parameter - 1];
        break;
    default: break;
    }
    return f;
}

UINT setStatementCells(const Source& src, const std::vector<Selected>& selected, const std::vector<Field>& values,
                       Cells* cells, std::vector<const Field*>* objects) {
    Table& t = *src.table;
    objects->assign(t.columns.size(), nullptr);
    for (size_t i = 0; i < selected.size(); ++i) {
        size_t c = selected[i].column;
        if (UINT r = fieldToCell(t, c, values[i], &(*cells)[c])) return r == ERROR_DATATYPE_MISMATCH ? ERROR_FUNCTION_FAILED : r;
        (*objects)[c] = &values[i];
    }
    if (src.kind == SourceKind::User && missingRequired(t, *cells)) return ERROR_FUNCTION_FAILED;
    return ERROR_SUCCESS;
}

}  // namespace winsys::msi::views
