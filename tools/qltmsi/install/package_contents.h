// What qltmsi install reads from a package: properties, the summary's source
// type and package code, and the rows of Directory, Component, File, Media
// and (for registry key paths) Registry.
#pragma once

#include <windows.h>
#include <msiquery.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qltmsi::install {

// A failure with the message the user sees.
struct InstallError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An installer handle that closes itself.
class MsiHandle {
  public:
    MsiHandle() = default;
    explicit MsiHandle(MSIHANDLE h) : h_(h) {}
    ~MsiHandle() {
        if (h_)
            MsiCloseHandle(h_);
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MSIHANDLE get() const { return h_; }
    MSIHANDLE* out() { return &h_; }

  private:
    MSIHANDLE h_ = 0;
};

struct DirectoryRow {
    std::u16string key, parent, defaultDir;  // parent empty for a root
};

struct ComponentRow {
    std::u16string key, componentId, directory;
    int attributes = 0;
    std::optional<std::u16string> keyPath;
};

struct FileRow {
    std::u16string key, component, fileName;
    int size = 0;
    int attributes = 0;
    int sequence = 0;
};

struct MediaRow {
    int diskId = 0;
    int lastSequence = 0;
    std::u16string cabinet;  // "#stream", a file name beside the package, or empty
};

struct RegistryRow {
    int root = 0;
    std::u16string key;
    std::optional<std::u16string> name;
};

// Summary word-count bits.
inline constexpr int kSourceShortNames = 0x1;
inline constexpr int kSourceCompressed = 0x2;
// File attributes that override the package's compression.
inline constexpr int kFileNoncompressed = 0x2000;
inline constexpr int kFileCompressed = 0x4000;
// Component attributes.
inline constexpr int kComponentRegistryKeyPath = 0x4;
inline constexpr int kComponent64Bit = 0x100;

struct PackageContents {
    std::map<std::u16string, std::u16string> properties;
    std::u16string packageCode;
    int sourceType = 0;
    std::vector<DirectoryRow> directories;
    std::vector<ComponentRow> components;
    std::vector<FileRow> files;
    std::vector<MediaRow> media;
    std::map<std::u16string, RegistryRow> registry;  // by Registry key

    std::u16string property(const std::u16string& name) const {
        auto it = properties.find(name);
        return it == properties.end() ? std::u16string() : it->second;
    }
};

PackageContents readPackage(MSIHANDLE database);

// Copies the _Streams row named to a file (Windows path).
void saveStream(MSIHANDLE database, const std::u16string& name, const std::u16string& path);

// The long name of a "short|long" file or folder name (the name itself when
// it has no '|').
std::u16string longName(std::u16string_view name);
std::u16string shortName(std::u16string_view name);

}  // namespace qltmsi::install
