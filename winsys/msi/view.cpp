// A view's life: prepare, execute (handing the statement to its operator's
// file), close, and the column descriptions MsiViewGetColumnInfo reports.
// Each statement kind lives in a view_<operator>.cpp of its own; what they
// share is in view_internal.h.
#include "view.h"

#include <atomic>

#include "column_type.h"
#include "view_internal.h"

namespace winsys::msi {
namespace {

// Serials tie a fetched record to the view and the execution it came from.
std::atomic<uint64_t> nextSerial{1};

}  // namespace

UINT View::open(std::shared_ptr<Database> db, std::u16string_view text, std::unique_ptr<View>* out) {
    std::unique_ptr<View> v(new View());
    v->db_ = std::move(db);
    v->statement_ = sql::parse(text, &v->parameterCount_);
    if (!v->statement_) return ERROR_BAD_QUERY_SYNTAX;
    v->serial_ = nextSerial++;
    if (UINT r = v->resolve(false)) return r;
    *out = std::move(v);
    return ERROR_SUCCESS;
}

View::~View() = default;

UINT View::execute(const Record* parameters) {
    parameters_.clear();
    if (parameters)
        for (unsigned i = 1; i <= parameters->count(); ++i) parameters_.push_back(parameters->fields[i]);
    if (parameterCount_ > 0 && !parameters) return ERROR_FUNCTION_FAILED;
    results_.clear();
    cursor_ = 0;
    executed_ = false;
    if (UINT r = resolve(true)) return r;
    execution_ = nextSerial++;
    UINT r = std::visit(
        [&](auto& s) -> UINT {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, sql::Select>) return runSelect();
            else if constexpr (std::is_same_v<T, sql::Insert>) return runInsert();
            else if constexpr (std::is_same_v<T, sql::Update>) return runUpdate();
            else if constexpr (std::is_same_v<T, sql::Delete>) return runDelete();
            else if constexpr (std::is_same_v<T, sql::CreateTable>) return runCreate();
            else if constexpr (std::is_same_v<T, sql::DropTable>) return runDrop();
            else return runAlter();
        },
        *statement_);
    if (r == ERROR_SUCCESS) executed_ = true;
    return r;
}

UINT View::close() {
    results_.clear();
    cursor_ = 0;
    executed_ = false;
    return ERROR_SUCCESS;
}

UINT View::columnInfo(bool types, std::unique_ptr<Record>* out) const {
    if (!std::holds_alternative<sql::Select>(*statement_)) return ERROR_FUNCTION_FAILED;
    auto rec = std::make_unique<Record>(unsigned(selected_.size()));
    for (size_t i = 0; i < selected_.size(); ++i) {
        const Column& c = sources_[selected_[i].source]->table->columns[selected_[i].column];
        Field& f = rec->fields[i + 1];
        f.kind = Field::Kind::String;
        if (types) {
            std::string text = columnTypeText(c.type);
            f.text = std::u16string(text.begin(), text.end());
        } else {
            f.text = c.name;
        }
    }
    *out = std::move(rec);
    return ERROR_SUCCESS;
}

int View::lastError(std::u16string* column) const {
    if (column) *column = errorColumn_;
    return errorCode_;
}

}  // namespace winsys::msi
