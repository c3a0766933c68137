// A file whose attributes cannot be read goes into the cabinet with
// attributes 0. The program defines its own GetFileAttributesA, which the
// library's objects linked into it call, so that reading them can fail.
#include "cabinet_test_support.h"

namespace {
bool failAttributes = false;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    if (failAttributes) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    const cabinet_test::WideString wide = cabinet_test::Wide(name);
    return GetFileAttributesW(wide.c_str());
}

namespace cabinet_test {
namespace {

class OpenInfoTest : public CabinetTest {
  protected:
    void TearDown() override {
        failAttributes = false;
        CabinetTest::TearDown();
    }
};

TEST_F(OpenInfoTest, UnreadableAttributesAreZero) {
    const std::string source = MakeFile("in/a.txt", "abc");
    ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_HIDDEN));
    USHORT date = 0, time = 0, attributes = 0;
    int err = 0;
    INT_PTR fd =
        FciGetOpenInfo(const_cast<char*>(source.c_str()), &date, &time, &attributes, &err, nullptr);
    ASSERT_NE(fd, -1);
    FdiCloseFile(fd);
    EXPECT_EQ(attributes, FILE_ATTRIBUTE_HIDDEN);

    failAttributes = true;
    attributes = 0xFFFF;
    fd =
        FciGetOpenInfo(const_cast<char*>(source.c_str()), &date, &time, &attributes, &err, nullptr);
    ASSERT_NE(fd, -1) << "the file is still added";
    FdiCloseFile(fd);
    EXPECT_EQ(attributes, 0);
    EXPECT_NE(date, 0);
}

}  // namespace
}  // namespace cabinet_test
