// Modules over the dynamic loader. An HMODULE is the address at which a
// module's file is mapped (what dladdr calls its base), as on Windows, so
// that a module found by address and one loaded by name compare equal.
// LoadLibrary of a bare name appends ".dll" when the name has no extension and
// looks, ignoring case, for <name> and then <name>.so in: the directory of
// libwinsys itself, the directory of the main program, and the prefix's
// C:\windows\system32. A name with a path loads that file.
#include <windows.h>

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/text.h"
#include "paths/paths.h"

namespace {

struct LoadedModule {
    void* handle;  // from dlopen
    unsigned references;
};

std::mutex modulesLock;
std::map<uintptr_t, LoadedModule> loadedModules;  // by base address

BOOL failWith(DWORD code) {
    SetLastError(code);
    return FALSE;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string mainProgramPath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string winsysPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&GetModuleFileNameW), &info) && info.dli_fname) {
        if (char* real = realpath(info.dli_fname, nullptr)) {
            std::string path = real;
            free(real);
            return path;
        }
        return info.dli_fname;
    }
    return {};
}

// The base address of the module that a dlopen handle stands for.
HMODULE baseOf(void* handle) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    Dl_info info{};
    if (map->l_ld && dladdr(map->l_ld, &info) && info.dli_fbase)
        return static_cast<HMODULE>(info.dli_fbase);
    return reinterpret_cast<HMODULE>(map->l_addr);
}

// The file of a module, from its base address (null: the main program).
std::optional<std::string> fileOf(HMODULE module) {
    if (!module)
        return mainProgramPath();
    Dl_info info{};
    if (!dladdr(module, &info) || info.dli_fbase != module || !info.dli_fname)
        return std::nullopt;
    std::string name = info.dli_fname;
    if (name.empty() || name.find('/') == std::string::npos) {
        // The main program is listed without a usable name.
        std::string main = mainProgramPath();
        return main.empty() ? std::nullopt : std::optional(main);
    }
    if (char* real = realpath(name.c_str(), nullptr)) {
        name = real;
        free(real);
    }
    return name;
}

std::optional<std::string> findInDirectory(const std::string& directory, const std::string& name) {
    for (const std::string& candidate : {name, name + ".so"}) {
        std::string exact = directory + "/" + candidate;
        struct stat st;
        if (stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return exact;
    }
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return std::nullopt;
    std::optional<std::string> plain, withSuffix;
    while (const dirent* entry = readdir(dir)) {
        if (!plain && winsys::text::equalsIgnoreCase(entry->d_name, name))
            plain = directory + "/" + entry->d_name;
        if (!withSuffix && winsys::text::equalsIgnoreCase(entry->d_name, name + ".so"))
            withSuffix = directory + "/" + entry->d_name;
    }
    closedir(dir);
    return plain ? plain : withSuffix;
}

std::optional<std::string> searchModule(std::string name, DWORD* error) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        name += ".dll";
    std::vector<std::string> directories;
    if (std::string own = winsysPath(); !own.empty())
        directories.push_back(directoryOf(own));
    if (std::string main = mainProgramPath(); !main.empty())
        directories.push_back(directoryOf(main));
    if (auto system = winsys::paths::toNative(u"C:\\windows\\system32"))
        directories.push_back(*system);
    for (const auto& directory : directories)
        if (auto found = findInDirectory(directory, name))
            return found;
    *error = ERROR_MOD_NOT_FOUND;
    return std::nullopt;
}

HMODULE loadModule(const std::u16string& name) {
    if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string native;
    DWORD error = ERROR_MOD_NOT_FOUND;
    bool hasPath = name.find_first_of(u"\\/:") != std::u16string::npos;
    if (hasPath) {
        unsigned pathError = 0;
        // A native absolute path (from a host caller) is taken as it is.
        auto mapped = name[0] == u'/' ? std::optional(winsys::text::toUtf8(name))
                                      : winsys::paths::toNative(name, &pathError);
        if (!mapped) {
            SetLastError(pathError == ERROR_PATH_NOT_FOUND ? ERROR_MOD_NOT_FOUND : pathError);
            return nullptr;
        }
        native = *mapped;
        struct stat st;
        if (stat(native.c_str(), &st) != 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    } else {
        auto found = searchModule(winsys::text::toUtf8(name), &error);
        if (!found) {
            SetLastError(error);
            return nullptr;
        }
        native = *found;
    }
    void* handle = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    HMODULE base = baseOf(handle);
    if (!base) {
        dlclose(handle);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    std::lock_guard guard(modulesLock);
    auto [entry, added] =
        loadedModules.try_emplace(reinterpret_cast<uintptr_t>(base), LoadedModule{handle, 0});
    if (!added)
        dlclose(handle);  // the loader counts too; one dlopen per module is enough
    ++entry->second.references;
    return base;
}

// Shared by the A and W forms, which differ only in the width of the text.
template <class Char>
DWORD copyOut(std::basic_string_view<Char> text, Char* buffer, DWORD size) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() >= size) {
        // Windows truncates, terminates and reports the full buffer.
        text.copy(buffer, size - 1);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(text.size());
}

}  // namespace

extern "C" {

WINSYS_EXPORT HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return loadModule(name);
}

WINSYS_EXPORT HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return loadModule(winsys::text::toUtf16(name));
}

WINSYS_EXPORT FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (!name || IS_INTRESOURCE(name)) {
        // Ordinals have no meaning for shared objects.
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* handle = nullptr;
    bool opened = false;
    {
        std::lock_guard guard(modulesLock);
        if (auto found = loadedModules.find(reinterpret_cast<uintptr_t>(module));
            found != loadedModules.end())
            handle = found->second.handle;
    }
    if (!handle) {
        if (!module) {
            handle = dlopen(nullptr, RTLD_NOW);
        } else {
            auto file = fileOf(module);
            if (!file) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            handle = file == mainProgramPath() ? dlopen(nullptr, RTLD_NOW)
                                               : dlopen(file->c_str(), RTLD_NOW | RTLD_NOLOAD);
        }
        if (!handle) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        opened = true;
    }
    void* symbol = dlsym(handle, name);
    if (opened)
        dlclose(handle);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

WINSYS_EXPORT BOOL WINAPI FreeLibrary(HMODULE module) {
    void* handle = nullptr;
    {
        std::lock_guard guard(modulesLock);
        auto found = loadedModules.find(reinterpret_cast<uintptr_t>(module));
        if (found == loadedModules.end()) {
            // A module this process did not load by name (the program, winsys):
            // the loader keeps it, as Windows keeps statically linked modules.
            Dl_info info{};
            if (module && dladdr(module, &info) && info.dli_fbase == module)
                return TRUE;
            return failWith(ERROR_MOD_NOT_FOUND);
        }
        if (--found->second.references == 0) {
            handle = found->second.handle;
            loadedModules.erase(found);
        }
    }
    if (handle)
        dlclose(handle);
    return TRUE;
}

WINSYS_EXPORT DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    auto file = fileOf(module);
    if (!file) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return copyOut<char16_t>(winsys::paths::toWindows(*file), buffer, size);
}

WINSYS_EXPORT DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    auto file = fileOf(module);
    if (!file) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return copyOut<char>(winsys::text::toUtf8(winsys::paths::toWindows(*file)), buffer, size);
}

WINSYS_EXPORT HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    if (!name) {
        void* main = dlopen(nullptr, RTLD_NOW);
        HMODULE base = main ? baseOf(main) : nullptr;
        if (main)
            dlclose(main);
        return base;
    }
    // A loaded module whose file name matches, with or without ".dll"/".so".
    std::u16string wanted(name);
    size_t slash = wanted.find_last_of(u"\\/");
    if (slash != std::u16string::npos)
        wanted = wanted.substr(slash + 1);
    if (wanted.find(u'.') == std::u16string::npos)
        wanted += u".dll";
    struct Search {
        std::u16string wanted;
        HMODULE found = nullptr;
    } search{wanted};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name)
                return 0;
            std::string_view path(info->dlpi_name);
            std::u16string file = winsys::text::toUtf16(path.substr(path.rfind('/') + 1));
            if (winsys::text::equalsIgnoreCase(file, s->wanted) ||
                winsys::text::equalsIgnoreCase(file, s->wanted + u".so")) {
                Dl_info dl{};
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    if (info->dlpi_phdr[i].p_type == PT_LOAD &&
                        dladdr(
                            reinterpret_cast<void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr),
                            &dl)) {
                        s->found = static_cast<HMODULE>(dl.dli_fbase);
                        return 1;
                    }
                }
            }
            return 0;
        },
        &search);
    if (!search.found)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return search.found;
}

WINSYS_EXPORT HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (!name)
        return GetModuleHandleW(nullptr);
    std::u16string wide = winsys::text::toUtf16(name);
    return GetModuleHandleW(wide.c_str());
}

WINSYS_EXPORT BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    if (!module)
        return failWith(ERROR_INVALID_PARAMETER);
    *module = nullptr;
    if (flags & ~static_cast<DWORD>(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                                    GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS))
        return failWith(ERROR_INVALID_PARAMETER);
    if ((flags & GET_MODULE_HANDLE_EX_FLAG_PIN) &&
        (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))
        return failWith(ERROR_INVALID_PARAMETER);
    if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info{};
        if (!name || !dladdr(reinterpret_cast<const void*>(name), &info) || !info.dli_fbase)
            return failWith(ERROR_MOD_NOT_FOUND);
        *module = static_cast<HMODULE>(info.dli_fbase);
        return TRUE;
    }
    // Reference counts of modules found this way are left to the loader.
    *module = GetModuleHandleW(name);
    return *module ? TRUE : FALSE;
}
}
