// Tables as text in the archive (idt) form of MsiDatabaseExport: a line of
// column names, a line of column types, a line with the table name and its
// key columns, then one line per row; tab-separated, CR LF line ends.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <string>
#include <string_view>

#include "database.h"

namespace winsys::msi {

// A table (also "_ForceCodepage", "_SummaryInformation", "_Tables" and
// "_Columns") as idt text. ERROR_INVALID_TABLE for an unknown table.
UINT exportTable(Database& db, std::u16string_view table, std::u16string* out);

// Reads idt text into the database: creates the table when missing and
// inserts or replaces rows. `folder` is where OBJECT data files are found
// (<folder>/<Table>/<file>).
UINT importTable(Database& db, std::u16string_view text, const std::string& folder);

}  // namespace winsys::msi
