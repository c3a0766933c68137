// Helpers for the Installer API tests: scratch files, wide text, and short
// ways to run a statement and read rows back.
#pragma once

#include <msidefs.h>
#include <msiquery.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace msitest {

inline std::u16string w(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string n(const std::u16string& s) { return std::string(s.begin(), s.end()); }

class ScratchDir {
public:
    ScratchDir() {
        char tmpl[] = "/tmp/qltmsi-msi-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline UINT run(MSIHANDLE db, const std::u16string& sql, MSIHANDLE params = 0) {
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewW(db, sql.c_str(), &view);
    if (r) return r;
    r = MsiViewExecute(view, params);
    MsiCloseHandle(view);
    return r;
}

inline std::u16string field(MSIHANDLE rec, UINT f) {
    DWORD cch = 0;
    MsiRecordGetStringW(rec, f, nullptr, &cch);
    std::u16string s(cch + 1, u'\0');
    cch += 1;
    MsiRecordGetStringW(rec, f, s.data(), &cch);
    s.resize(cch);
    return s;
}

// Rows of a query as "a|b|c" texts.
inline std::vector<std::string> rows(MSIHANDLE db, const std::u16string& sql, MSIHANDLE params = 0) {
    std::vector<std::string> out;
    MSIHANDLE view = 0, rec = 0;
    if (MsiDatabaseOpenViewW(db, sql.c_str(), &view) || MsiViewExecute(view, params)) {
        MsiCloseHandle(view);
        return {"<error>"};
    }
    while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
        std::string line;
        for (UINT i = 1; i <= MsiRecordGetFieldCount(rec); ++i) line += (i > 1 ? "|" : "") + n(field(rec, i));
        out.push_back(line);
        MsiCloseHandle(rec);
    }
    MsiCloseHandle(view);
    return out;
}

inline MSIHANDLE open(const std::string& path, LPCWSTR mode) {
    MSIHANDLE h = 0;
    return MsiOpenDatabaseW(w(path).c_str(), mode, &h) == ERROR_SUCCESS ? h : 0;
}

}  // namespace msitest
