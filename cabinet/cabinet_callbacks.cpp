// The cabinet library's callbacks over the C runtime's low-level file calls
// and the Windows file-time and attribute calls.
#include "cabinet/cabinet_callbacks.h"

#include "platform/temporary_files.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const char tempNameDirectory[1] = "";
char extractDestination[kExtractDestinationBytes] = "";

namespace {

// Scratch names made for the compressor and not yet opened by it.
std::vector<std::string> handedOutScratchNames;

bool HandOutScratchName(const char* name) {
    try {
        handedOutScratchNames.emplace_back(name);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool TakeHandedOutScratchName(const char* name) {
    for (auto at = handedOutScratchNames.begin(); at != handedOutScratchNames.end(); ++at) {
        if (*at == name) {
            handedOutScratchNames.erase(at);
            return true;
        }
    }
    return false;
}

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        default:
            return EIO;
    }
}

constexpr USHORT kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Created new, never opened over a file already there.
constexpr int kExtractFlags = _O_BINARY | _O_CREAT | _O_EXCL | _O_WRONLY | _O_SEQUENTIAL;
constexpr int kMostNameVariants = 999;
constexpr int kExtractMode = _S_IREAD | _S_IWRITE;

// A name that, joined to a directory, names a file directly inside it.
bool StaysInDirectory(const char* name) {
    if (name == nullptr || name[0] == 0) {
        return false;
    }
    if (std::strpbrk(name, "\\/:") != nullptr) {
        return false;
    }
    // "." and ".." and the longer runs of dots that Windows trims to them.
    return std::strspn(name, ".") != std::strlen(name);
}

// Sets the extracted file's times from the cabinet's DOS date and time, as
// both creation and last-write time; failures leave the times it has.
void SetExtractedFileTime(const char* path, USHORT date, USHORT time) {
    const HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    FILETIME local{};
    FILETIME universal{};
    if (DosDateTimeToFileTime(date, time, &local) == 1 &&
        LocalFileTimeToFileTime(&local, &universal) == 1) {
        SetFileTime(file, &universal, nullptr, &universal);
    }
    CloseHandle(file);
}

// Creates the file at `path`, or, when a file of that name is already there
// (two names in the cabinet that differ only in case, on a file system that
// does not tell them apart), at the first free "path~N", which `path` then
// holds. The descriptor, or -1.
int CreateExtractedFile(char* path, size_t capacity) {
    int file = _open(path, kExtractFlags, kExtractMode);
    const size_t length = std::strlen(path);
    for (int variant = 1; file == -1 && errno == EEXIST && variant <= kMostNameVariants;
         ++variant) {
        char suffix[16];
        const int suffixLength = std::snprintf(suffix, sizeof suffix, "~%d", variant);
        if (length + static_cast<size_t>(suffixLength) >= capacity) {
            break;
        }
        std::memcpy(path + length, suffix, static_cast<size_t>(suffixLength) + 1);
        file = _open(path, kExtractFlags, kExtractMode);
    }
    if (file == -1) {
        path[length] = 0;
    }
    return file;
}

}  // namespace

bool ExtractionPath(const char* name, char* path, size_t capacity) {
    if (!StaysInDirectory(name)) {
        return false;
    }
    const size_t directoryLength = strnlen(extractDestination, sizeof extractDestination);
    const size_t nameLength = std::strlen(name);
    if (directoryLength >= sizeof extractDestination || directoryLength + nameLength >= capacity) {
        return false;
    }
    std::memcpy(path, extractDestination, directoryLength);
    std::memcpy(path + directoryLength, name, nameLength + 1);
    return true;
}

FNFCIALLOC(CabAlloc) {
    return std::malloc(cb);
}

FNFCIFREE(CabFree) {
    std::free(memory);
}

FNFCIOPEN(FciOpenFile) {
    (void)pv;
    // A scratch name handed out below is a file already, made so that no
    // other process can take the name while it is listed as this one's.
    const bool scratch = (oflag & _O_EXCL) != 0 && TakeHandedOutScratchName(pszFile);
    if (scratch) {
        oflag = (oflag & ~_O_EXCL) | _O_TRUNC;
    }
    const int fd = _open(pszFile, oflag, pmode);
    if (fd == -1) {
        *err = errno;
        // The compressor deletes only what it opened.
        if (scratch) {
            WCHAR wide[MAX_PATH + 1] = {};
            if (MultiByteToWideChar(CP_ACP, 0, pszFile, -1, wide, MAX_PATH + 1) != 0) {
                DeleteTemporaryFile(wide);
            }
        }
    }
    return fd;
}

FNFCIREAD(FciReadFile) {
    (void)pv;
    const UINT done = static_cast<UINT>(_read(static_cast<int>(hf), memory, cb));
    if (done != cb) {
        *err = errno;
    }
    return done;
}

FNFCIWRITE(FciWriteFile) {
    (void)pv;
    const UINT done = static_cast<UINT>(_write(static_cast<int>(hf), memory, cb));
    if (done != cb) {
        *err = errno;
    }
    return done;
}

FNFCICLOSE(FciCloseFile) {
    (void)pv;
    const int result = _close(static_cast<int>(hf));
    if (result != 0) {
        *err = errno;
    }
    return result;
}

FNFCISEEK(FciSeekFile) {
    (void)pv;
    const long position = _lseek(static_cast<int>(hf), dist, seektype);
    if (position == -1) {
        *err = errno;
    }
    return position;
}

FNFCIDELETE(FciDeleteFile) {
    (void)pv;
    // Scratch files are listed as temporary files: they leave the list
    // before they go.
    WCHAR wide[MAX_PATH + 1] = {};
    if (MultiByteToWideChar(CP_ACP, 0, pszFile, -1, wide, MAX_PATH + 1) == 0) {
        const int result = _unlink(pszFile);
        if (result != 0) {
            *err = errno;
        }
        return result;
    }
    if (DeleteTemporaryFile(wide)) {
        return 0;
    }
    *err = ErrnoOf(GetLastError());
    return -1;
}

FNFCIGETTEMPFILE(FciGetTempFile) {
    (void)pv;
    WCHAR wide[MAX_PATH + 1] = {};
    if (MakeTemporaryFileInTempFolder(TEXT("qlc"), wide) == 0) {
        return FALSE;
    }
    char narrow[MAX_PATH + 1] = {};
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr,
                                          &lossy);
    const bool fits = bytes > 0 && !lossy && cbTempName > 0 && bytes <= cbTempName;
    if (!fits || !HandOutScratchName(narrow)) {
        DeleteTemporaryFile(wide);
        return FALSE;
    }
    std::memcpy(pszTempName, narrow, static_cast<size_t>(bytes));
    return TRUE;
}

FNFCIGETOPENINFO(FciGetOpenInfo) {
    // The error record is left alone: -1 alone fails the add.
    (void)err;
    (void)pv;
    const HANDLE file = CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) {
        CloseHandle(file);
        return -1;
    }
    FILETIME local{};
    FileTimeToLocalFileTime(&information.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, pdate, ptime);
    const DWORD attributes = GetFileAttributesA(pszName);
    *pattribs = attributes == INVALID_FILE_ATTRIBUTES
                    ? 0
                    : static_cast<USHORT>(attributes & kKeptAttributes);
    CloseHandle(file);
    return _open(pszName, _O_RDONLY | _O_BINARY);
}

FNFCIFILEPLACED(CabAnswerZero) {
    (void)pccab, (void)pszFile, (void)cbFile, (void)fContinuation, (void)pv;
    return 0;
}

FNFCISTATUS(CabAnswerZero) {
    (void)typeStatus, (void)cb1, (void)cb2, (void)pv;
    return 0;
}

FNFCIGETNEXTCABINET(CabAnswerTrue) {
    (void)pccab, (void)cbPrevCab, (void)pv;
    return TRUE;
}

FNOPEN(FdiOpenFile) {
    return _open(pszFile, oflag, pmode);
}

FNREAD(FdiReadFile) {
    return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb));
}

FNWRITE(FdiWriteFile) {
    return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb));
}

FNCLOSE(FdiCloseFile) {
    return _close(static_cast<int>(hf));
}

FNSEEK(FdiSeekFile) {
    return _lseek(static_cast<int>(hf), dist, seektype);
}

FNFDINOTIFY(FdiNotify) {
    char path[kExtractedPathBytes];
    switch (fdint) {
        case fdintCOPY_FILE: {
            // A name that would leave the extraction directory, or a path that
            // does not fit, ends the extraction.
            if (!ExtractionPath(pfdin->psz1, path, sizeof path)) {
                return -1;
            }
            const int file = CreateExtractedFile(path, sizeof path);
            if (file != -1 && pfdin->pv != nullptr) {
                static_cast<ExtractedFiles*>(pfdin->pv)->push_back({pfdin->psz1, path});
            }
            return file;
        }
        case fdintCLOSE_FILE_INFO: {
            // The file just copied is the last one listed, under the path it
            // really got.
            auto* extracted = static_cast<ExtractedFiles*>(pfdin->pv);
            bool named = false;
            if (extracted != nullptr && !extracted->empty()) {
                const std::string& written = extracted->back().path;
                named = written.size() < sizeof path;
                if (named) {
                    std::memcpy(path, written.c_str(), written.size() + 1);
                }
            } else {
                named = ExtractionPath(pfdin->psz1, path, sizeof path);
            }
            _close(static_cast<int>(pfdin->hf));
            if (!named) {
                return FALSE;
            }
            SetExtractedFileTime(path, pfdin->date, pfdin->time);
            SetFileAttributesA(path, pfdin->attribs & kKeptAttributes);
            return TRUE;
        }
        default:
            return 0;
    }
}
