// FDI-driven extraction. All file access of FDI goes through the callbacks
// below, which use the Windows file calls, so cabinet and targets are named
// by Windows paths (UTF-8 on FDI's narrow side).
#include "install/cabinet_extraction.h"

#include <windows.h>
#include <fdi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_text.h"
#include "install/package_contents.h"

namespace qltmsi::install {

namespace {

struct Extraction {
    const std::map<WideString, WideString>* targets;
    std::set<WideString> written;
    WideString current;
    std::string failure;
    std::map<WideString, long>* listing = nullptr;  // set: only list members
    const NextCabinet* next = nullptr;
};

FNALLOC(allocate) {
    return std::malloc(cb);
}
FNFREE(release) {
    std::free(pv);
}

FNOPEN(openFile) {
    (void)pmode;
    WideString path = toWide(pszFile);
    DWORD access = (oflag & (_O_WRONLY | _O_RDWR)) ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD creation =
        (oflag & _O_CREAT) ? ((oflag & _O_EXCL) ? CREATE_NEW : CREATE_ALWAYS) : OPEN_EXISTING;
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, creation,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
}

FNREAD(readFile) {
    DWORD read = 0;
    return ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &read, nullptr) ? read : UINT(-1);
}

FNWRITE(writeFile) {
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &written, nullptr) ? written : UINT(-1);
}

FNCLOSE(closeFile) {
    return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}

FNSEEK(seekFile) {
    DWORD position = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, DWORD(seektype));
    return position == INVALID_SET_FILE_POINTER ? -1 : long(position);
}

FNFDINOTIFY(notify) {
    auto* job = static_cast<Extraction*>(pfdin->pv);
    switch (fdint) {
        case fdintCOPY_FILE: {
            WideString member = toWide(pfdin->psz1);
            if (job->listing) {
                (*job->listing)[member] = pfdin->cb;
                return 0;
            }
            auto target = job->targets->find(member);
            if (target == job->targets->end())
                return 0;  // not wanted: skip
            HANDLE file = CreateFileW(target->second.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                job->failure = "cannot create " + toUtf8(target->second);
                return -1;
            }
            job->current = member;
            return reinterpret_cast<INT_PTR>(file);
        }
        case fdintCLOSE_FILE_INFO:
            CloseHandle(reinterpret_cast<HANDLE>(pfdin->hf));
            job->written.insert(job->current);
            return TRUE;
        case fdintPARTIAL_FILE:
            // Begun in an earlier cabinet of the set: in this one only in part.
            if (job->listing)
                job->listing->emplace(toWide(pfdin->psz1), kContinuedMember);
            return 0;
        case fdintNEXT_CABINET: {
            // FDI asks again when the cabinet is still missing; say why once.
            if (!job->failure.empty())
                return -1;
            WideString name = toWide(pfdin->psz1);
            if (!job->next || !*job->next || !(*job->next)(name, job->failure)) {
                if (job->failure.empty())
                    job->failure = "a file goes on in the cabinet " + toUtf8(name) +
                                   ", which cannot be found";
                return -1;
            }
            return 0;
        }
        default:
            return 0;
    }
}

// Reading a whole cabinet: each member's target is the MemberReading that
// counts its bytes, so that FDI decompresses everything and writes nowhere.
// FDI writes only to targets; it closes one itself when it stops inside it,
// which the close callback must tell from the cabinet's own handles.
thread_local CabinetReading* t_reading = nullptr;
thread_local const NextCabinet* t_next = nullptr;

bool isCounter(INT_PTR hf) {
    if (!t_reading)
        return false;
    for (auto& [name, member] : t_reading->members)
        if (reinterpret_cast<INT_PTR>(&member) == hf)
            return true;
    return false;
}

FNWRITE(countBytes) {
    (void)pv;
    reinterpret_cast<MemberReading*>(hf)->delivered += cb;
    return cb;
}

FNCLOSE(closeUnlessCounter) {
    return isCounter(hf) ? 0 : closeFile(hf);
}

FNFDINOTIFY(notifyReading) {
    switch (fdint) {
        case fdintCOPY_FILE: {
            MemberReading& member = t_reading->members[toWide(pfdin->psz1)];
            member = MemberReading{pfdin->cb, 0, false};
            return reinterpret_cast<INT_PTR>(&member);
        }
        case fdintCLOSE_FILE_INFO:
            reinterpret_cast<MemberReading*>(pfdin->hf)->complete = true;
            return TRUE;
        case fdintPARTIAL_FILE: {
            MemberReading& member = t_reading->members[toWide(pfdin->psz1)];
            member = MemberReading{kContinuedMember, 0, false, true};
            return 0;
        }
        case fdintNEXT_CABINET: {
            // FDI asks again when the cabinet is still missing; say why once.
            if (!t_reading->damage.empty())
                return -1;
            WideString name = toWide(pfdin->psz1);
            if (!t_next || !*t_next || !(*t_next)(name, t_reading->damage)) {
                if (t_reading->damage.empty())
                    t_reading->damage = "a file goes on in the cabinet " + toUtf8(name) +
                                        ", which cannot be found";
                return -1;
            }
            return 0;
        }
        default:
            return 0;
    }
}

std::string fdiFailure(int code) {
    switch (code) {
        case FDIERROR_CABINET_NOT_FOUND:
            return "the cabinet cannot be opened";
        case FDIERROR_NOT_A_CABINET:
            return "not a cabinet";
        case FDIERROR_UNKNOWN_CABINET_VERSION:
            return "a cabinet version FDI does not know";
        case FDIERROR_CORRUPT_CABINET:
            return "damaged (a header, a data block or its checksum is wrong)";
        case FDIERROR_ALLOC_FAIL:
            return "out of memory";
        case FDIERROR_BAD_COMPR_TYPE:
            return "a compression FDI does not read";
        case FDIERROR_MDI_FAIL:
            return "damaged (compressed data does not decompress)";
        case FDIERROR_WRONG_CABINET:
            return "the next cabinet of its set is not the right one";
        default:
            return "FDI error " + std::to_string(code);
    }
}

struct CabinetModule {
    HMODULE module = LoadLibraryA("CABINET");
    ~CabinetModule() {
        if (module)
            FreeLibrary(module);
    }
    template <typename F>
    F entry(const char* name) const {
        // Through void*: FARPROC is a placeholder type, not the entry's own.
        return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                      : nullptr;
    }
};

}  // namespace

std::vector<WideString> createFolders(const WideString& folder) {
    std::vector<WideString> created;
    WideString path;
    for (size_t i = 0; i < folder.size(); ++i) {
        path += folder[i];
        bool end = i + 1 == folder.size();
        if ((folder[i] == TEXT('\\') || end) && path.size() > 3) {
            WideString name = path;
            if (name.back() == TEXT('\\'))
                name.pop_back();
            if (CreateDirectoryW(name.c_str(), nullptr))
                created.push_back(name);
            else if (GetLastError() != ERROR_ALREADY_EXISTS)
                throw InstallError("cannot create the folder " + toUtf8(name));
        }
    }
    return created;
}

namespace {

void runFdi(const WideString& cabinetPath, const std::string& display, Extraction& job) {
    CabinetModule cabinet;
    using Create = decltype(&FDICreate);
    using Copy = decltype(&FDICopy);
    using Destroy = decltype(&FDIDestroy);
    auto create = cabinet.entry<Create>("FDICreate");
    auto copy = cabinet.entry<Copy>("FDICopy");
    auto destroy = cabinet.entry<Destroy>("FDIDestroy");
    if (!create || !copy || !destroy)
        throw InstallError("cannot load the cabinet module CABINET");

    ERF error{};
    HFDI fdi = create(allocate, release, openFile, readFile, writeFile, closeFile, seekFile,
                      cpuUNKNOWN, &error);
    if (!fdi)
        throw InstallError("the cabinet module could not start");
    std::string name = toUtf8(fileNameOf(cabinetPath));
    std::string folder = toUtf8(folderOf(cabinetPath));
    BOOL ok = copy(fdi, name.data(), folder.data(), 0, notify, nullptr, &job);
    destroy(fdi);
    if (!job.failure.empty())
        throw InstallError("cannot read the cabinet " + display + ": " + job.failure);
    if (!ok)
        throw InstallError("cannot read the cabinet " + display + " (" +
                           fdiFailure(error.erfOper) + ")");
}

}  // namespace

std::set<WideString> extractCabinet(const WideString& cabinetPath, const std::string& display,
                                    const std::map<WideString, WideString>& targets,
                                    const NextCabinet& next) {
    Extraction job{&targets, {}, {}, {}};
    job.next = &next;
    runFdi(cabinetPath, display, job);
    return job.written;
}

CabinetReading readCabinet(const WideString& cabinetPath, const NextCabinet& next) {
    CabinetModule cabinet;
    auto create = cabinet.entry<decltype(&FDICreate)>("FDICreate");
    auto copy = cabinet.entry<decltype(&FDICopy)>("FDICopy");
    auto destroy = cabinet.entry<decltype(&FDIDestroy)>("FDIDestroy");
    if (!create || !copy || !destroy)
        throw InstallError("cannot load the cabinet module CABINET");
    CabinetReading reading;
    ERF error{};
    HFDI fdi = create(allocate, release, openFile, readFile, countBytes, closeUnlessCounter,
                      seekFile, cpuUNKNOWN, &error);
    if (!fdi)
        throw InstallError("the cabinet module could not start");
    std::string name = toUtf8(fileNameOf(cabinetPath));
    std::string folder = toUtf8(folderOf(cabinetPath));
    t_reading = &reading;
    t_next = &next;
    BOOL ok = copy(fdi, name.data(), folder.data(), 0, notifyReading, nullptr, nullptr);
    t_reading = nullptr;
    t_next = nullptr;
    destroy(fdi);
    if (!ok && reading.damage.empty())
        reading.damage = fdiFailure(error.erfOper);
    return reading;
}

std::map<WideString, long> listCabinet(const WideString& cabinetPath, const std::string& display) {
    std::map<WideString, long> members;
    std::map<WideString, WideString> none;
    Extraction job{&none, {}, {}, {}, &members};
    runFdi(cabinetPath, display, job);
    return members;
}

}  // namespace qltmsi::install
