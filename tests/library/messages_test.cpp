// The message texts as the library loads them, character for character.
#include "library_test_support.h"

#include "api/messages.h"
#include "expected_messages.h"

namespace library_test {
namespace {

class Messages : public LibraryTest {};

TEST_F(Messages, EveryRecordedNumberLoadsItsExactText) {
    PatchContext context;
    InitContext(context);
    EXPECT_EQ(LoadMessageText(context), nullptr);
    for (LONG id = 1; id <= 18; ++id) {
        context.lastMessageId = id;
        const char* text = LoadMessageText(context);
        ASSERT_EQ(text, context.messageText.data());
        EXPECT_STREQ(text, kExpectedMessages[id - 1]) << "message " << id;
    }
}

TEST_F(Messages, TheExportGivesTheLatestFailureUntilAnotherIsRecorded) {
    const int handle = QLTMsiOpen();
    QLTMsiOpenDatabase(handle, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_STREQ(QLTMsiGetLastErrorStrA(handle), kExpectedMessages[1]);
    libraryState.currentContext->lastMessageId = kMessageCommit;
    EXPECT_STREQ(QLTMsiGetLastErrorStrA(handle), kExpectedMessages[6]) << "loaded anew at every call";
}

}  // namespace
}  // namespace library_test
