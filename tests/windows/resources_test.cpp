// The DLL's resources through the system's own calls: the message texts by
// LoadStringA/LoadStringW, the string table's language, and the version by
// the version-resource calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loaded_library.h"

namespace qltmsi_windows_test {
namespace {

struct Message {
    UINT number;
    const char *text;
};
const Message kMessages[] = {
#define QLTMSI_MESSAGE(number, text) {number, text},
#include "message_texts.inc"
#undef QLTMSI_MESSAGE
};

class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        if (module == nullptr) GTEST_SKIP() << "qltmsi32.dll did not load";
    }
    HMODULE module = Library().module;
};

TEST_F(Resources, EighteenMessagesLoadAsNarrowAndWideText) {
    ASSERT_EQ(std::size(kMessages), 18u);
    for (const Message &message : kMessages) {
        char narrow[300] = {};
        int length = LoadStringA(module, message.number, narrow, sizeof narrow);
        EXPECT_EQ(length, static_cast<int>(std::strlen(message.text))) << "message " << message.number;
        EXPECT_STREQ(narrow, message.text) << "message " << message.number;

        wchar_t wide[300] = {};
        int wideLength = LoadStringW(module, message.number, wide, 300);
        EXPECT_EQ(wideLength, length) << "message " << message.number;
        EXPECT_EQ(std::wstring(wide), std::wstring(message.text, message.text + std::strlen(message.text)))
            << "message " << message.number;
    }
}

TEST_F(Resources, ControlCharactersSurviveTheResourceCompiler) {
    char text[300] = {};
    ASSERT_GT(LoadStringA(module, 7, text, sizeof text), 0);
    EXPECT_STREQ(text, "Error committing changes to msi database. The file \n\tmay be in use, or read-only.");
    ASSERT_GT(LoadStringA(module, 16, text, sizeof text), 0);
    EXPECT_STREQ(text, "The msi database installed does not match the \n\trequired package identifier");
    ASSERT_GT(LoadStringA(module, 18, text, sizeof text), 0);
    EXPECT_STREQ(text, "Committing MSI database changes. This could take several minutes...\n\n");
}

TEST_F(Resources, NoEntriesBesideOneToEighteen) {
    char text[300] = {'x', 0};
    EXPECT_EQ(LoadStringA(module, 0, text, sizeof text), 0);
    EXPECT_EQ(LoadStringA(module, 19, text, sizeof text), 0);
}

TEST_F(Resources, LongTextIsCutToTheBuffer) {
    char text[11];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(LoadStringA(module, 18, text, 10), 9);
    EXPECT_STREQ(text, "Committin");
    EXPECT_EQ(text[10], 'x');
}

static BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD> *>(found)->push_back(language);
    return TRUE;
}

TEST_F(Resources, StringTableIsEnglishUnitedStatesOnly) {
    // Entries 1..15 live in block 1, entries 16..18 in block 2.
    for (WORD block : {1, 2}) {
        std::vector<WORD> languages;
        EnumResourceLanguagesW(module, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(block), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(languages, std::vector<WORD>{1033}) << "block " << block;
    }
}

TEST_F(Resources, VersionIs6_50_0_0) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(LibraryPath(), &ignored);
    ASSERT_GT(size, 0u) << GetLastError();
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(LibraryPath(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &fixedSize));
    ASSERT_EQ(fixedSize, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (6u << 16) | 50u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, (6u << 16) | 50u);

    WORD *translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                               &translationSize));
    ASSERT_EQ(translationSize, 4u);
    EXPECT_EQ(translation[0], 1033);

    wchar_t *fileVersion = nullptr;
    UINT fileVersionLength = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void **>(&fileVersion), &fileVersionLength));
    EXPECT_EQ(std::wstring(fileVersion), L"6.50.0.0");
}

}  // namespace
}  // namespace qltmsi_windows_test
