// GUID text in and out, with Windows' answers for what is not a GUID.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>

namespace {

TEST(ClsidFromString, ParsesBracedGuidsInEitherCase) {
    CLSID id{};
    ASSERT_EQ(CLSIDFromString(u"{01234567-89ab-cdef-0123-456789ABCDEF}", &id), S_OK);
    EXPECT_EQ(id.Data1, 0x01234567u);
    EXPECT_EQ(id.Data2, 0x89ABu);
    EXPECT_EQ(id.Data3, 0xCDEFu);
    const uint8_t tail[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(std::memcmp(id.Data4, tail, 8), 0);

    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(id, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(StringFromGUID2(id, text, 38), 0);
    CLSID back{};
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_EQ(std::memcmp(&back, &id, sizeof id), 0);
}

TEST(ClsidFromString, RefusesAnythingElseAsWindowsDoes) {
    for (const char16_t* text :
         {u"01234567-89ab-cdef-0123-456789ABCDEF", u"{01234567-89ab-cdef-0123-456789ABCDEF}x",
          u"{01234567-89ab-cdef-0123-456789ABCDEG}", u"{01234567-89ab-cdef-0123+456789ABCDEF}",
          u"{01234567-89ab-cdef-0123-456789ABCDE}", u"", u"C:\\patches\\fix.mst", u"{0x234567-89ab-cdef-0123-456789ABCDEF}"}) {
        CLSID id;
        std::memset(&id, 0xAA, sizeof id);
        EXPECT_EQ(CLSIDFromString(text, &id), CO_E_CLASSSTRING);
        EXPECT_EQ(id.Data1, 0u);  // left as the null class
    }
    CLSID id;
    std::memset(&id, 0xAA, sizeof id);
    EXPECT_EQ(CLSIDFromString(nullptr, &id), S_OK);
    EXPECT_EQ(id.Data1, 0u);
    EXPECT_EQ(id.Data4[7], 0u);
    EXPECT_EQ(CLSIDFromString(u"{01234567-89ab-cdef-0123-456789ABCDEF}", nullptr), E_INVALIDARG);
}

}  // namespace
