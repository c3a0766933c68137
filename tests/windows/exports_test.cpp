// The export table as the Windows loader resolves it: eleven entry points by
// name and by fixed ordinal, plain names on i686, and the stdcall convention
// that callers compiled against the interface rely on.
#include <gtest/gtest.h>

#include "loaded_library.h"

namespace qltmsi_windows_test {
namespace {

TEST(Exports, LibraryLoadsFromBesideTheProgram) {
    ASSERT_NE(Library().module, nullptr) << "LoadLibraryW failed with " << GetLastError();
}

TEST(Exports, EachNameResolvesToTheSameEntryAsItsOrdinal) {
    HMODULE module = Library().module;
    ASSERT_NE(module, nullptr);
    for (const ExportEntry &entry : kExports) {
        FARPROC byName = GetProcAddress(module, entry.name);
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal));
        EXPECT_NE(byName, nullptr) << entry.name;
        EXPECT_EQ(byName, byOrdinal) << entry.name << " is not ordinal " << entry.ordinal;
    }
}

TEST(Exports, NothingIsExportedBeyondTheEleven) {
    HMODULE module = Library().module;
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(12)), nullptr);
    EXPECT_EQ(GetProcAddress(module, "DllMain"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "DllMain@12"), nullptr);
}

TEST(Exports, NamesCarryNoStdcallDecoration) {
    HMODULE module = Library().module;
    ASSERT_NE(module, nullptr);
    for (const char *decorated : {"_QLTMsiOpen@0", "QLTMsiOpen@0", "QLTMsiClose@4", "_QLTMsiClose@4",
                                  "QLTMsiOpenDatabase@24", "QltMsiBackupSvr@16", "DefragMsiFile@4"}) {
        EXPECT_EQ(GetProcAddress(module, decorated), nullptr) << decorated;
    }
}

#if defined(__i386__)
// Bytes of its arguments that a one-argument function removed from the stack
// on return: 4 for stdcall (callee cleans up), 0 for cdecl.
static unsigned ArgumentBytesPoppedByCallee(void *function, int argument) {
    unsigned pushedAndLeft;
    __asm__ volatile(
        "movl %%esp, %0\n\t"
        "pushl %1\n\t"
        "call *%2\n\t"
        "subl %%esp, %0\n\t"
        "addl %0, %%esp\n\t"
        : "=&r"(pushedAndLeft)
        : "rmi"(argument), "r"(function)
        : "eax", "ecx", "edx", "memory", "cc");
    return 4 - pushedAndLeft;
}

TEST(Exports, HandleExportsAreStdcallOnI686) {
    const LoadedLibrary &library = Library();
    ASSERT_NE(library.close, nullptr);
    ASSERT_NE(library.closeDatabase, nullptr);
    // A handle that cannot be open: the calls answer at once and touch nothing.
    EXPECT_EQ(ArgumentBytesPoppedByCallee(reinterpret_cast<void *>(library.close), 0x12345678), 4u);
    EXPECT_EQ(ArgumentBytesPoppedByCallee(reinterpret_cast<void *>(library.closeDatabase), 0x12345678), 4u);
}
#endif

}  // namespace
}  // namespace qltmsi_windows_test
