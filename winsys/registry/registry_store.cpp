// Key and value rows of the registry database.
#include "registry/registry_store.h"

#include <chrono>

#include "registry/registry_database.h"

namespace winsys::registry {

namespace {

// Now as a FILETIME: 100-ns ticks since 1601-01-01.
int64_t fileTimeNow() {
    constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochTicks + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

void touch(sqlite3* db, KeyId key) {
    Statement(db, "UPDATE keys SET written = ? WHERE id = ?").bind(1, fileTimeNow()).bind(2, key).run();
}

}  // namespace

bool keyExists(sqlite3* db, KeyId key) {
    Statement s(db, "SELECT 1 FROM keys WHERE id = ?");
    return s.bind(1, key).step();
}

std::optional<KeyId> findChild(sqlite3* db, KeyId parent, const std::string& folded) {
    Statement s(db, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
    s.bind(1, parent).bind(2, folded);
    if (!s.step()) return std::nullopt;
    return s.integer(0);
}

KeyId createChild(sqlite3* db, KeyId parent, const std::string& name, const std::string& folded) {
    Statement(db, "INSERT INTO keys(parent, name, folded, written) VALUES(?, ?, ?, ?)")
        .bind(1, parent)
        .bind(2, name)
        .bind(3, folded)
        .bind(4, fileTimeNow())
        .run();
    return sqlite3_last_insert_rowid(db);
}

bool hasChildren(sqlite3* db, KeyId key) {
    Statement s(db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
    return s.bind(1, key).step();
}

void deleteKey(sqlite3* db, KeyId key) {
    Statement(db, "DELETE FROM key_values WHERE key = ?").bind(1, key).run();
    Statement(db, "DELETE FROM keys WHERE id = ?").bind(1, key).run();
}

std::optional<StoredKey> childAt(sqlite3* db, KeyId parent, int64_t index) {
    Statement s(db, "SELECT name, written FROM keys WHERE parent = ? ORDER BY folded LIMIT 1 OFFSET ?");
    s.bind(1, parent).bind(2, index);
    if (!s.step()) return std::nullopt;
    return StoredKey{s.text(0), s.integer(1)};
}

std::optional<StoredValue> readValue(sqlite3* db, KeyId key, const std::string& folded) {
    Statement s(db, "SELECT name, type, data FROM key_values WHERE key = ? AND folded = ?");
    s.bind(1, key).bind(2, folded);
    if (!s.step()) return std::nullopt;
    return StoredValue{s.text(0), static_cast<uint32_t>(s.integer(1)), s.blob(2)};
}

void writeValue(sqlite3* db, KeyId key, const std::string& name, const std::string& folded, uint32_t type,
                const std::vector<uint8_t>& data) {
    // An existing value keeps the spelling of its name, as Windows does.
    Statement(db,
              "INSERT INTO key_values(key, name, folded, type, data) VALUES(?, ?, ?, ?, ?)"
              " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data")
        .bind(1, key)
        .bind(2, name)
        .bind(3, folded)
        .bind(4, static_cast<int64_t>(type))
        .bindBlob(5, data)
        .run();
    touch(db, key);
}

bool deleteValue(sqlite3* db, KeyId key, const std::string& folded) {
    Statement(db, "DELETE FROM key_values WHERE key = ? AND folded = ?").bind(1, key).bind(2, folded).run();
    if (sqlite3_changes(db) == 0) return false;
    touch(db, key);
    return true;
}

std::optional<StoredValue> valueAt(sqlite3* db, KeyId key, int64_t index) {
    Statement s(db, "SELECT name, type, data FROM key_values WHERE key = ? ORDER BY folded LIMIT 1 OFFSET ?");
    s.bind(1, key).bind(2, index);
    if (!s.step()) return std::nullopt;
    return StoredValue{s.text(0), static_cast<uint32_t>(s.integer(1)), s.blob(2)};
}

}  // namespace winsys::registry
