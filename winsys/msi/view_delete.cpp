// DELETE FROM, and the removal of one row through any table a view reads.
#include "view_internal.h"

namespace winsys::msi {

UINT views::applyDelete(Database& db, Source& s, const Cells& key) {
    Table& t = *s.table;
    switch (s.kind) {
    case SourceKind::User: return db.deleteRow(t, key);
    case SourceKind::Streams:
    case SourceKind::Storages: {
        if (!t.hasRow(key)) return ERROR_FUNCTION_FAILED;
        std::u16string_view name = t.pool->text(key[0]);
        if (UINT r = s.kind == SourceKind::Streams ? db.removeStream(name) : db.removeStorage(name)) return r;
        t.eraseRow(key);
        return ERROR_SUCCESS;
    }
    default: return ERROR_FUNCTION_FAILED;
    }
}

using namespace views;

UINT View::runDelete() {
    auto& s = std::get<sql::Delete>(*statement_);
    auto where = compileWhere(s.where.get(), sources_, parameters_);
    for (const Cells& key : matchingKeys(sources_, where.get()))
        if (UINT r = applyDelete(*db_, *sources_[0], key)) return r;
    return ERROR_SUCCESS;
}

}  // namespace winsys::msi
