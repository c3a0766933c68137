// What qltmsi install reads from a package: properties, the summary's source
// type and package code, and the rows of Directory, Component, Feature,
// FeatureComponents, Condition, File, Media and (for registry key paths)
// Registry.
#pragma once

#include <windows.h>
#include <msiquery.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_text.h"
#include "platform/installer_handle.h"

namespace qltmsi::install {

// A failure with the message the user sees.
struct InstallError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct DirectoryRow {
    WideString key, parent, defaultDir;  // parent empty for a root
};

struct ComponentRow {
    WideString key, componentId, directory;
    int attributes = 0;
    std::optional<WideString> keyPath;
    WideString condition;  // empty: always installed
};

struct FeatureRow {
    WideString key, parent;  // parent empty for a top-level feature
    int level = 0;
};

struct FeatureComponentRow {
    WideString feature, component;
};

// A Condition table row: when the condition holds, the feature gets the level.
struct FeatureConditionRow {
    WideString feature;
    int level = 0;
    WideString condition;
};

struct FileRow {
    WideString key, component, fileName;
    int size = 0;
    int attributes = 0;
    int sequence = 0;
};

struct MediaRow {
    int diskId = 0;
    int lastSequence = 0;
    WideString cabinet;  // "#stream", a file name beside the package, or empty
};

struct RegistryRow {
    int root = 0;
    WideString key;
    std::optional<WideString> name;
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
    std::map<WideString, WideString> properties;
    WideString packageCode;
    int sourceType = 0;
    std::vector<DirectoryRow> directories;
    std::vector<ComponentRow> components;
    std::vector<FeatureRow> features;
    std::vector<FeatureComponentRow> featureComponents;
    std::vector<FeatureConditionRow> featureConditions;
    std::vector<FileRow> files;
    std::vector<MediaRow> media;
    std::map<WideString, RegistryRow> registry;  // by Registry key

    WideString property(const WideString& name) const {
        auto it = properties.find(name);
        return it == properties.end() ? WideString() : it->second;
    }
};

PackageContents readPackage(MSIHANDLE database);

// Copies the _Streams row named to a file (Windows path).
void saveStream(MSIHANDLE database, const WideString& name, const WideString& path);

// The long name of a "short|long" file or folder name (the name itself when
// it has no '|').
WideString longName(WideView name);
WideString shortName(WideView name);

}  // namespace qltmsi::install
