// A view: one SQL statement prepared on a database. SELECT views produce
// rows for fetching and writing back; other statements act when executed.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "record.h"
#include "sql.h"

namespace winsys::msi {

// MSIMODIFY values.
enum class ModifyMode : int {
    Seek = -1, Refresh = 0, Insert = 1, Update = 2, Assign = 3, Replace = 4, Merge = 5, Delete = 6,
    InsertTemporary = 7, Validate = 8, ValidateNew = 9, ValidateField = 10, ValidateDelete = 11
};

class View {
public:
    // ERROR_BAD_QUERY_SYNTAX for text that does not parse or names unknown
    // tables or columns.
    static UINT open(std::shared_ptr<Database> db, std::u16string_view text, std::unique_ptr<View>* out);
    ~View();

    UINT execute(const Record* parameters);
    UINT fetch(std::unique_ptr<Record>* out);  // ERROR_NO_MORE_ITEMS at the end
    UINT modify(ModifyMode mode, Record& record);
    UINT close();
    UINT columnInfo(bool types, std::unique_ptr<Record>* out) const;
    // Column named by the last validation failure, and its MSIDBERROR code.
    int lastError(std::u16string* column) const;

    struct Source;
    struct Selected {
        size_t source = 0;
        size_t column = 0;
    };

private:
    View() = default;
    UINT resolve(bool atExecute);
    UINT runSelect();
    UINT runInsert();
    UINT runUpdate();
    UINT runDelete();
    UINT runCreate();
    UINT runAlter();
    UINT runDrop();

    std::shared_ptr<Database> db_;
    std::unique_ptr<sql::Statement> statement_;
    unsigned parameterCount_ = 0;
    std::vector<Field> parameters_;
    std::vector<std::unique_ptr<Source>> sources_;
    std::vector<Selected> selected_;
    std::vector<std::vector<Cells>> results_;
    size_t cursor_ = 0;
    bool executed_ = false;
    uint64_t serial_ = 0;
    uint64_t execution_ = 0;
    uint64_t resolvedSchema_ = 0;  // schema version the sources were resolved against
    int errorCode_ = 0;
    std::u16string errorColumn_;
};

}  // namespace winsys::msi
