// The cabinet callbacks: times and attributes carried through a cabinet,
// temporary names, the notifications that are let pass, and names read from
// a cabinet that would leave the extraction directory.
#include "cabinet/cabinet_work_area.h"
#include "cabinet_test_support.h"

#include <io.h>

#include <cerrno>

namespace cabinet_test {
namespace {

class CallbacksTest : public CabinetTest {};

BY_HANDLE_FILE_INFORMATION Information(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION information{};
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(GetFileInformationByHandle(file, &information));
    CloseHandle(file);
    return information;
}

LONGLONG Ticks(const FILETIME& time) {
    return (static_cast<LONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TEST_F(CallbacksTest, TimesAndKeptAttributesSurviveACabinet) {
    const std::string source = MakeFile("in/data.bin", "payload bytes");
    // An odd second: DOS times keep two-second steps.
    SYSTEMTIME local{2021, 6, 2, 15, 13, 45, 37, 0};
    FILETIME localTime{};
    FILETIME written{};
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
    ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &written));
    {
        const HANDLE file = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
        CloseHandle(file);
    }
    ASSERT_TRUE(SetFileAttributesA(
        source.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY));
    MakeDirectory("cab");
    CabinetWorkArea area;
    InitCabinetWorkArea(area);
    ASSERT_EQ(OpenCompressor(area, Wide(Windows("cab/out.cab")).c_str()), 0u);
    ASSERT_EQ(AddFileToCabinet(area, Wide(source).c_str(), Wide("Data").c_str()), 0u);
    CloseCompressor(area);

    const std::string out = MakeDirectory("out");
    ASSERT_TRUE(Extract(Windows("cab/out.cab"), out));
    EXPECT_EQ(Read("out/Data"), "payload bytes");
    const BY_HANDLE_FILE_INFORMATION data = Information(out + "Data");
    const LONGLONG difference = Ticks(data.ftLastWriteTime) - Ticks(written);
    EXPECT_GE(difference, -20000000) << "within the two seconds of a DOS time";
    EXPECT_LE(difference, 0);
    EXPECT_EQ(GetFileAttributesA((out + "Data").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY))
        << "the temporary bit is not carried";
    SetFileAttributesA((out + "Data").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    DiscardCabinetFile(area);
}

TEST_F(CallbacksTest, OpenInfoGivesDosTimeAndADescriptor) {
    const std::string source = MakeFile("in/a.txt", "abc");
    USHORT date = 0, time = 0, attributes = 0xFFFF;
    int err = 0;
    const INT_PTR fd =
        FciGetOpenInfo(const_cast<char*>(source.c_str()), &date, &time, &attributes, &err, nullptr);
    ASSERT_NE(fd, -1);
    char buffer[8] = {};
    EXPECT_EQ(_read(static_cast<int>(fd), buffer, sizeof buffer), 3);
    _close(static_cast<int>(fd));
    EXPECT_NE(date, 0);
    EXPECT_EQ(attributes, FILE_ATTRIBUTE_ARCHIVE);

    EXPECT_EQ(FciGetOpenInfo(const_cast<char*>("C:\\in\\missing.txt"), &date, &time, &attributes,
                             &err, nullptr),
              -1);
}

TEST_F(CallbacksTest, TemporaryNameMustFitTheBuffer) {
    char name[CB_MAX_CAB_PATH];
    ASSERT_TRUE(FciGetTempFile(name, sizeof name, nullptr));
    const size_t length = std::strlen(name);
    EXPECT_GT(length, 2u);
    EXPECT_NE(std::string(name).find("qlc"), std::string::npos) << "a name of the library's own";
    int err = 0;
    EXPECT_EQ(FciDeleteFile(name, &err, nullptr), 0) << "made, so that no one else takes it";

    char tiny[4] = {'k', 'e', 'e', 'p'};
    EXPECT_FALSE(FciGetTempFile(tiny, sizeof tiny, nullptr));
    EXPECT_EQ(std::string(tiny, 4), "keep") << "nothing is written when the name does not fit";
    // Names carry their number in one to four hex digits, so the next name
    // may be shorter than this one: the buffer below holds exactly the
    // shortest name there can be, with no room for its terminator.
    const std::string first(name);
    const size_t digits = first.rfind('.') - (first.rfind("qlc") + 3);
    ASSERT_GE(digits, 1u);
    const size_t shortest = length - digits + 1;
    std::string exact(shortest, 0);
    EXPECT_FALSE(FciGetTempFile(exact.data(), static_cast<int>(shortest), nullptr))
        << "the terminator needs room too";
}

TEST_F(CallbacksTest, FileCallbacksReportErrno) {
    int err = 0;
    EXPECT_EQ(FciOpenFile(const_cast<char*>("C:\\no\\such\\file"), _O_RDONLY | _O_BINARY, 0, &err,
                          nullptr),
              -1);
    EXPECT_EQ(err, ENOENT);
    err = 0;
    EXPECT_EQ(FciDeleteFile(const_cast<char*>("C:\\no-such-file"), &err, nullptr), -1);
    EXPECT_EQ(err, ENOENT);

    const std::string path = MakeFile("f.bin", "0123456789");
    const INT_PTR fd =
        FciOpenFile(const_cast<char*>(path.c_str()), _O_RDWR | _O_BINARY, 0, &err, nullptr);
    ASSERT_NE(fd, -1);
    char buffer[16];
    err = 0;
    EXPECT_EQ(FciReadFile(fd, buffer, 16, &err, nullptr), 10u);
    EXPECT_EQ(FciSeekFile(fd, 2, SEEK_SET, &err, nullptr), 2);
    EXPECT_EQ(FciCloseFile(fd, &err, nullptr), 0);
    EXPECT_EQ(FciDeleteFile(const_cast<char*>(path.c_str()), &err, nullptr), 0);
    EXPECT_FALSE(Exists("f.bin"));
}

TEST_F(CallbacksTest, OnlyCopyAndCloseNotificationsAreActedOn) {
    FDINOTIFICATION notification{};
    char text[] = "";
    notification.psz1 = text;
    notification.psz2 = text;
    notification.psz3 = text;
    for (FDINOTIFICATIONTYPE type :
         {fdintCABINET_INFO, fdintPARTIAL_FILE, fdintNEXT_CABINET, fdintENUMERATE}) {
        EXPECT_EQ(FdiNotify(type, &notification), 0) << type;
    }
}

TEST_F(CallbacksTest, CopyFileRefusesNamesThatLeaveTheDirectory) {
    MakeDirectory("root/out");
    const std::string destination = Windows("root/out") + "\\";
    std::strcpy(extractDestination, destination.c_str());
    for (const char* name : {"..\\escaped", "../escaped", "sub\\x", "C:escaped", "..", ".", "...",
                             "", "D:\\escaped"}) {
        FDINOTIFICATION notification{};
        notification.psz1 = const_cast<char*>(name);
        EXPECT_EQ(FdiNotify(fdintCOPY_FILE, &notification), -1) << '"' << name << '"';
    }
    EXPECT_FALSE(Exists("root/escaped"));
    EXPECT_TRUE(std::filesystem::is_empty(Native("root/out")));

    FDINOTIFICATION plain{};
    plain.psz1 = const_cast<char*>("..leading.dots");
    const INT_PTR fd = FdiNotify(fdintCOPY_FILE, &plain);
    ASSERT_NE(fd, -1);
    plain.hf = fd;
    EXPECT_EQ(FdiNotify(fdintCLOSE_FILE_INFO, &plain), TRUE);
    EXPECT_TRUE(Exists("root/out/..leading.dots"));
}

TEST_F(CallbacksTest, JoinedPathThatDoesNotFitIsRefusedNotCut) {
    // 200 + 55 characters fit the 256 bytes with the terminator; 56 do not.
    const std::string directory = "d/" + std::string(194, 'x');
    const std::string destination = MakeDirectory(directory);
    ASSERT_EQ(destination.size(), 200u);
    std::strcpy(extractDestination, destination.c_str());

    FDINOTIFICATION fits{};
    const std::string longest(55, 'n');
    fits.psz1 = const_cast<char*>(longest.c_str());
    const INT_PTR fd = FdiNotify(fdintCOPY_FILE, &fits);
    ASSERT_NE(fd, -1);
    _close(static_cast<int>(fd));

    FDINOTIFICATION tooLong{};
    const std::string name(56, 'n');
    tooLong.psz1 = const_cast<char*>(name.c_str());
    EXPECT_EQ(FdiNotify(fdintCOPY_FILE, &tooLong), -1);
    EXPECT_FALSE(Exists(directory + "/" + std::string(55, 'n') + "n"));
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(Native(directory))) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u) << "no shortened name was written";
}

TEST_F(CallbacksTest, CabinetWithAnEscapingNameFailsAndWritesNothingOutside) {
    const std::string first = MakeFile("in/first", "first");
    const std::string evil = MakeFile("in/evil", "evil");
    MakeDirectory("cab");
    CabinetWorkArea area;
    InitCabinetWorkArea(area);
    ASSERT_EQ(OpenCompressor(area, Wide(Windows("cab/bad.cab")).c_str()), 0u);
    ASSERT_EQ(AddFileToCabinet(area, Wide(first).c_str(), Wide("First").c_str()), 0u);
    ASSERT_EQ(AddFileToCabinet(area, Wide(evil).c_str(), Wide("..\\Escaped").c_str()), 0u);
    CloseCompressor(area);

    const std::string out = MakeDirectory("x/out");
    EXPECT_FALSE(Extract(Windows("cab/bad.cab"), out));
    EXPECT_FALSE(Exists("x/Escaped"));
    EXPECT_FALSE(Exists("Escaped"));
    DiscardCabinetFile(area);
}

}  // namespace
}  // namespace cabinet_test
