// Handing out the backup string: sizes, too-small buffers, and the narrow
// form never writing past the caller's buffer.
#include "library_test_support.h"

#include <cstring>
#include <vector>

namespace library_test {
namespace {

const WideString kAsciiString = u"rundll32 C:\\WINDOWS\\QLTMSI32.DLL,QltMsiBackupSvr 1f\n";
// Two characters that take two bytes each in UTF-8.
const WideString kAccentedString =
    u"rundll32 C:\\Pr\u00FCfung\\Qu\u00E9 l\\q.dll,QltMsiBackupSvr 2\n";

class BackupString : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        handle_ = QLTMsiOpen();
        QLTMsiOpenDatabase(handle_, u"{6F4A1D2C-1111-2222-3333-444455556666}", nullptr, nullptr,
                           nullptr, nullptr);
        ASSERT_NE(libraryState.currentContext, nullptr);
    }
    void Hold(const WideString& text) { libraryState.currentContext->backupString = text; }
    int handle_ = 0;
};

TEST_F(BackupString, SizeQueryThenCopy) {
    Hold(kAsciiString);
    DWORD size = 0;
    EXPECT_EQ(QLTMsiGetBackupString(handle_, nullptr, &size), QLTMSI_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, kAsciiString.size() + 1);

    std::vector<WCHAR> buffer(size + 1, u'#');
    DWORD oneShort = size - 1;
    EXPECT_EQ(QLTMsiGetBackupString(handle_, buffer.data(), &oneShort),
              QLTMSI_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(oneShort, size);
    EXPECT_EQ(buffer[0], u'#') << "a refused buffer is not touched";

    EXPECT_EQ(QLTMsiGetBackupString(handle_, buffer.data(), &size), QLTMSI_SUCCESS);
    EXPECT_EQ(WideString(buffer.data()), kAsciiString);
    EXPECT_EQ(buffer[size], u'#');
}

TEST_F(BackupString, NarrowFormMatchesTheWideOneForAsciiText) {
    Hold(kAsciiString);
    DWORD size = 0;
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, nullptr, &size), QLTMSI_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, kAsciiString.size() + 1);
    std::vector<char> buffer(size, '#');
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, buffer.data(), &size), QLTMSI_SUCCESS);
    EXPECT_EQ(std::string(buffer.data()), Narrow(kAsciiString));
    EXPECT_EQ(size, kAsciiString.size() + 1);
}

TEST_F(BackupString, NarrowFormNeverWritesPastTheBufferWhenTextTakesMoreBytes) {
    Hold(kAccentedString);
    const std::string expected = Narrow(kAccentedString);
    ASSERT_EQ(expected.size(), kAccentedString.size() + 2);

    // Room for the characters, not for the bytes: refused, with guard bytes intact.
    DWORD size = static_cast<DWORD>(kAccentedString.size() + 1);
    std::vector<char> buffer(size + 8, '#');
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, buffer.data(), &size), QLTMSI_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, expected.size() + 1);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(buffer.size(), '#'));

    buffer.assign(size + 8, '#');
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, buffer.data(), &size), QLTMSI_SUCCESS);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(buffer[size], '#');
}

TEST_F(BackupString, MissingSizeOrBufferIsRefusedWithoutACrash) {
    Hold(kAsciiString);
    EXPECT_EQ(QLTMsiGetBackupString(handle_, nullptr, nullptr), QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, nullptr, nullptr), QLTMSI_ERROR_INVALID_PARAMETER);
    char narrow[4];
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, narrow, nullptr), QLTMSI_ERROR_INVALID_PARAMETER);

    DWORD size = 1000;
    EXPECT_EQ(QLTMsiGetBackupString(handle_, nullptr, &size), QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(size, kAsciiString.size() + 1);
    size = 1000;
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, nullptr, &size), QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(size, kAsciiString.size() + 1);
}

TEST_F(BackupString, NoUndoRecordGives4098AndFreesTheLock) {
    DWORD size = 100;
    WCHAR buffer[100];
    EXPECT_EQ(QLTMsiGetBackupString(handle_, buffer, &size), QLTMSI_ERROR_NO_BACKUP_STRING);
    EXPECT_EQ(QLTMsiGetBackupStringA(handle_, nullptr, &size), QLTMSI_ERROR_NO_BACKUP_STRING);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(OnOtherThread([&] { return QLTMsiCommitChanges(handle_, nullptr); }), QLTMSI_SUCCESS);
}

}  // namespace
}  // namespace library_test
