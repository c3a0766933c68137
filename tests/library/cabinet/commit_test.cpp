// The commit on a working copy prepared here: Sequence numbering, rows that
// are archived without a File row or from their new name, the failures that
// stop the commit before the installed package changes, and the progress.
#include "library_test_support.h"

#include "api/messages.h"
#include "cabinet/cabinet_binding.h"
#include "cabinet/cabinet_callbacks.h"
#include "cabinet/commit.h"
#include "platform/unique_name.h"

#include <cstring>
#include <map>
#include <vector>

namespace library_test {
namespace {

struct ProgressCall {
    int code;
    std::string text;
};
std::vector<ProgressCall> progressCalls;

void RecordProgress(int code, void* data) {
    progressCalls.push_back({code, data ? static_cast<const char*>(data) : ""});
}

void SetPath(WidePath& field, const WideString& path) {
    std::fill(field.begin(), field.end(), 0);
    std::copy(path.begin(), path.end(), field.begin());
}

// Runs a statement with string parameters on a database.
UINT RunSql(MSIHANDLE database, const WideString& sql, std::vector<WideString> values = {}) {
    MSIHANDLE view = 0;
    UINT result = MsiDatabaseOpenViewW(database, sql.c_str(), &view);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    MSIHANDLE parameters = 0;
    if (!values.empty()) {
        parameters = MsiCreateRecord(static_cast<UINT>(values.size()));
        for (UINT i = 0; i < values.size(); ++i) {
            MsiRecordSetStringW(parameters, i + 1, values[i].c_str());
        }
    }
    result = MsiViewExecute(view, parameters);
    if (parameters) {
        MsiCloseHandle(parameters);
    }
    MsiCloseHandle(view);
    return result;
}

// Integer column of every row a query returns, keyed by its first column.
std::map<std::string, int> Integers(MSIHANDLE database, const WideString& sql) {
    std::map<std::string, int> values;
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(database, sql.c_str(), &view), 0u);
    EXPECT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE row = 0;
    while (MsiViewFetch(view, &row) == ERROR_SUCCESS) {
        WCHAR key[300];
        DWORD size = 300;
        MsiRecordGetStringW(row, 1, key, &size);
        values[Narrow(key)] = MsiRecordGetInteger(row, 2);
        MsiCloseHandle(row);
    }
    MsiCloseHandle(view);
    return values;
}

std::string PropertyValue(MSIHANDLE database, const WideString& name) {
    MSIHANDLE view = 0;
    std::string value = "<none>";
    MsiDatabaseOpenViewW(database, u"SELECT `Value` FROM `Property` WHERE `Property`=?", &view);
    MSIHANDLE key = MsiCreateRecord(1);
    MsiRecordSetStringW(key, 1, name.c_str());
    MsiViewExecute(view, key);
    MSIHANDLE row = 0;
    if (MsiViewFetch(view, &row) == ERROR_SUCCESS) {
        WCHAR text[300];
        DWORD size = 300;
        MsiRecordGetStringW(row, 1, text, &size);
        value = Narrow(text);
        MsiCloseHandle(row);
    }
    MsiCloseHandle(key);
    MsiCloseHandle(view);
    return value;
}

class CommitTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        progressCalls.clear();
        InitContext(context_);
        MakePackage();
    }
    void TearDown() override {
        DestroyContext(context_);
        LibraryTest::TearDown();
    }

    // The installed package C:\Inst\product.msi with Media rows ending at 12
    // and 40, the library's Media row 3, and File rows F1 to F3.
    void MakePackage() {
        std::filesystem::create_directories(prefix_.driveC() + "/Inst");
        MSIHANDLE database = 0;
        ASSERT_EQ(MsiOpenDatabaseW(u"C:\\Inst\\product.msi", MSIDBOPEN_CREATE, &database), 0u);
        ASSERT_EQ(RunSql(database,
                         u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` "
                         u"CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL, `FileSize` "
                         u"LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), "
                         u"`Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY "
                         u"`File`)"),
                  0u);
        ASSERT_EQ(RunSql(database,
                         u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` "
                         u"SHORT NOT NULL, `DiskPrompt` CHAR(64), `Cabinet` CHAR(255), "
                         u"`VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY "
                         u"`DiskId`)"),
                  0u);
        ASSERT_EQ(RunSql(database,
                         u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` "
                         u"LONGCHAR NOT NULL PRIMARY KEY `Property`)"),
                  0u);
        ASSERT_EQ(RunSql(database, u"INSERT INTO `Media` (`DiskId`,`LastSequence`) VALUES (1,12)"),
                  0u);
        ASSERT_EQ(RunSql(database, u"INSERT INTO `Media` (`DiskId`,`LastSequence`) VALUES (2,40)"),
                  0u);
        ASSERT_EQ(RunSql(database,
                         u"INSERT INTO `Media` (`DiskId`,`LastSequence`,`DiskPrompt`,"
                         u"`Cabinet`,`Source`) VALUES (3,0,'Quillet','#QuilletCab',"
                         u"'QuilletCabCache')"),
                  0u);
        for (int i = 1; i <= 3; ++i) {
            const std::string key = "F" + std::to_string(i);
            ASSERT_EQ(RunSql(database,
                             Wide("INSERT INTO `File` (`File`,`Component_`,`FileName`,`FileSize`,"
                                  "`Sequence`) VALUES ('" +
                                  key + "','C','" + key + ".txt',1," + std::to_string(i) + ")")),
                      0u);
        }
        ASSERT_EQ(RunSql(database,
                         u"INSERT INTO `Property` (`Property`,`Value`) VALUES "
                         u"('ProductName','Test')"),
                  0u);
        ASSERT_EQ(MsiDatabaseCommit(database), 0u);
        MsiCloseHandle(database);
    }

    // The working copy and the patch context as the updates leave them, with
    // work-table rows (Name, FullPath, NewName).
    void Prepare(const std::vector<std::vector<WideString>>& rows, bool replaced = true) {
        std::filesystem::create_directories(prefix_.driveC() + "/work");
        ASSERT_TRUE(CopyFileW(u"C:\\Inst\\product.msi", u"C:\\work\\copy.msi", FALSE));
        SetPath(context_.packagePath, u"C:\\Inst\\product.msi");
        SetPath(context_.workingCopyPath, u"C:\\work\\copy.msi");
        ASSERT_EQ(MsiOpenDatabaseW(u"C:\\work\\copy.msi", MSIDBOPEN_TRANSACT, &context_.database),
                  0u);
        context_.changesPending = 1;
        context_.progressCallback = RecordProgress;
        if (!replaced) {
            return;
        }
        ASSERT_EQ(RunSql(context_.database,
                         u"CREATE TABLE `QuilletTempTable` (`Name` LONGCHAR, `FullPath` LONGCHAR, "
                         u"`NewName` LONGCHAR PRIMARY KEY `Name`) HOLD"),
                  0u);
        for (const auto& row : rows) {
            ASSERT_EQ(RunSql(context_.database,
                             u"INSERT INTO `QuilletTempTable` (`Name`,`FullPath`,`NewName`) VALUES "
                             u"(?,?,?)",
                             row),
                      0u);
        }
        context_.updateSequence = 140;
        context_.updateDiskId = 3;
        context_.cabinet.queuedFileCount = static_cast<DWORD>(rows.size());
    }

    std::map<std::string, int> Sequences(MSIHANDLE database) {
        return Integers(database, u"SELECT `File`, `Sequence` FROM `File`");
    }
    int LastSequence(MSIHANDLE database, int disk) {
        return Integers(database,
                        u"SELECT `DiskId`, `LastSequence` FROM `Media`")[std::to_string(disk)];
    }

    // The files of the cab cache's cabinet, extracted into C:\out.
    std::map<std::string, std::string> CabCacheFiles(const WideString& cabCache) {
        std::map<std::string, std::string> files;
        MSIHANDLE database = 0;
        EXPECT_EQ(MsiOpenDatabaseW(cabCache.c_str(), MSIDBOPEN_READONLY, &database), 0u);
        MSIHANDLE view = 0;
        EXPECT_EQ(MsiDatabaseOpenViewW(database, u"SELECT `Name`, `Data` FROM `_Streams`", &view),
                  0u);
        MsiViewExecute(view, 0);
        MSIHANDLE row = 0;
        int streams = 0;
        std::string bytes;
        while (MsiViewFetch(view, &row) == ERROR_SUCCESS) {
            ++streams;
            WCHAR name[64];
            DWORD size = 64;
            MsiRecordGetStringW(row, 1, name, &size);
            EXPECT_EQ(Narrow(name), "QuilletCab");
            char buffer[4096];
            DWORD got = sizeof buffer;
            while (MsiRecordReadStream(row, 2, buffer, &got) == ERROR_SUCCESS && got > 0) {
                bytes.append(buffer, got);
                got = sizeof buffer;
            }
            MsiCloseHandle(row);
        }
        MsiCloseHandle(view);
        MsiCloseHandle(database);
        EXPECT_EQ(streams, 1) << "the cab cache holds one stream";
        std::filesystem::create_directories(prefix_.driveC() + "/out");
        winsys_test::writeFile(prefix_.driveC() + "/cabcache.cab", bytes);
        ERF error{};
        HFDI fdi = CreateDecompressor(CabAlloc, CabFree, FdiOpenFile, FdiReadFile, FdiWriteFile,
                                      FdiCloseFile, FdiSeekFile, cpu80386, &error);
        EXPECT_NE(fdi, nullptr);
        std::strcpy(extractDestination, "C:\\out\\");
        char name[] = "cabcache.cab";
        char path[] = "C:\\";
        EXPECT_TRUE(DecompressorCopy(fdi, name, path, 0, FdiNotify, nullptr, nullptr));
        DestroyDecompressor(fdi);
        for (auto& entry : std::filesystem::directory_iterator(prefix_.driveC() + "/out")) {
            files[entry.path().filename().string()] = winsys_test::readFile(entry.path());
        }
        return files;
    }

    PatchContext context_;
};

TEST_F(CommitTest, NumbersArchivedFilesFromTheLargestLastSequencePlus100) {
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"},
             {u"F2", MakeFile("new/two.txt", "two"), u"two.txt"},
             {u"F3", MakeFile("new/three.txt", "three"), u"three.txt"}});
    const WideString oldCabCache = MakeFile("Inst/product.old.msi", "old cab cache");
    SetPath(context_.cabCachePath, oldCabCache);

    ASSERT_EQ(CommitDatabase(context_), 0u);
    EXPECT_EQ(context_.lastMessageId, 0);
    const WideString cabCache = context_.newCabCachePath.data();
    EXPECT_EQ(Narrow(cabCache).rfind("C:\\Inst\\product.", 0), 0u) << Narrow(cabCache);
    EXPECT_EQ(Narrow(cabCache).substr(Narrow(cabCache).size() - 4), ".msi");
    EXPECT_EQ(Sequences(context_.database),
              (std::map<std::string, int>{{"F1", 140}, {"F2", 141}, {"F3", 142}}));
    EXPECT_EQ(LastSequence(context_.database, 3), 143);
    EXPECT_EQ(PropertyValue(context_.database, u"QuilletCabCache"), Narrow(cabCache));
    EXPECT_NE(RunSql(context_.database, u"SELECT * FROM `QuilletTempTable`"), 0u)
        << "the work table is dropped";
    EXPECT_EQ(CabCacheFiles(cabCache),
              (std::map<std::string, std::string>{{"F1", "one"}, {"F2", "two"}, {"F3", "three"}}));
    EXPECT_TRUE(Exists("Inst/product.msi"));

    ASSERT_EQ(FinishCommit(context_, nullptr), 0u);
    EXPECT_FALSE(Exists("Inst/product.old.msi")) << "the previous cab cache is deleted";
    EXPECT_NE(platformCalls.fileAttributes(cabCache.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the new cab cache stays";
    EXPECT_EQ(context_.newCabCachePath[0], 0);
    EXPECT_EQ(context_.cabCachePath[0], 0);
    MSIHANDLE installed = 0;
    ASSERT_EQ(MsiOpenDatabaseW(u"C:\\Inst\\product.msi", MSIDBOPEN_READONLY, &installed), 0u);
    EXPECT_EQ(Sequences(installed)["F3"], 142);
    EXPECT_EQ(LastSequence(installed, 3), 143);
    EXPECT_EQ(PropertyValue(installed, u"QuilletCabCache"), Narrow(cabCache));
    MsiCloseHandle(installed);

    ASSERT_FALSE(progressCalls.empty());
    EXPECT_EQ(progressCalls[0].code, 9);
    EXPECT_EQ(progressCalls[0].text,
              "Committing MSI database changes. This could take several minutes...\n\n");
    for (size_t i = 1; i < progressCalls.size(); ++i) {
        EXPECT_EQ(progressCalls[i].code, 21);
    }
    EXPECT_EQ(progressCalls.size(), 1u + 3 * 2 + 2 + 2)
        << "around each add, the flush and the copy";
}

TEST_F(CommitTest, NewCabCacheNeverTakesTheNameOfTheCurrentOne) {
    // The name this process would be given first, as an earlier commit of the
    // same process made it.
    WidePath first{};
    SetPath(first, u"C:\\Inst\\product.msi");
    ASSERT_NE(MakeUniqueName(first.data()), nullptr);
    winsys_test::writeFile(prefix_.driveC() + "/Inst/" + Narrow(first.data()).substr(8),
                           "current cab cache");
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"}});
    context_.cabCachePath = first;

    ASSERT_EQ(CommitDatabase(context_), 0u);
    const WideString cabCache = context_.newCabCachePath.data();
    EXPECT_NE(cabCache, WideString(first.data()));
    ASSERT_EQ(FinishCommit(context_, nullptr), 0u);
    EXPECT_EQ(platformCalls.fileAttributes(first.data()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CabCacheFiles(cabCache).count("F1"), 1u) << "the package's cab cache is kept";
}

// A work-table row whose File row is gone (removed in the same patch, or a
// carried file removed earlier) names nothing: the cabinet holds exactly the
// files the File rows point at.
TEST_F(CommitTest, RowWithoutFileRowIsNotArchived) {
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"},
             {u"Ghost", MakeFile("new/ghost.txt", "ghost"), u"ghost.txt"},
             {u"F2", MakeFile("new/two.txt", "two"), u"two.txt"}});
    ASSERT_EQ(CommitDatabase(context_), 0u);
    EXPECT_EQ(Sequences(context_.database),
              (std::map<std::string, int>{{"F1", 140}, {"F2", 141}, {"F3", 3}}));
    EXPECT_EQ(LastSequence(context_.database, 3), 142);
    EXPECT_EQ(CabCacheFiles(context_.newCabCachePath.data()),
              (std::map<std::string, std::string>{{"F1", "one"}, {"F2", "two"}}));
}

TEST_F(CommitTest, RowIsArchivedFromItsNewNameInTheSameFolder) {
    const WideString renamed = MakeFile("new/renamed.dll", "renamed bytes");
    Prepare({{u"F1", u"C:\\new\\original.dll", u"renamed.dll"},
             {u"", u"C:\\nowhere", u""}});  // skipped without failing
    ASSERT_EQ(CommitDatabase(context_), 0u);
    EXPECT_EQ(CabCacheFiles(context_.newCabCachePath.data()),
              (std::map<std::string, std::string>{{"F1", "renamed bytes"}}));
}

TEST_F(CommitTest, RowsThatCannotBeArchivedFailWith4105) {
    struct Case {
        const char* what;
        std::vector<WideString> row;
    };
    const WideString longPath = Wide("C:\\new\\" + std::string(260, 'l'));
    for (const Case& bad : {Case{"empty FullPath", {u"F1", u"", u"one.txt"}},
                            Case{"missing source", {u"F1", u"C:\\new\\gone.txt", u"gone.txt"}},
                            Case{"FullPath over 260 characters", {u"F1", longPath, u"x"}},
                            Case{"joined path over 260 characters",
                                 {u"F1", u"C:\\new\\gone.txt", Wide(std::string(255, 'n'))}}}) {
        SCOPED_TRACE(bad.what);
        DestroyContext(context_);
        InitContext(context_);
        Prepare({bad.row});
        EXPECT_EQ(CommitDatabase(context_), 4105u);
        EXPECT_EQ(context_.lastMessageId, kMessageArchiveCreate);
        EXPECT_EQ(context_.newCabCachePath[0], 0) << "no cab cache was made";
        EXPECT_NE(RunSql(context_.database, u"SELECT * FROM `QuilletTempTable`"), 0u);
    }
}

TEST_F(CommitTest, DeletedLibraryMediaRowGives259AfterTheCabinetWasStored) {
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"}});
    ASSERT_EQ(RunSql(context_.database, u"DELETE FROM `Media` WHERE `DiskId`=3"), 0u);
    EXPECT_EQ(CommitDatabase(context_), 259u);
    EXPECT_EQ(context_.lastMessageId, kMessageCommit);
    ASSERT_NE(context_.newCabCachePath[0], 0);
    EXPECT_EQ(CabCacheFiles(context_.newCabCachePath.data()).size(), 1u);
}

TEST_F(CommitTest, ReadOnlyInstalledPackageGives1627WithTheWorkingCopyCommitted) {
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"}});
    const WideString oldCabCache = MakeFile("Inst/product.old.msi", "old cab cache");
    SetPath(context_.cabCachePath, oldCabCache);
    const std::string before = winsys_test::readFile(prefix_.driveC() + "/Inst/product.msi");
    ASSERT_TRUE(SetFileAttributesW(u"C:\\Inst\\product.msi", FILE_ATTRIBUTE_READONLY));

    ASSERT_EQ(CommitDatabase(context_), 0u);
    const WideString cabCache = context_.newCabCachePath.data();
    EXPECT_EQ(FinishCommit(context_, nullptr), 1627u);
    EXPECT_EQ(context_.lastMessageId, kMessageCommit);
    EXPECT_EQ(winsys_test::readFile(prefix_.driveC() + "/Inst/product.msi"), before);
    EXPECT_TRUE(Exists("Inst/product.old.msi")) << "the old cab cache stays";
    EXPECT_NE(platformCalls.fileAttributes(cabCache.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the new cab cache stays";
    MsiCloseHandle(context_.database);
    context_.database = 0;
    MSIHANDLE committed = 0;
    ASSERT_EQ(MsiOpenDatabaseW(u"C:\\work\\copy.msi", MSIDBOPEN_READONLY, &committed), 0u);
    EXPECT_EQ(Sequences(committed)["F1"], 140);
    MsiCloseHandle(committed);
    SetFileAttributesW(u"C:\\Inst\\product.msi", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CommitTest, ASecondCommitOnOneContextIsRefused) {
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"}});
    ASSERT_EQ(CommitDatabase(context_), 0u);
    ASSERT_EQ(FinishCommit(context_, nullptr), 0u);
    const std::string cabinet = context_.cabinet.cabinetParameters.szCabPath;
    const auto count = [&] {
        size_t files = 0;
        for (auto& entry : std::filesystem::directory_iterator(prefix_.driveC() + "/Inst")) {
            (void)entry;
            ++files;
        }
        return files;
    };
    const size_t filesBefore = count();
    EXPECT_EQ(CommitDatabase(context_), 4105u);
    EXPECT_EQ(context_.lastMessageId, kMessageArchiveCreate);
    EXPECT_EQ(count(), filesBefore) << "no second cab cache";
    EXPECT_EQ(std::string(context_.cabinet.cabinetParameters.szCabPath), cabinet);
}

// Every listed file lost its File row: no cabinet, no library Media row, no
// cab cache named; the previous one goes once the package is in place.
TEST_F(CommitTest, NothingLeftToArchiveCommitsWithoutACabinet) {
    for (const auto& rows : {std::vector<std::vector<WideString>>{},
                             {{u"Ghost", MakeFile("new/ghost.txt", "ghost"), u"ghost.txt"}}}) {
        SCOPED_TRACE(rows.size());
        DestroyContext(context_);
        InitContext(context_);
        progressCalls.clear();
        ASSERT_NO_FATAL_FAILURE(Prepare(rows));
        SetPath(context_.cabCachePath, MakeFile("Inst/product.old.msi", "old cab cache"));
        ASSERT_EQ(CommitDatabase(context_), 0u);
        EXPECT_EQ(context_.lastMessageId, 0);
        EXPECT_EQ(context_.newCabCachePath[0], 0);
        EXPECT_EQ(context_.cabinet.cabinetParameters.szCabPath[0], 0) << "no cabinet was built";
        EXPECT_EQ(LastSequence(context_.database, 3), 0);
        EXPECT_EQ(Integers(context_.database, u"SELECT `DiskId`, `LastSequence` FROM `Media`")
                      .count("3"),
                  0u);
        EXPECT_EQ(PropertyValue(context_.database, u"QuilletCabCache"), "<none>");
        EXPECT_NE(RunSql(context_.database, u"SELECT * FROM `QuilletTempTable`"), 0u);
        ASSERT_EQ(FinishCommit(context_, nullptr), 0u);
        EXPECT_FALSE(Exists("Inst/product.old.msi")) << "nothing names it any more";
        ASSERT_FALSE(progressCalls.empty());
        EXPECT_EQ(progressCalls[0].code, 9);
        EXPECT_EQ(CommitDatabase(context_), 4105u) << "a second commit";
    }
}

// Only removals: no cabinet is built and the package goes on naming the
// previous cab cache, which the commit keeps; without one, nothing is named.
TEST_F(CommitTest, RemovalsAloneKeepThePreviousCabCache) {
    Prepare({}, false);
    SetPath(context_.cabCachePath, MakeFile("Inst/product.old.msi", "old cab cache"));
    ASSERT_EQ(CommitDatabase(context_), 0u);
    EXPECT_EQ(context_.newCabCachePath[0], 0);
    EXPECT_EQ(PropertyValue(context_.database, u"QuilletCabCache"), "C:\\Inst\\product.old.msi");
    EXPECT_EQ(Integers(context_.database, u"SELECT `DiskId`, `LastSequence` FROM `Media`")
                  .count("3"),
              1u);
    ASSERT_EQ(FinishCommit(context_, nullptr), 0u);
    EXPECT_TRUE(Exists("Inst/product.old.msi")) << "the package still names it";
    MSIHANDLE installed = 0;
    ASSERT_EQ(MsiOpenDatabaseW(u"C:\\Inst\\product.msi", MSIDBOPEN_READONLY, &installed), 0u);
    EXPECT_EQ(PropertyValue(installed, u"QuilletCabCache"), "C:\\Inst\\product.old.msi");
    MsiCloseHandle(installed);

    // The open takes the row out of the working copy; no cab cache, none named.
    DestroyContext(context_);
    InitContext(context_);
    Prepare({}, false);
    ASSERT_EQ(RunSql(context_.database,
                     u"DELETE FROM `Property` WHERE `Property`='QuilletCabCache'"),
              0u);
    ASSERT_EQ(CommitDatabase(context_), 0u);
    EXPECT_EQ(PropertyValue(context_.database, u"QuilletCabCache"), "<none>");
}

// A first replacement that stopped before the library's Media row was put
// in place leaves nothing the archived files could be numbered in.
TEST_F(CommitTest, AnUnfinishedFirstReplacementFailsTheCommit) {
    Prepare({{u"F1", MakeFile("new/one.txt", "one"), u"one.txt"}});
    context_.updateSequence = 0;
    EXPECT_EQ(CommitDatabase(context_), 4105u);
    EXPECT_EQ(context_.lastMessageId, kMessageUpdateFile);
    EXPECT_EQ(context_.newCabCachePath[0], 0);
}

}  // namespace
}  // namespace library_test
