// Test support for the cabinet module: loads it by file name through dlopen,
// as LoadLibraryA does, and provides POSIX callbacks that record how the
// module uses them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fci.h"
#include "fdi.h"

namespace cabtest {

namespace fs = std::filesystem;

struct CabinetApi {
    decltype(&FCICreate) fciCreate = nullptr;
    decltype(&FCIAddFile) fciAddFile = nullptr;
    decltype(&FCIFlushCabinet) fciFlushCabinet = nullptr;
    decltype(&FCIFlushFolder) fciFlushFolder = nullptr;
    decltype(&FCIDestroy) fciDestroy = nullptr;
    decltype(&FDICreate) fdiCreate = nullptr;
    decltype(&FDICopy) fdiCopy = nullptr;
    decltype(&FDIIsCabinet) fdiIsCabinet = nullptr;
    decltype(&FDIDestroy) fdiDestroy = nullptr;
};

// The module, loaded once per test program; fails the test when it cannot be.
const CabinetApi& Api();

// A fresh directory, removed with its contents at the end of its scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// What the callbacks saw; checked by tests that care.
struct CallbackLog {
    std::thread::id caller = std::this_thread::get_id();
    bool foreignThread = false;
    long allocations = 0;
    long frees = 0;
    long opens = 0;
    long closes = 0;
    uint64_t bytesWritten = 0;  // through the FCI write callback, to any file
    std::vector<std::string> tempFiles;
    std::vector<std::string> deleted;
    std::vector<std::string> placed;
    uint64_t statusFileCompressed = 0;
    uint64_t statusFileUncompressed = 0;
    int statusFolderCalls = 0;
    int statusCabinetCalls = 0;
    int getNextCalls = 0;
    long abortStatusAfter = -1;  // answer -1 to the status callback after this many calls
    long statusCalls = 0;
    std::map<std::string, uint16_t> attribsByPath;  // overrides for get-open-info
};

CallbackLog& Log();
void ResetLog();

uint16_t DosDate(const fs::path& file);
uint16_t DosTime(const fs::path& file);

struct SourceFile {
    fs::path path;
    std::string name;  // name inside the cabinet
};

struct BuildOptions {
    TCOMP type = tcompTYPE_MSZIP;
    ULONG cb = 0x7FFFFFFF;
    ULONG folderThreshold = 0x7FFFFFFF;
    UINT reserveHeader = 0;
    UINT reserveFolder = 0;
    UINT reserveData = 0;
    int iCab = 1;
    USHORT setID = 12345;
    int failOnIncompressible = 0;
    bool flushFolderAfterEach = false;
    bool getNextCabinet = false;
};

struct BuildResult {
    bool ok = false;
    ERF erf{};
};

BuildResult BuildCabinet(const fs::path& cabinet, const std::vector<SourceFile>& files,
                         const BuildOptions& options = {});

struct ExtractedFile {
    std::string name;
    uint32_t size = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
    uint16_t folder = 0;
    bool closed = false;
};

struct ExtractOptions {
    bool skipAll = false;
    int abortOnCopy = -1;  // answer -1 to the n-th copy-file notification
    std::vector<std::string> skip;  // files not copied (0 to their copy-file notification)
    long long failWritesAfter = -1;  // bytes the write callback takes before it fails
};

struct ExtractResult {
    bool ok = false;
    ERF erf{};
    std::vector<ExtractedFile> files;
    std::vector<FDINOTIFICATIONTYPE> notifications;
    long opens = 0;
    long closes = 0;
};

// Extracts every file into `directory` (names are used as given).
ExtractResult ExtractCabinet(const fs::path& cabinet, const fs::path& directory,
                             const ExtractOptions& options = {});

// FDIIsCabinet on the file; ok false when it is not one.
struct CabinetInfoResult {
    bool ok = false;
    FDICABINETINFO info{};
    ERF erf{};
};
CabinetInfoResult InspectCabinet(const fs::path& cabinet);

void WriteFile(const fs::path& file, const std::string& bytes);
std::string ReadFile(const fs::path& file);
std::string RandomBytes(size_t size, uint32_t seed);
std::string TextBytes(size_t size, uint32_t seed);

// Runs a shell command; returns its exit status and collects its output.
int RunCommand(const std::string& command, std::string* output = nullptr);
bool HaveProgram(const std::string& name);

}  // namespace cabtest
