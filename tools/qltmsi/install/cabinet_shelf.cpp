// Cabinet files and streams put where FDI can read a set of them.
#include "install/cabinet_shelf.h"

#include "install/package_contents.h"

namespace qltmsi::install {

CabinetShelf::~CabinetShelf() {
    for (const auto& file : saved_)
        DeleteFileW(file.c_str());
    if (!temporary_.empty())
        RemoveDirectoryW(temporary_.c_str());
}

WideString CabinetShelf::place(const WideString& cabinet, std::string& display) {
    if (cabinet.empty() || cabinet[0] != TEXT('#')) {
        display = toUtf8(folder_ + cabinet);
        return folder_ + cabinet;
    }
    display = "stream " + toUtf8(cabinet.substr(1)) + " of " + toUtf8(holder_);
    return saveStream(cabinet.substr(1));
}

NextCabinet CabinetShelf::nextOf(const WideString& cabinet) {
    bool embedded = !cabinet.empty() && cabinet[0] == TEXT('#');
    return [this, embedded](const WideString& name, std::string& failure) {
        if (!embedded) {
            if (GetFileAttributesW((folder_ + name).c_str()) != INVALID_FILE_ATTRIBUTES)
                return true;
            failure = "a file goes on in " + toUtf8(name) + ", which is not beside the package";
            return false;
        }
        try {
            saveStream(name);
            return true;
        } catch (const InstallError&) {
            failure = "a file goes on in " + toUtf8(name) + ", which the package does not hold";
            return false;
        }
    };
}

WideString CabinetShelf::saveStream(const WideString& name) {
    if (name.empty() || name.find_first_of(TEXT("\\/:")) != WideString::npos)
        throw InstallError("the cabinet stream name " + toUtf8(name) + " is not a file name");
    if (temporary_.empty()) {
        WCHAR temp[MAX_PATH + 1], path[MAX_PATH + 1];
        if (!GetTempPathW(MAX_PATH + 1, temp) || !GetTempFileNameW(temp, TEXT("qmc"), 0, path))
            throw InstallError("cannot make a temporary folder");
        DeleteFileW(path);
        if (!CreateDirectoryW(path, nullptr))
            throw InstallError("cannot make a temporary folder");
        temporary_ = path;
    }
    WideString file = temporary_ + TEXT("\\") + name;
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        saved_.push_back(file);
        install::saveStream(database_, name, file);
    }
    return file;
}

}  // namespace qltmsi::install
