// Helper process for the concurrency test: makes undo records for its own
// copy of a committed package as fast as it can, once a start file appears,
// and prints each record's entry number.
//   undo_entry_taker LIBRARY PACKAGE WORKING_COPY BACKUP_DIR START_FILE COUNT
#include "api/dll_main.h"
#include "api/patch_context.h"
#include "backup/undo_record.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7)
        return 2;
    HMODULE library = LoadLibraryA(argv[1]);
    DllMain(library, DLL_PROCESS_ATTACH, nullptr);
    const std::u16string package = Wide(argv[2]);
    const std::u16string working = Wide(argv[3]);
    const std::u16string backup = Wide(argv[4]);
    while (access(argv[5], F_OK) != 0)
        usleep(1000);
    const int count = std::atoi(argv[6]);
    for (int i = 0; i < count; ++i) {
        PatchContext context;
        InitContext(context);
        context.productCode = u"{7E1D2C3B-AAAA-4BBB-8CCC-0123456789AB}";
        package.copy(context.packagePath.data(), package.size());
        if (MsiOpenDatabaseW(working.c_str(), MSIDBOPEN_READONLY, &context.database) != 0)
            return 3;
        const DWORD status = MakeUndoRecord(context, backup.c_str());
        std::string entry = "failed";
        if (status == 0 && context.backupString) {
            const std::u16string& text = *context.backupString;
            entry = std::string(text.begin() + text.rfind(u' ') + 1, text.end() - 1);
        }
        std::printf("%s\n", entry.c_str());
        std::fflush(stdout);
        ReleaseContext(context);
    }
    return 0;
}
