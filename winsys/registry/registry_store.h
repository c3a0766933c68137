// The registry's tree as rows: keys (with their parent) and values (type and
// bytes). Names are kept as given and matched through their folded form.
// Every function runs inside a transaction of registry_database.h.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsys::registry {

using KeyId = int64_t;

// The predefined roots have fixed rows; key ids are never reused, so a
// handle to a deleted key stays recognisably deleted.
constexpr KeyId kLocalMachine = 1;
constexpr KeyId kCurrentUser = 2;
constexpr KeyId kUsers = 3;

struct StoredValue {
    std::string name;  // UTF-8, as first written
    uint32_t type = 0;
    std::vector<uint8_t> data;  // as RegSetValueExW received it
};

struct StoredKey {
    std::string name;
    int64_t lastWrite = 0;  // FILETIME ticks
};

bool keyExists(sqlite3* db, KeyId key);
std::optional<KeyId> findChild(sqlite3* db, KeyId parent, const std::string& folded);
KeyId createChild(sqlite3* db, KeyId parent, const std::string& name, const std::string& folded);
bool hasChildren(sqlite3* db, KeyId key);
void deleteKey(sqlite3* db, KeyId key);
// The index-th child in case-insensitive name order.
std::optional<StoredKey> childAt(sqlite3* db, KeyId parent, int64_t index);

std::optional<StoredValue> readValue(sqlite3* db, KeyId key, const std::string& folded);
void writeValue(sqlite3* db, KeyId key, const std::string& name, const std::string& folded, uint32_t type,
                const std::vector<uint8_t>& data);
bool deleteValue(sqlite3* db, KeyId key, const std::string& folded);
// The index-th value in case-insensitive name order.
std::optional<StoredValue> valueAt(sqlite3* db, KeyId key, int64_t index);

}  // namespace winsys::registry
