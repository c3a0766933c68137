// The platform call table: which calls it holds, and that the narrow
// fallbacks answer exactly as the wide calls do, run side by side.
#include "library_test_support.h"

#include "platform/narrow_fallbacks.h"
#include "platform/object_namespaces.h"

#include <sstream>

namespace library_test {
namespace {

constexpr DWORD kNtVersion = 0x1DB10106;
constexpr DWORD kWindows95FamilyVersion = 0xC0000A04;

class PlatformTable : public LibraryTest {};

TEST_F(PlatformTable, VersionChoosesTheCallsAndTheRegistryWidth) {
    SelectPlatformCalls(kWindows95FamilyVersion);
    EXPECT_EQ(platformCalls.deleteFile, &NarrowDeleteFile);
    EXPECT_EQ(platformCalls.regQueryValue, &NarrowRegQueryValue);
    EXPECT_EQ(platformCalls.findNextFile, &NarrowFindNextFile);
    EXPECT_EQ(platformCalls.createMutex, &NarrowCreateMutex);
    EXPECT_EQ(platformCalls.setFileAttributes, &NarrowSetFileAttributes);
    EXPECT_EQ(registryCharWidth, 1u);
    SelectPlatformCalls(kNtVersion);
    EXPECT_EQ(platformCalls.deleteFile, &DeleteFileW);
    EXPECT_EQ(platformCalls.regQueryValue, &RegQueryValueExW);
    EXPECT_EQ(platformCalls.findNextFile, &FindNextFileW);
    EXPECT_EQ(platformCalls.createMutex, &CreateMutexW);
    EXPECT_EQ(platformCalls.setFileAttributes, &SetFileAttributesW);
    EXPECT_EQ(registryCharWidth, 2u);

    setenv("QLTMSI_WIN9X", "1", 1);
    FillPlatformCalls();
    unsetenv("QLTMSI_WIN9X");
    EXPECT_EQ(platformCalls.shortPathName, &NarrowShortPathName);
    EXPECT_EQ(registryCharWidth, 1u);
}

TEST(ObjectNamespaces, FromWindows2000On) {
    EXPECT_TRUE(HasObjectNamespaces(kNtVersion));
    EXPECT_TRUE(HasObjectNamespaces(0x08930005));   // 2000
    EXPECT_FALSE(HasObjectNamespaces(0x05650004));  // NT 4
    EXPECT_FALSE(HasObjectNamespaces(kWindows95FamilyVersion));
}

// A log of what each call answered, to compare between the two tables.
class Log {
  public:
    template <typename T>
    Log& operator<<(const T& value) {
        if constexpr (std::is_convertible_v<const T&, const WCHAR*>) {
            const WCHAR* text = value;
            out_ << '[' << (text ? Narrow(text) : std::string("null")) << "] ";
        } else {
            out_ << value << ' ';
        }
        return *this;
    }
    Log& Call(const char* name, DWORD result) {
        out_ << '\n' << name << '=' << result << " err=" << GetLastError() << ' ';
        return *this;
    }
    std::string str() const { return out_.str(); }

  private:
    std::ostringstream out_;
};

// Files, directories and searches, as the library uses them.
std::string RunFileCalls(const std::string& tag) {
    const PlatformCalls& calls = platformCalls;
    Log log;
    const WideString dir = Wide("C:\\work " + tag + "\\Pruefung");
    const WideString file = dir + u"\\data.bin";
    const WideString accented = dir + u"\\d\u00E9j\u00E0 vu.txt";
    const WideString copy = dir + u"\\copy.bin";
    const WideString moved = dir + u"\\moved.bin";
    const WideString tooLong = u"C:\\" + WideString(300, u'x');
    WCHAR buffer[MAX_PATH + 1];

    SetLastError(0);
    log.Call("createDirectory", calls.createDirectory(Wide("C:\\work " + tag).c_str(), nullptr));
    log.Call("createDirectory", calls.createDirectory(dir.c_str(), nullptr));
    log.Call("createDirectoryAgain", calls.createDirectory(dir.c_str(), nullptr));
    HANDLE handle = calls.createFile(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    log.Call("createFile", handle != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(handle, "abc", 3, &written, nullptr);
    CloseHandle(handle);
    handle =
        calls.createFile(accented.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    log.Call("createAccented", handle != INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    log.Call("attributes", calls.fileAttributes(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    log.Call("attributesMissing", calls.fileAttributes((dir + u"\\none").c_str()));
    log.Call("attributesNull", calls.fileAttributes(nullptr));
    log.Call("attributesTooLong", calls.fileAttributes(tooLong.c_str()));
    log.Call("setReadOnly", calls.setFileAttributes(file.c_str(), FILE_ATTRIBUTE_READONLY));
    log.Call("readOnly", calls.fileAttributes(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    log.Call("deleteReadOnly", calls.deleteFile(file.c_str()));
    log.Call("setNormal", calls.setFileAttributes(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    log.Call("setMissing",
             calls.setFileAttributes((dir + u"\\none").c_str(), FILE_ATTRIBUTE_NORMAL));
    log.Call("setTooLong", calls.setFileAttributes(tooLong.c_str(), FILE_ATTRIBUTE_NORMAL));
    log.Call("copy", calls.copyFile(file.c_str(), copy.c_str(), TRUE));
    log.Call("copyOntoExisting", calls.copyFile(file.c_str(), copy.c_str(), TRUE));
    log.Call("copyNull", calls.copyFile(nullptr, copy.c_str(), FALSE));
    log.Call("move", calls.moveFile(copy.c_str(), moved.c_str()));
    log.Call("moveOntoExisting", calls.moveFile(file.c_str(), moved.c_str()));
    log.Call("shortPath", calls.shortPathName(file.c_str(), buffer, MAX_PATH + 1)) << buffer;
    log.Call("shortPathTooSmall", calls.shortPathName(file.c_str(), buffer, 4));
    calls.shortPathName(accented.c_str(), buffer, MAX_PATH + 1);
    log << buffer;
    log.Call("shortPathMissing",
             calls.shortPathName((dir + u"\\none").c_str(), buffer, MAX_PATH + 1));

    WIN32_FIND_DATAW found{};
    HANDLE find = calls.findFirstFile((dir + u"\\*.*").c_str(), &found);
    std::vector<std::string> names;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(Narrow(found.cFileName) + "|" + Narrow(found.cAlternateFileName));
        } while (calls.findNextFile(find, &found));
        log.Call("findEnd", 0);
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        log << name;
    log.Call("findMissing",
             calls.findFirstFile((dir + u"\\none\\*.*").c_str(), &found) == INVALID_HANDLE_VALUE);

    log.Call("removeFull", calls.removeDirectory(dir.c_str()));
    log.Call("delete", calls.deleteFile(file.c_str()));
    log.Call("deleteAgain", calls.deleteFile(file.c_str()));
    log.Call("deleteTooLong", calls.deleteFile(tooLong.c_str()));
    log.Call("delete", calls.deleteFile(moved.c_str()));
    log.Call("deleteAccented", calls.deleteFile(accented.c_str()));
    log.Call("remove", calls.removeDirectory(dir.c_str()));
    log.Call("removeAgain", calls.removeDirectory(dir.c_str()));
    log.Call("removeTop", calls.removeDirectory(Wide("C:\\work " + tag).c_str()));

    UINT length = calls.tempPath(MAX_PATH + 1, buffer);
    log.Call("tempPath", length) << buffer;
    log.Call("tempPathTooSmall", calls.tempPath(2, buffer) == length + 1);
    WCHAR temp[MAX_PATH + 1];
    UINT unique = calls.tempFileName(buffer, u"qlt", 0, temp);
    log.Call("tempFileName", unique != 0)
        << (calls.fileAttributes(temp) != INVALID_FILE_ATTRIBUTES);
    WideString tempName = temp;
    log << Narrow(tempName.substr(0, length + 3));
    calls.deleteFile(temp);
    log.Call("windowsDirectory", calls.windowsDirectory(buffer, MAX_PATH + 1)) << buffer;
    log.Call("windowsDirectoryTooSmall", calls.windowsDirectory(buffer, 3));
    return log.str();
}

// Keys and values under HKEY_LOCAL_MACHINE, with byte counts in the
// registry character width as the library gives them.
std::string RunRegistryCalls(const std::string& tag) {
    const PlatformCalls& calls = platformCalls;
    const DWORD width = registryCharWidth;
    Log log;
    SetLastError(0);
    const WideString key = Wide("Software\\QltmsiTest\\" + tag);
    HKEY handle = nullptr;
    DWORD disposition = 0;
    log.Call("create", calls.regCreateKey(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr,
                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                                          &disposition))
        << disposition;
    RegCloseKey(handle);
    log.Call("createAgain", calls.regCreateKey(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr,
                                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                               &handle, &disposition))
        << disposition;

    const WideString text = u"ABCDEFGHI";  // 10 characters with its terminator
    log.Call("setString", calls.regSetValue(handle, u"Path", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * width)));
    const DWORD number = 0x1F;
    log.Call("setNumber", calls.regSetValue(handle, u"CurKey", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), sizeof number));

    WCHAR value[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = 9 * width;
    log.Call("queryShort", calls.regQueryValue(handle, u"Path", nullptr, &type,
                                               reinterpret_cast<BYTE*>(value), &size))
        << size / width;
    size = 10 * width;
    log.Call("queryExact", calls.regQueryValue(handle, u"Path", nullptr, &type,
                                               reinterpret_cast<BYTE*>(value), &size))
        << type << value;
    DWORD read = 0;
    size = sizeof read;
    log.Call("queryNumber", calls.regQueryValue(handle, u"CurKey", nullptr, &type,
                                                reinterpret_cast<BYTE*>(&read), &size))
        << type << size << read;
    size = sizeof value;
    log.Call("queryMissing", calls.regQueryValue(handle, u"None", nullptr, &type,
                                                 reinterpret_cast<BYTE*>(value), &size));
    RegCloseKey(handle);

    log.Call("open", calls.regOpenKey(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle));
    RegCloseKey(handle);
    log.Call("delete", calls.regDeleteKey(HKEY_LOCAL_MACHINE, key.c_str()));
    log.Call("openDeleted",
             calls.regOpenKey(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle));
    return log.str();
}

// The unnamed mutexes of the call and handle locks and the named one of the
// undo entries: ownership, a second open of a name, and names refused.
std::string RunMutexCalls(const std::string& tag) {
    const PlatformCalls& calls = platformCalls;
    Log log;
    SetLastError(0);
    HANDLE unnamed = calls.createMutex(nullptr, FALSE, nullptr);
    log.Call("unnamed", unnamed != nullptr) << WaitForSingleObject(unnamed, 0);
    log.Call("releaseUnnamed", ReleaseMutex(unnamed));
    const WideString name = Wide("QltmsiTest " + tag) + u" Sperre \u00FC";
    HANDLE owned = calls.createMutex(nullptr, TRUE, name.c_str());
    log.Call("named", owned != nullptr);
    HANDLE second = calls.createMutex(nullptr, FALSE, name.c_str());
    log.Call("namedAgain", second != nullptr) << WaitForSingleObject(second, 0);
    log.Call("release", ReleaseMutex(second)) << ReleaseMutex(owned) << ReleaseMutex(owned);
    log.Call("badName", calls.createMutex(nullptr, FALSE, u"Global\\Bad\\Name") == nullptr);
    const WideString tooLong = WideString(300, u'm');
    log.Call("tooLong", calls.createMutex(nullptr, FALSE, tooLong.c_str()) == nullptr);
    CloseHandle(second);
    CloseHandle(owned);
    CloseHandle(unnamed);
    return log.str();
}

std::string RunResourceCalls() {
    const PlatformCalls& calls = platformCalls;
    Log log;
    WCHAR buffer[MAX_PATH + 1];
    SetLastError(0);
    log.Call("loadString", calls.loadString(libraryState.moduleInstance, 7, buffer, MAX_PATH + 1))
        << buffer;
    log.Call("loadStringCut", calls.loadString(libraryState.moduleInstance, 18, buffer, 10))
        << buffer;
    log.Call("loadStringMissing",
             calls.loadString(libraryState.moduleInstance, 999, buffer, MAX_PATH + 1));
    log.Call("moduleFileName",
             calls.moduleFileName(libraryState.moduleInstance, buffer, MAX_PATH + 1))
        << buffer;

    WCHAR path[MAX_PATH + 1];
    calls.moduleFileName(libraryState.moduleInstance, path, MAX_PATH + 1);
    DWORD ignored = 0;
    const DWORD size = calls.fileVersionInfoSize(path, &ignored);
    log.Call("versionSize", size != 0);
    std::vector<BYTE> block(size + 1);
    log.Call("versionInfo", calls.fileVersionInfo(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    log.Call("versionQuery",
             calls.verQueryValue(block.data(), u"\\", reinterpret_cast<LPVOID*>(&fixed), &length));
    if (fixed != nullptr)
        log << std::hex << fixed->dwFileVersionMS << fixed->dwFileVersionLS << std::dec;
    return log.str();
}

class NarrowFallbacks : public LibraryTest {
  protected:
    template <typename Run>
    void ExpectSameAnswers(Run run) {
        SelectPlatformCalls(kNtVersion);
        const std::string wide = run();
        SelectPlatformCalls(kWindows95FamilyVersion);
        const std::string narrow = run();
        SelectPlatformCalls(kNtVersion);
        EXPECT_EQ(narrow, wide);
    }
};

TEST_F(NarrowFallbacks, FileCallsAnswerAsTheWideOnes) {
    ExpectSameAnswers([] { return RunFileCalls("files"); });
}

TEST_F(NarrowFallbacks, RegistryCallsAnswerAsTheWideOnes) {
    ExpectSameAnswers([] { return RunRegistryCalls("registry"); });
}

TEST_F(NarrowFallbacks, MutexCallsAnswerAsTheWideOnes) {
    ExpectSameAnswers([] { return RunMutexCalls("mutex"); });
}

TEST_F(NarrowFallbacks, ResourceAndModuleCallsAnswerAsTheWideOnes) {
    ExpectSameAnswers(RunResourceCalls);
}

TEST_F(NarrowFallbacks, StringValueSizesCountNarrowBytes) {
    SelectPlatformCalls(kWindows95FamilyVersion);
    const WideString key = u"Software\\QltmsiTest\\Sizes";
    HKEY handle = nullptr;
    ASSERT_EQ(platformCalls.regCreateKey(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    const WideString text = u"ABCDEFGHI";
    ASSERT_EQ(platformCalls.regSetValue(handle, u"Path", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(text.c_str()), 10),
              ERROR_SUCCESS);
    WCHAR value[16];
    std::fill(std::begin(value), std::end(value), u'#');
    DWORD type = 0;
    DWORD size = 9;
    EXPECT_EQ(platformCalls.regQueryValue(handle, u"Path", nullptr, &type,
                                          reinterpret_cast<BYTE*>(value), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    size = 10;
    EXPECT_EQ(platformCalls.regQueryValue(handle, u"Path", nullptr, &type,
                                          reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(WideString(value), text);
    EXPECT_EQ(value[10], u'#') << "the wide text stays within the wide array of 10 characters";

    // Text that takes more bytes than characters is stored whole.
    const WideString accented = u"Pr\u00FCfung";
    ASSERT_EQ(platformCalls.regSetValue(handle, u"Name", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(accented.c_str()),
                                        static_cast<DWORD>(accented.size() + 1)),
              ERROR_SUCCESS);
    char narrow[32] = {};
    size = sizeof narrow;
    ASSERT_EQ(
        RegQueryValueExA(handle, "Name", nullptr, &type, reinterpret_cast<BYTE*>(narrow), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(narrow,
                 "Pr\xC3\xBC"
                 "fung");
    RegCloseKey(handle);
    platformCalls.regDeleteKey(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST_F(NarrowFallbacks, ArgumentsTooLongToPassOnAreRefused) {
    SelectPlatformCalls(kWindows95FamilyVersion);
    const WideString huge = u"C:\\" + WideString(5000, u'x');
    SetLastError(0);
    EXPECT_EQ(platformCalls.fileAttributes(huge.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(platformCalls.copyFile(huge.c_str(), u"C:\\b", FALSE));
    HKEY handle = nullptr;
    EXPECT_EQ(
        platformCalls.regOpenKey(HKEY_LOCAL_MACHINE, huge.c_str(), 0, KEY_ALL_ACCESS, &handle),
        ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace library_test
