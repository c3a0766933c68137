// An installed product and a commit as the library makes it, reduced to what
// the undo record and the restore see: the working copy with the commit's
// table changes, a new cab cache, the undo record, then the working copy over
// the installed package and the previous cab cache deleted.
#pragma once

#include "backup_test_support.h"

namespace backup_test {

inline const WideString kInstalledPackage = CPath("windows/Installer/product.msi");
inline const WideString kOldCabCache = CPath("windows/Installer/product.old.msi");
inline const std::string kOldCabinet = "MSCF old cabinet bytes";

// Registers the product with its cached package; with a cab cache, the
// package names one that holds kOldCabinet.
inline void InstallProduct(bool withCabCache) {
    CreatePackage(kInstalledPackage, kPackageCode, withCabCache ? kOldCabCache : u"");
    if (withCabCache)
        CreateCabCache(kOldCabCache, kOldCabinet);
    winsys::installer::ProductRegistration product;
    product.productCode = kProduct;
    product.packageCode = kPackageCode;
    product.productName = u"Sample";
    product.productVersion = u"1.0.0";
    product.manufacturer = u"Sample Maker";
    product.language = 1033;
    product.localPackage = kInstalledPackage;
    product.installSource = u"C:\\media\\";
    product.packageName = u"product.msi";
    ASSERT_EQ(winsys::installer::registerProduct(product), 0);
}

struct SimulatedCommit {
    DWORD undoStatus = 0;
    WideString backupString;
    WideString newCabCache;
    LONG lastMessageId = 0;
};

// One commit of the installed package; `index` keeps the names of several
// commits apart. cabCache is what the patch context held as cabCachePath.
// newCabCache names the cab cache the commit makes; by default one named
// after `index`.
inline SimulatedCommit Commit(int index, const WideString& cabCache, LPCWSTR backupDirectory,
                              const WideString& packagePath = kInstalledPackage,
                              const WideString& newCabCache = {}) {
    SimulatedCommit result;
    const std::string n = std::to_string(index);
    const std::string nativeWorking = DriveC("work/working.msi");
    std::filesystem::copy_file(DriveC("windows/Installer/product.msi"), nativeWorking,
                               std::filesystem::copy_options::overwrite_existing);
    result.newCabCache =
        newCabCache.empty() ? CPath("windows/Installer/product.c" + n + ".msi") : newCabCache;
    CreateCabCache(result.newCabCache, "MSCF cabinet of commit " + n);

    PatchContext context;
    InitContext(context);
    context.productCode = WideString(kProduct);
    std::copy(packagePath.begin(), packagePath.end(), context.packagePath.begin());
    context.packagePath[packagePath.size()] = 0;
    std::copy(cabCache.begin(), cabCache.end(), context.cabCachePath.begin());
    context.cabCachePath[cabCache.size()] = 0;
    std::copy(result.newCabCache.begin(), result.newCabCache.end(),
              context.newCabCachePath.begin());
    context.newCabCachePath[result.newCabCache.size()] = 0;
    EXPECT_EQ(MsiOpenDatabaseW(CPath("work/working.msi").c_str(), MSIDBOPEN_TRANSACT,
                               &context.database),
              0u);
    Exec(context.database, u"DELETE FROM `Property` WHERE `Property`='QuilletCabCache'");
    Exec(context.database, u"UPDATE `File` SET `FileSize`=" + Wide(std::to_string(200 + index)) +
                               u", `Version`='2.0.0." + Wide(n) +
                               u"', `Attributes`=16384, `Sequence`=" +
                               Wide(std::to_string(200 + index)) + u" WHERE `File`='one.dll'");
    Exec(context.database,
         u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `DiskPrompt`, `Cabinet`, `Source`) "
         u"VALUES (" +
             Wide(std::to_string(10 + index)) +
             u", 300, 'Quillet', '#QuilletCab', 'QuilletCabCache')");
    Exec(context.database, u"INSERT INTO `Property` (`Property`, `Value`) VALUES "
                           u"('QuilletCabCache', '" +
                               result.newCabCache + u"')");
    EXPECT_EQ(MsiDatabaseCommit(context.database), 0u);

    result.undoStatus = MakeUndoRecord(context, backupDirectory);
    result.lastMessageId = context.lastMessageId;
    if (context.backupString)
        result.backupString = *context.backupString;
    MsiCloseHandle(context.database);
    context.database = 0;
    DiscardReverseTransform(context);
    std::filesystem::copy_file(nativeWorking, DriveC("windows/Installer/product.msi"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(nativeWorking);
    if (!cabCache.empty())
        DeleteFileW(cabCache.c_str());
    return result;
}

// The name this process gives a cab cache of the installed package with the
// letter's code: product.a345.msi for letter a and process id 345.
inline std::string CabCacheNameOfThisProcess(char letter) {
    char code[32];
    std::snprintf(code, sizeof code, "%c%3d", letter, static_cast<int>(GetCurrentProcessId()));
    std::string four(code, 4);
    std::replace(four.begin(), four.end(), ' ', '_');
    return "windows/Installer/product." + four + ".msi";
}

inline std::string InstalledBytes() {
    return winsys_test::readFile(DriveC("windows/Installer/product.msi"));
}

// The undo entry number at the end of a backup string.
inline std::string EntryOf(const WideString& backupString) {
    std::string text = Narrow(backupString);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.substr(text.rfind(' ') + 1);
}

}  // namespace backup_test
