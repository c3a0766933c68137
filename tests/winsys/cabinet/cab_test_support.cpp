// POSIX callbacks and helpers for the cabinet module tests.
#include "cab_test_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace cabtest {
namespace {

CallbackLog g_log;

void NoteThread() {
    if (std::this_thread::get_id() != g_log.caller)
        g_log.foreignThread = true;
}

int PosixFlags(int oflag) {
    int flags = (oflag & 3) == 2 ? O_RDWR : (oflag & 3) == 1 ? O_WRONLY : O_RDONLY;
    if (oflag & 0x0008)
        flags |= O_APPEND;
    if (oflag & 0x0100)
        flags |= O_CREAT;
    if (oflag & 0x0200)
        flags |= O_TRUNC;
    if (oflag & 0x0400)
        flags |= O_EXCL;
    return flags | O_CLOEXEC;
}

void* Alloc(ULONG size) {
    NoteThread();
    ++g_log.allocations;
    return std::malloc(size);
}
void Free(void* p) {
    NoteThread();
    if (p)
        ++g_log.frees;
    std::free(p);
}

INT_PTR FciOpen(char* name, int oflag, int, int* err, void*) {
    NoteThread();
    int fd = ::open(name, PosixFlags(oflag), 0600);
    if (fd == -1)
        *err = errno;
    else
        ++g_log.opens;
    return fd;
}
UINT FciRead(INT_PTR hf, void* buffer, UINT cb, int* err, void*) {
    NoteThread();
    ssize_t n = ::read(static_cast<int>(hf), buffer, cb);
    if (n < 0)
        *err = errno;
    return static_cast<UINT>(n);
}
UINT FciWrite(INT_PTR hf, void* buffer, UINT cb, int* err, void*) {
    NoteThread();
    ssize_t n = ::write(static_cast<int>(hf), buffer, cb);
    if (n < 0)
        *err = errno;
    else
        g_log.bytesWritten += static_cast<uint64_t>(n);
    return static_cast<UINT>(n);
}
int FciClose(INT_PTR hf, int* err, void*) {
    NoteThread();
    ++g_log.closes;
    int r = ::close(static_cast<int>(hf));
    if (r != 0)
        *err = errno;
    return r;
}
long FciSeek(INT_PTR hf, long dist, int type, int* err, void*) {
    NoteThread();
    off_t r = ::lseek(static_cast<int>(hf), dist, type);
    if (r < 0)
        *err = errno;
    return static_cast<long>(r);
}
int FciDelete(char* name, int* err, void*) {
    NoteThread();
    g_log.deleted.emplace_back(name);
    int r = ::remove(name);
    if (r != 0)
        *err = errno;
    return r;
}
BOOL FciGetTemp(char* name, int size, void*) {
    NoteThread();
    static int counter = 0;
    std::string candidate = (fs::temp_directory_path() / ("cabtest-" + std::to_string(getpid()) +
                                                          "-" + std::to_string(++counter)))
                                .string();
    if (static_cast<int>(candidate.size()) >= size)
        return FALSE;
    std::memcpy(name, candidate.c_str(), candidate.size() + 1);
    g_log.tempFiles.push_back(candidate);
    return TRUE;
}
int FciPlaced(PCCAB, char* file, long, BOOL, void*) {
    NoteThread();
    g_log.placed.emplace_back(file);
    return 0;
}
long FciStatus(UINT type, ULONG cb1, ULONG cb2, void*) {
    NoteThread();
    ++g_log.statusCalls;
    if (type == statusFile) {
        g_log.statusFileCompressed += cb1;
        g_log.statusFileUncompressed += cb2;
    } else if (type == statusFolder) {
        ++g_log.statusFolderCalls;
    } else if (type == statusCabinet) {
        ++g_log.statusCabinetCalls;
        return static_cast<long>(cb2);
    }
    if (g_log.abortStatusAfter >= 0 && g_log.statusCalls > g_log.abortStatusAfter)
        return -1;
    return 0;
}
BOOL FciGetNext(PCCAB ccab, ULONG, void*) {
    NoteThread();
    ++g_log.getNextCalls;
    std::snprintf(ccab->szCab, sizeof ccab->szCab, "next%d.cab", ccab->iCab);
    return TRUE;
}

struct tm LocalTime(const fs::path& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    struct tm local {};
    localtime_r(&st.st_mtime, &local);
    return local;
}

INT_PTR FciOpenInfo(char* name, USHORT* date, USHORT* time, USHORT* attribs, int* err, void* pv) {
    NoteThread();
    struct stat st {};
    if (::stat(name, &st) != 0) {
        *err = errno;
        return -1;
    }
    *date = DosDate(name);
    *time = DosTime(name);
    auto it = g_log.attribsByPath.find(name);
    *attribs = it != g_log.attribsByPath.end() ? it->second : 0x20;
    return FciOpen(name, 0x8000, 0, err, pv);
}

// FDI side.
struct ExtractState {
    fs::path directory;
    ExtractOptions options;
    ExtractResult* result;
    int copies = 0;
};

// Bytes the FDI write callback still takes, or -1 for no limit.
long long g_writeBudget = -1;

INT_PTR FdiOpen(char* name, int oflag, int) {
    NoteThread();
    int fd = ::open(name, PosixFlags(oflag), 0600);
    if (fd != -1)
        ++g_log.opens;
    return fd;
}
UINT FdiRead(INT_PTR hf, void* buffer, UINT cb) {
    NoteThread();
    return static_cast<UINT>(::read(static_cast<int>(hf), buffer, cb));
}
UINT FdiWrite(INT_PTR hf, void* buffer, UINT cb) {
    NoteThread();
    if (g_writeBudget >= 0) {
        if (g_writeBudget < cb)
            return static_cast<UINT>(-1);
        g_writeBudget -= cb;
    }
    return static_cast<UINT>(::write(static_cast<int>(hf), buffer, cb));
}
int FdiClose(INT_PTR hf) {
    NoteThread();
    ++g_log.closes;
    return ::close(static_cast<int>(hf));
}
long FdiSeek(INT_PTR hf, long dist, int type) {
    NoteThread();
    return static_cast<long>(::lseek(static_cast<int>(hf), dist, type));
}

INT_PTR FdiNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION note) {
    NoteThread();
    auto& state = *static_cast<ExtractState*>(note->pv);
    state.result->notifications.push_back(type);
    switch (type) {
        case fdintCOPY_FILE: {
            ExtractedFile file;
            file.name = note->psz1;
            file.size = static_cast<uint32_t>(note->cb);
            file.date = note->date;
            file.time = note->time;
            file.attribs = note->attribs;
            file.folder = note->iFolder;
            state.result->files.push_back(file);
            if (state.copies++ == state.options.abortOnCopy)
                return -1;
            const auto& skip = state.options.skip;
            if (state.options.skipAll ||
                std::find(skip.begin(), skip.end(), note->psz1) != skip.end())
                return 0;
            fs::path target = state.directory / note->psz1;
            int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd != -1)
                ++g_log.opens;
            return fd;
        }
        case fdintCLOSE_FILE_INFO: {
            FdiClose(note->hf);
            if (!state.result->files.empty())
                state.result->files.back().closed = true;
            return TRUE;
        }
        default:
            return 0;
    }
}

}  // namespace

const CabinetApi& Api() {
    static CabinetApi api = [] {
        CabinetApi a;
        void* module = dlopen(CABINET_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            ADD_FAILURE() << "cannot load " << CABINET_MODULE_PATH << ": " << dlerror();
            return a;
        }
        auto get = [&](const char* name) { return dlsym(module, name); };
        a.fciCreate = reinterpret_cast<decltype(a.fciCreate)>(get("FCICreate"));
        a.fciAddFile = reinterpret_cast<decltype(a.fciAddFile)>(get("FCIAddFile"));
        a.fciFlushCabinet = reinterpret_cast<decltype(a.fciFlushCabinet)>(get("FCIFlushCabinet"));
        a.fciFlushFolder = reinterpret_cast<decltype(a.fciFlushFolder)>(get("FCIFlushFolder"));
        a.fciDestroy = reinterpret_cast<decltype(a.fciDestroy)>(get("FCIDestroy"));
        a.fdiCreate = reinterpret_cast<decltype(a.fdiCreate)>(get("FDICreate"));
        a.fdiCopy = reinterpret_cast<decltype(a.fdiCopy)>(get("FDICopy"));
        a.fdiIsCabinet = reinterpret_cast<decltype(a.fdiIsCabinet)>(get("FDIIsCabinet"));
        a.fdiDestroy = reinterpret_cast<decltype(a.fdiDestroy)>(get("FDIDestroy"));
        return a;
    }();
    return api;
}

CallbackLog& Log() {
    return g_log;
}
void ResetLog() {
    g_log = CallbackLog{};
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "cabtest-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
}
TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

uint16_t DosDate(const fs::path& file) {
    struct tm t = LocalTime(file);
    return static_cast<uint16_t>(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
}
uint16_t DosTime(const fs::path& file) {
    struct tm t = LocalTime(file);
    return static_cast<uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
}

BuildResult BuildCabinet(const fs::path& cabinet, const std::vector<SourceFile>& files,
                         const BuildOptions& options) {
    BuildResult result;
    const CabinetApi& api = Api();
    CCAB ccab{};
    ccab.cb = options.cb;
    ccab.cbFolderThresh = options.folderThreshold;
    ccab.cbReserveCFHeader = options.reserveHeader;
    ccab.cbReserveCFFolder = options.reserveFolder;
    ccab.cbReserveCFData = options.reserveData;
    ccab.iCab = options.iCab;
    ccab.setID = options.setID;
    ccab.fFailOnIncompressible = options.failOnIncompressible;
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s", cabinet.string().c_str());
    HFCI fci = api.fciCreate(&result.erf, FciPlaced, Alloc, Free, FciOpen, FciRead, FciWrite,
                             FciClose, FciSeek, FciDelete, FciGetTemp, &ccab, nullptr);
    if (!fci)
        return result;
    bool ok = true;
    for (const SourceFile& f : files) {
        std::string source = f.path.string();
        std::string name = f.name;
        if (!api.fciAddFile(fci, source.data(), name.data(), FALSE, FciGetNext, FciStatus,
                            FciOpenInfo, options.type)) {
            ok = false;
            break;
        }
        if (options.flushFolderAfterEach && !api.fciFlushFolder(fci, FciGetNext, FciStatus)) {
            ok = false;
            break;
        }
    }
    if (ok)
        ok = api.fciFlushCabinet(fci, options.getNextCabinet ? TRUE : FALSE, FciGetNext, FciStatus);
    EXPECT_TRUE(api.fciDestroy(fci));
    result.ok = ok;
    return result;
}

ExtractResult ExtractCabinet(const fs::path& cabinet, const fs::path& directory,
                             const ExtractOptions& options) {
    ExtractResult result;
    const CabinetApi& api = Api();
    long opensBefore = g_log.opens, closesBefore = g_log.closes;
    HFDI fdi = api.fdiCreate(Alloc, Free, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386,
                             &result.erf);
    if (!fdi)
        return result;
    ExtractState state{directory, options, &result};
    g_writeBudget = options.failWritesAfter;
    std::string dir = cabinet.parent_path().string() + "/";
    std::string name = cabinet.filename().string();
    result.ok = api.fdiCopy(fdi, name.data(), dir.data(), 0, FdiNotify, nullptr, &state);
    g_writeBudget = -1;
    EXPECT_TRUE(api.fdiDestroy(fdi));
    result.opens = g_log.opens - opensBefore;
    result.closes = g_log.closes - closesBefore;
    return result;
}

CabinetInfoResult InspectCabinet(const fs::path& cabinet) {
    CabinetInfoResult result;
    const CabinetApi& api = Api();
    HFDI fdi = api.fdiCreate(Alloc, Free, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386,
                             &result.erf);
    if (!fdi)
        return result;
    std::string path = cabinet.string();
    INT_PTR hf = FdiOpen(path.data(), 0x8000, 0);
    if (hf != -1) {
        result.ok = api.fdiIsCabinet(fdi, hf, &result.info);
        FdiClose(hf);
    }
    api.fdiDestroy(fdi);
    return result;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string TextBytes(size_t size, uint32_t seed) {
    static const char* words[] = {"cabinet", "folder",   "block", "deflate", "window", "history",
                                  "header",  "checksum", "file",  "date",    "time",   "attribute",
                                  "\n",      "the",      "of",    "and"};
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(size + 16);
    while (s.size() < size) {
        s += words[rng() % 16];
        s += ' ';
    }
    s.resize(size);
    return s;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    std::string text;
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + name) == 0;
}

}  // namespace cabtest
