// Windows paths on the native file system: drives, case, folding, bad input.
#include "paths/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "winerror.h"
#include "winsys/kernel/test_prefix.h"

using winsys::paths::toNative;
using winsys::paths::toWindows;
using winsys_test::TestPrefix;

namespace {

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Paths, PrefixIsCreatedWithWindowsDirectories) {
    TestPrefix prefix;
    EXPECT_EQ(winsys::paths::prefixDirectory(), prefix.prefix());
    for (const char* sub : {"/windows/system32", "/windows/Installer", "/windows/Temp"})
        EXPECT_TRUE(isDirectory(prefix.driveC() + sub)) << sub;
    EXPECT_TRUE(isDirectory(prefix.prefix() + "/dosdevices/c:"));
}

TEST(Paths, DrivesMapThroughThePrefix) {
    TestPrefix prefix;
    EXPECT_EQ(toNative(u"C:\\windows\\system32"), prefix.driveC() + "/windows/system32");
    EXPECT_EQ(toNative(u"c:/windows/Temp/"), prefix.driveC() + "/windows/Temp");
    EXPECT_EQ(toNative(u"C:\\"), prefix.driveC());
    EXPECT_EQ(toNative(u"Z:\\usr\\bin"), "/usr/bin");
    EXPECT_EQ(toNative(u"z:\\"), "/");
    EXPECT_EQ(toNative(u"\\\\?\\C:\\windows"), prefix.driveC() + "/windows");

    unsigned error = 0;
    EXPECT_EQ(toNative(u"Q:\\x", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    std::filesystem::create_directories(prefix.root() + "/data/Sub");
    ASSERT_EQ(
        symlink((prefix.root() + "/data").c_str(), (prefix.prefix() + "/dosdevices/q:").c_str()),
        0);
    EXPECT_EQ(toNative(u"Q:\\sub\\new.txt"), prefix.prefix() + "/dosdevices/q:/Sub/new.txt");
    EXPECT_EQ(toWindows(prefix.root() + "/data/Sub/new.txt"), u"Q:\\Sub\\new.txt");
    EXPECT_EQ(toWindows(prefix.prefix() + "/dosdevices/q:"), u"Q:\\");
}

TEST(Paths, NamesResolveIgnoringCaseAndKeepTheRestAsWritten) {
    TestPrefix prefix;
    std::filesystem::create_directories(prefix.driveC() + "/Program Files/Ünïcode Dir");
    EXPECT_EQ(toNative(u"C:\\WINDOWS\\SYSTEM32"), prefix.driveC() + "/windows/system32");
    EXPECT_EQ(toNative(u"C:\\program files\\üNÏCODE dir\\New\\File.TXT"),
              prefix.driveC() + "/Program Files/Ünïcode Dir/New/File.TXT");
    // An exact match wins over a case-folded one.
    std::filesystem::create_directories(prefix.driveC() + "/windows/TEMP");
    EXPECT_EQ(toNative(u"C:\\windows\\TEMP"), prefix.driveC() + "/windows/TEMP");
    EXPECT_EQ(toNative(u"C:\\windows\\Temp"), prefix.driveC() + "/windows/Temp");
}

TEST(Paths, DotsAndRelativeFormsFold) {
    TestPrefix prefix;
    EXPECT_EQ(toNative(u"C:\\windows\\..\\..\\..\\windows\\.\\system32\\\\x"),
              prefix.driveC() + "/windows/system32/x");
    EXPECT_EQ(toNative(u"C:\\windows\\name. . "), prefix.driveC() + "/windows/name");
    char* cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(prefix.root().c_str()), 0);
    EXPECT_EQ(toNative(u"tmp\\a"), prefix.root() + "/tmp/a");
    EXPECT_EQ(toNative(u"\\etc"), "/etc");
    EXPECT_EQ(winsys::paths::currentDirectory(), toWindows(prefix.root()));
    ASSERT_EQ(chdir(cwd), 0);
    free(cwd);
}

TEST(Paths, NativePathsInWindowsForm) {
    TestPrefix prefix;
    EXPECT_EQ(toWindows(prefix.driveC() + "/windows/system32/x.dll"),
              u"C:\\windows\\system32\\x.dll");
    EXPECT_EQ(toWindows(prefix.driveC()), u"C:\\");
    EXPECT_EQ(toWindows("/tmp/a/../b"), u"Z:\\tmp\\b");
    EXPECT_EQ(toWindows("/"), u"Z:\\");
    EXPECT_EQ(toWindows(prefix.driveC() + "x/y").substr(0, 3), u"Z:\\");
    // Round trip.
    EXPECT_EQ(toNative(toWindows("/usr/share")), "/usr/share");
}

TEST(Paths, BadInputAnswersWithWindowsCodes) {
    TestPrefix prefix;
    unsigned error = 0;
    EXPECT_EQ(toNative(u"", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(toNative(u"C:\\a<b", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_INVALID_NAME);
    EXPECT_EQ(toNative(u"C:\\a*", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_INVALID_NAME);
    EXPECT_EQ(toNative(u"\\\\server\\share\\x", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);

    std::u16string longest =
        u"C:\\" + std::u16string(128, u'a') + u"\\" + std::u16string(127, u'a');  // 259: allowed
    EXPECT_TRUE(toNative(longest).has_value());
    EXPECT_EQ(toNative(longest + u"a", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_FILENAME_EXCED_RANGE);
    std::u16string veryLong = u"C:\\" + std::u16string(100000, u'b');
    EXPECT_EQ(toNative(veryLong, &error), std::nullopt);
    EXPECT_EQ(error, ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
