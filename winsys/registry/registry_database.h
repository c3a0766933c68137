// The process's connection to <prefix>/registry.db and the one-transaction-
// per-call rule. Other processes share the file; SQLite's locking (WAL and a
// busy time-out) serialises writers between them, a mutex between threads.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace winsys::registry {

// A prepared statement, finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bindBlob(int index, const std::vector<uint8_t>& bytes);

    // True while a row is available; throws on an SQLite error.
    bool step();
    void run();  // steps once, for statements that return no rows

    int64_t integer(int column) const;
    std::string text(int column) const;
    std::vector<uint8_t> blob(int column) const;

private:
    sqlite3_stmt* statement_ = nullptr;
};

// Thrown inside a transaction when SQLite fails; the call reports it as
// ERROR_REGISTRY_IO_FAILED after the rollback.
struct DatabaseError {
    int code;
};

enum class Access { Read, Write };

// Runs body inside one transaction (BEGIN IMMEDIATE for writes, so that two
// writers never interleave a read and a write) and returns its Windows error
// code. A body returning non-zero rolls back.
long inTransaction(Access access, const std::function<long(sqlite3*)>& body);

}  // namespace winsys::registry
