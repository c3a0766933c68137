// The message texts as the library loads them, character for character.
#include "library_test_support.h"

#include "api/messages.h"

namespace library_test {
namespace {

const char* const kTexts[] = {
    "Invalid msi handle provided to function.",
    "An invalid parameter was supplied to an msi function.",
    "The specified msi product could not be opened",
    "Error creating copy of specified msi database.",
    "Error creating archive for modified files.",
    "Error opening msi database. The file may be in use.",
    "Error committing changes to msi database. The file \n\tmay be in use, or read-only.",
    "Failed to insert stream into msi database.",
    "File not found in the specified msi database",
    "Error archiving modified file.",
    "Error updating file in msi database.",
    "Error creating unpatch transform.",
    "Backup transform failed.",
    "User supplied transform failed to apply properly.",
    "Error setting the new package GUID",
    "The msi database installed does not match the \n\trequired package identifier",
    "Error archiving patch file in msi database",
    "Committing MSI database changes. This could take several minutes...\n\n",
};

class Messages : public LibraryTest {};

TEST_F(Messages, EveryRecordedNumberLoadsItsExactText) {
    PatchContext context;
    InitContext(context);
    EXPECT_EQ(LoadMessageText(context), nullptr);
    for (LONG id = 1; id <= 18; ++id) {
        context.lastMessageId = id;
        const char* text = LoadMessageText(context);
        ASSERT_EQ(text, context.messageText.data());
        EXPECT_STREQ(text, kTexts[id - 1]) << "message " << id;
    }
}

TEST_F(Messages, TheExportGivesTheLatestFailureUntilAnotherIsRecorded) {
    const int handle = QLTMsiOpen();
    QLTMsiOpenDatabase(handle, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_STREQ(QLTMsiGetLastErrorStrA(handle), kTexts[1]);
    libraryState.currentContext->lastMessageId = kMessageCommit;
    EXPECT_STREQ(QLTMsiGetLastErrorStrA(handle), kTexts[6]) << "loaded anew at every call";
}

}  // namespace
}  // namespace library_test
