// The locator. A File row matches an installed path when its FileName names
// the file (one name, or short and long joined by '|') and its component's
// key path lies in the file's directory; directories are compared in their
// short forms. Names found on disk or given by the caller travel as `?`
// values of the statements, never inside their text.
#include "update/locate_file.h"

#include "platform/ascii_text.h"
#include "platform/platform_calls.h"

#include <vector>

namespace {

using Text = std::basic_string<WCHAR>;

constexpr DWORD kDatabaseTextChars = 1024;
constexpr DWORD kPathChars = MAX_PATH + 1;

// The short form of an existing path, or empty when it has none.
Text ShortForm(const Text& path) {
    WidePath buffer{};
    const DWORD length = platformCalls.shortPathName(path.c_str(), buffer.data(), kPathChars);
    if (length == 0 || length >= kPathChars) {
        return Text();
    }
    return Text(buffer.data());
}

Text Stripped(Text path) {
    path.resize(std::char_traits<WCHAR>::length(StripTrailingSeparators(path.data())));
    return path;
}

struct InstalledName {
    Text fileName;
    Text shortDirectory;
    std::vector<Text> candidates;  // FileName values asked for, in order
};

UINT SplitInstalledPath(const Text& path, InstalledName& name) {
    const size_t separator = path.rfind(TEXT('\\'));
    if (separator == Text::npos) {
        return ERROR_BAD_QUERY_SYNTAX;
    }
    name.fileName = path.substr(separator + 1);
    name.shortDirectory = ShortForm(Stripped(path.substr(0, separator + 1)));
    name.candidates.push_back(name.fileName);

    const Text shortPath = ShortForm(path);
    if (!shortPath.empty()) {
        const size_t shortSeparator = shortPath.rfind(TEXT('\\'));
        if (shortSeparator == Text::npos) {
            return ERROR_BAD_QUERY_SYNTAX;
        }
        const Text shortName = shortPath.substr(shortSeparator + 1);
        if (!EqualsIgnoringAsciiCase(shortName, name.fileName)) {
            const Text pair = shortName + TEXT('|') + name.fileName;
            name.candidates.push_back(pair);
            name.candidates.push_back(LowerAscii(pair));
            name.candidates.push_back(UpperAscii(pair));
        }
    }
    name.candidates.push_back(LowerAscii(name.fileName));
    name.candidates.push_back(UpperAscii(name.fileName));
    return ERROR_SUCCESS;
}

// "SELECT * FROM `File` WHERE `FileName`=? OR `FileName`=? ..." with one `?`
// per candidate, and the record of their values.
Text NameQuery(size_t candidates) {
    Text query = TEXT("SELECT * FROM `File` WHERE `FileName`=?");
    for (size_t i = 1; i < candidates; ++i) {
        query += TEXT(" OR `FileName`=?");
    }
    return query;
}

MsiHandle ValuesRecord(const std::vector<Text>& values) {
    MsiHandle record(MsiCreateRecord(static_cast<UINT>(values.size())));
    for (size_t i = 0; i < values.size(); ++i) {
        MsiRecordSetStringW(record.get(), static_cast<UINT>(i + 1), values[i].c_str());
    }
    return record;
}

// Whether the component's key path, reduced to its directory, is the
// installed file's directory.
bool ComponentInDirectory(const PatchContext& context, const Text& componentId,
                          const Text& shortDirectory) {
    WidePath keyPath{};
    DWORD count = kPathChars;
    const INSTALLSTATE state = MsiGetComponentPathW(context.productCode->c_str(),
                                                    componentId.c_str(), keyPath.data(), &count);
    if (state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE) {
        return false;
    }
    Text directory(keyPath.data());
    // A failed attributes call has the directory bit too: the path stays whole.
    if ((platformCalls.fileAttributes(directory.c_str()) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const size_t separator = directory.rfind(TEXT('\\'));
        if (separator != Text::npos) {
            directory.resize(separator);
        }
    }
    const Text shortForm = ShortForm(Stripped(directory));
    return !shortForm.empty() && EqualsIgnoringAsciiCase(shortForm, shortDirectory);
}

bool ComponentIdOf(MSIHANDLE database, const Text& component, Text& componentId) {
    MsiHandle parameters(MsiCreateRecord(1));
    MsiRecordSetStringW(parameters.get(), 1, component.c_str());
    MsiHandle view;
    MsiHandle row;
    return OpenExecutedView(database,
                            TEXT("SELECT `ComponentId` FROM `Component` WHERE `Component`=?"),
                            parameters.get(), view) == ERROR_SUCCESS &&
           MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS &&
           ReadRecordText(row.get(), 1, kDatabaseTextChars, componentId) == ERROR_SUCCESS;
}

bool FirstPass(const PatchContext& context, const InstalledName& name, MsiHandle& fileView,
               MsiHandle& fileRecord) {
    MsiHandle values = ValuesRecord(name.candidates);
    MsiHandle view;
    if (OpenExecutedView(context.database, NameQuery(name.candidates.size()).c_str(),
                         values.get(), view) != ERROR_SUCCESS) {
        return false;
    }
    MsiHandle row;
    while (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        Text component;
        Text componentId;
        if (ReadRecordText(row.get(), 2, kDatabaseTextChars, component) != ERROR_SUCCESS ||
            component.empty() || !ComponentIdOf(context.database, component, componentId)) {
            continue;
        }
        if (ComponentInDirectory(context, componentId, name.shortDirectory)) {
            fileView = std::move(view);
            fileRecord = std::move(row);
            return true;
        }
    }
    return false;
}

// A FileName matches when it, or either side of its last '|', is the name.
bool FileNameMatches(const Text& value, const Text& fileName) {
    const size_t bar = value.rfind(TEXT('|'));
    if (bar == Text::npos) {
        return EqualsIgnoringAsciiCase(value, fileName);
    }
    return EqualsIgnoringAsciiCase(WideView(value).substr(0, bar), fileName) ||
           EqualsIgnoringAsciiCase(WideView(value).substr(bar + 1), fileName);
}

bool FileOfComponent(MSIHANDLE database, const Text& component, const Text& fileName,
                     MsiHandle& fileView, MsiHandle& fileRecord) {
    MsiHandle parameters(MsiCreateRecord(1));
    MsiRecordSetStringW(parameters.get(), 1, component.c_str());
    MsiHandle view;
    if (OpenExecutedView(database, TEXT("SELECT * FROM `File` WHERE `Component_` = ?"),
                         parameters.get(), view) != ERROR_SUCCESS) {
        return false;
    }
    MsiHandle row;
    while (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        Text value;
        if (ReadRecordText(row.get(), 3, kDatabaseTextChars, value) == ERROR_SUCCESS &&
            FileNameMatches(value, fileName)) {
            fileView = std::move(view);
            fileRecord = std::move(row);
            return true;
        }
    }
    return false;
}

UINT SecondPass(const PatchContext& context, const InstalledName& name, MsiHandle& fileView,
                MsiHandle& fileRecord) {
    MsiHandle view;
    if (OpenExecutedView(context.database, TEXT("SELECT `ComponentId`,`Component` FROM `Component`"),
                         0, view) != ERROR_SUCCESS) {
        return ERROR_NO_MORE_ITEMS;
    }
    MsiHandle row;
    while (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        Text componentId;
        Text component;
        if (ReadRecordText(row.get(), 1, kDatabaseTextChars, componentId) != ERROR_SUCCESS ||
            !ComponentInDirectory(context, componentId, name.shortDirectory) ||
            ReadRecordText(row.get(), 2, kDatabaseTextChars, component) != ERROR_SUCCESS) {
            continue;
        }
        if (FileOfComponent(context.database, component, name.fileName, fileView, fileRecord)) {
            return ERROR_SUCCESS;
        }
    }
    return ERROR_NO_MORE_ITEMS;
}

}  // namespace

LPWSTR StripTrailingSeparators(LPWSTR path) {
    size_t length = std::char_traits<WCHAR>::length(path);
    while (length > 1 && path[length - 1] == TEXT('\\')) {
        path[--length] = 0;
    }
    return path;
}

UINT LocateFile(const PatchContext& context, LPCWSTR installedFilePath, MsiHandle& fileView,
                MsiHandle& fileRecord) {
    const Text path(installedFilePath);
    if (path.size() > MAX_PATH) {
        return ERROR_BAD_QUERY_SYNTAX;
    }
    InstalledName name;
    const UINT status = SplitInstalledPath(path, name);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!context.productCode) {
        return ERROR_NO_MORE_ITEMS;
    }
    if (FirstPass(context, name, fileView, fileRecord)) {
        return ERROR_SUCCESS;
    }
    return SecondPass(context, name, fileView, fileRecord);
}
