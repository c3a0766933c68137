// libqltmsi32.so as callers load it: its constructor attached it (module
// handle, locks, call table) and its string table answers through the
// exports.
#include <gtest/gtest.h>

#include <qltmsi.h>

#include <thread>

extern "C" int PublicHeaderRoundTrip(void);

namespace {

TEST(SharedLibrary, ACProgramDrivesTheExports) {
    EXPECT_EQ(PublicHeaderRoundTrip(), 1);
}

TEST(SharedLibrary, MessagesComeFromTheLibrarysOwnStringTable) {
    const QLTMSI_HANDLE handle = QLTMsiOpen();
    ASSERT_GE(handle, 0);
    EXPECT_EQ(QLTMsiOpenDatabase(handle, nullptr, nullptr, nullptr, nullptr, nullptr),
              QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_STREQ(QLTMsiGetLastErrorStrA(handle),
                 "An invalid parameter was supplied to an msi function.");
    EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_NO_DATABASE);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

TEST(SharedLibrary, TheLocksWereMadeAtLoad) {
    const QLTMSI_HANDLE handle = QLTMsiOpen();
    EXPECT_EQ(QLTMsiOpen(), QLTMSI_HANDLE_ALREADY_OPEN);
    QLTMSI_STATUS fromOtherThread = 0;
    std::thread([&] { fromOtherThread = QLTMsiCommitChanges(handle, nullptr); }).join();
    EXPECT_EQ(fromOtherThread, QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

TEST(SharedLibrary, EntriesWithoutAHandleNeedNoOpen) {
    QltMsiBackupSvr(nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(DefragMsiFile(u"C:\\missing.msi"), QLTMSI_DEFRAG_NOTHING_CHANGED);
}

}  // namespace
