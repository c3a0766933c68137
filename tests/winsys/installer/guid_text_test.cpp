// Packed GUIDs: the transformation, its inverse, and what is refused.
#include <gtest/gtest.h>

#include "installer/guid_text.h"

using winsys::installer::isGuidText;
using winsys::installer::squishGuid;
using winsys::installer::unsquishGuid;

TEST(GuidText, PacksAsTheInstallerDoes) {
    // A product code whose packed form is widely published.
    EXPECT_EQ(squishGuid(u"{90120000-0030-0000-0000-0000000FF1CE}"),
              u"00002109030000000000000000F01FEC");
    EXPECT_EQ(squishGuid(u"{12345678-9ABC-DEF0-1234-56789ABCDEF0}"),
              u"87654321CBA90FED21436587A9CBED0F");
}

TEST(GuidText, PackingIsUpperCaseAndReversible) {
    auto packed = squishGuid(u"{12345678-9abc-def0-1234-56789abcdef0}");
    EXPECT_EQ(packed, u"87654321CBA90FED21436587A9CBED0F");
    EXPECT_EQ(unsquishGuid(*packed), u"{12345678-9ABC-DEF0-1234-56789ABCDEF0}");
    EXPECT_EQ(unsquishGuid(u"00002109030000000000000000F01FEC"),
              u"{90120000-0030-0000-0000-0000000FF1CE}");
}

TEST(GuidText, RefusesAnythingButTheBracedForm) {
    for (const char16_t* bad :
         {u"", u"{}", u"garbage", u"12345678-9ABC-DEF0-1234-56789ABCDEF0",
          u"{12345678-9ABC-DEF0-1234-56789ABCDEF0", u"{12345678-9ABC-DEF0-1234-56789ABCDEFG}",
          u"{12345678-9ABC-DEF0-123456789ABCDEF0}", u"{12345678+9ABC-DEF0-1234-56789ABCDEF0}",
          u"{12345678-9ABC-DEF0-1234-56789ABCDEF01}", u"A938G02JF-2NF3N93-VN3-2NNF-3KGKALDNF93"}) {
        EXPECT_FALSE(isGuidText(bad))
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
        EXPECT_FALSE(squishGuid(bad));
    }
    EXPECT_FALSE(unsquishGuid(u"87654321CBA90FED21436587A9CBED0"));
    EXPECT_FALSE(unsquishGuid(u"87654321CBA90FED21436587A9CBED0G"));
}
