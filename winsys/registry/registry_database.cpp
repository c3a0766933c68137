// Opens the registry database once per process (again after a fork: SQLite
// connections must not cross one) and runs each registry call as one
// transaction on it.
#include "registry/registry_database.h"

#include <unistd.h>

#include <mutex>

#include <windows.h>

#include "faults/faults.h"
#include "paths/paths.h"

namespace winsys::registry {

Statement::Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) throw DatabaseError{sqlite3_errcode(db)};
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindBlob(int index, const std::vector<uint8_t>& bytes) {
    // A zero-length blob must stay a blob, not NULL: bind a zeroblob then.
    if (bytes.empty())
        sqlite3_bind_zeroblob(statement_, index, 0);
    else
        sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw DatabaseError{rc};
}

void Statement::run() { step(); }

int64_t Statement::integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::string Statement::text(int column) const {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

std::vector<uint8_t> Statement::blob(int column) const {
    auto p = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
    size_t n = static_cast<size_t>(sqlite3_column_bytes(statement_, column));
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " written INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS key_values("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, folded));"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES"
    " (1, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),"
    " (2, 0, 'HKEY_CURRENT_USER', 'hkey_current_user'),"
    " (3, 0, 'HKEY_USERS', 'hkey_users');";

// Long enough for any real contention between processes; a writer holds the
// lock only for one call.
constexpr int kBusyTimeoutMs = 60000;

struct Connection {
    std::mutex mutex;
    sqlite3* db = nullptr;
    pid_t owner = 0;
};

Connection& connection() {
    static Connection instance;
    return instance;
}

bool exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

sqlite3* open() {
    std::string path = paths::prefixDirectory() + "/registry.db";
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // WAL lets readers go on while one process writes. On a file system
    // without shared memory it stays in rollback mode, which is still safe.
    exec(db, "PRAGMA journal_mode=WAL");
    if (!exec(db, "BEGIN IMMEDIATE") || !exec(db, kSchema) || !exec(db, "COMMIT")) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

}  // namespace

long inTransaction(Access access, const std::function<long(sqlite3*)>& body) {
    Connection& c = connection();
    std::lock_guard lock(c.mutex);
    if (c.db && c.owner != getpid()) c.db = nullptr;  // inherited through fork: abandon, never close
    if (!c.db) {
        c.db = open();
        if (!c.db) return ERROR_REGISTRY_IO_FAILED;
        c.owner = getpid();
    }
    if (!exec(c.db, access == Access::Write ? "BEGIN IMMEDIATE" : "BEGIN")) return ERROR_REGISTRY_IO_FAILED;
    long result;
    try {
        result = body(c.db);
    } catch (const DatabaseError&) {
        result = ERROR_REGISTRY_IO_FAILED;
    }
    if (result == ERROR_SUCCESS && access == Access::Write) {
        // An injected failure stands for a store that cannot take the write.
        if (uint32_t injected = faults::next(faults::Kind::Registry)) {
            exec(c.db, "ROLLBACK");
            return static_cast<long>(injected);
        }
        if (!exec(c.db, "COMMIT")) {
            exec(c.db, "ROLLBACK");
            return ERROR_REGISTRY_IO_FAILED;
        }
        return result;
    }
    exec(c.db, "ROLLBACK");  // reads end the same way: nothing to keep
    return result;
}

}  // namespace winsys::registry
