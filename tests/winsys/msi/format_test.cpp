// Package format pieces on in-memory data: stream names, the string pool,
// table streams, summary information, code pages, column types.
#include <gtest/gtest.h>
#include <msidefs.h>

#include "msi/codepage.h"
#include "msi/column_type.h"
#include "msi/stream_name.h"
#include "msi/string_pool.h"
#include "msi/summary_info.h"
#include "msi/table_codec.h"

using namespace winsys::msi;

namespace {

std::vector<uint16_t> units(std::u16string_view s) { return {s.begin(), s.end()}; }

TEST(StreamNames, PackAsPackagesDo) {
    EXPECT_EQ(units(encodeStreamName(u"_Tables", true)),
              (std::vector<uint16_t>{0x4840, 0x3F7F, 0x4164, 0x422F, 0x4836}));
    EXPECT_EQ(units(encodeStreamName(u"_StringPool", true)),
              (std::vector<uint16_t>{0x4840, 0x3F3F, 0x4577, 0x446C, 0x3E6A, 0x44B2, 0x482F}));
    EXPECT_EQ(units(encodeStreamName(u"Property", true)), (std::vector<uint16_t>{0x4840, 0x4559, 0x44F2, 0x4568, 0x4737}));
    EXPECT_EQ(units(encodeStreamName(u"File", true)), (std::vector<uint16_t>{0x4840, 0x430F, 0x422F}));
    EXPECT_EQ(units(encodeStreamName(u"Binary.blob1", false)),
              (std::vector<uint16_t>{0x430B, 0x4131, 0x4735, 0x417E, 0x44AF, 0x3865}));
    EXPECT_EQ(units(encodeStreamName(u"data.cab", false)), (std::vector<uint16_t>{0x4127, 0x4137, 0x41BE, 0x4164}));
}

TEST(StreamNames, RoundTripWithCharactersOutsideTheAlphabet) {
    for (std::u16string name : {u"_Columns", u"a-b c", u"x", u"Tab\u00e9le.1", u"\005SummaryInformation", u"QuilletCab"}) {
        bool table = true;
        EXPECT_EQ(decodeStreamName(encodeStreamName(name, false), &table), name);
        EXPECT_FALSE(table);
        EXPECT_EQ(decodeStreamName(encodeStreamName(name, true), &table), name);
        EXPECT_TRUE(table);
    }
}

TEST(StringPool, RoundTripWithHolesLongStringsAndCounts) {
    StringPool pool;
    pool.codepage = 1252;
    uint32_t a = pool.intern(u"Property");
    uint32_t b = pool.intern(u"unused");
    uint32_t c = pool.intern(std::u16string(70000, u'x'));
    uint32_t d = pool.intern(u"caf\u00e9");
    EXPECT_EQ(pool.intern(u"Property"), a);
    EXPECT_EQ(pool.intern(u""), 0u);
    std::vector<uint32_t> refs(pool.limit(), 0);
    refs[a] = 3;
    refs[c] = 1;
    refs[d] = 70000;  // counts saturate
    EncodedPool enc;
    ASSERT_TRUE(encodeStringPool(pool, refs, &enc));
    EXPECT_FALSE(enc.wideRefs);
    // header, id a, hole b, long c (two slots), d
    ASSERT_EQ(enc.pool.size(), 4u + 5 * 4);
    EXPECT_EQ(enc.pool[0], 0xE4);
    EXPECT_EQ(enc.pool[1], 0x04);
    EXPECT_EQ(enc.pool[8], 0);  // hole
    EXPECT_EQ(enc.pool[11], 0);
    EXPECT_EQ(enc.pool[22], 0xFF);  // saturated count of d
    EXPECT_EQ(enc.data.size(), 8u + 70000 + 4);
    EXPECT_EQ(uint8_t(enc.data.back()), 0xE9);

    StringPool back;
    bool wide = true;
    ASSERT_TRUE(decodeStringPool(enc.pool, std::span(reinterpret_cast<const uint8_t*>(enc.data.data()), enc.data.size()), &back, &wide));
    EXPECT_FALSE(wide);
    EXPECT_EQ(back.codepage, 1252u);
    EXPECT_EQ(back.text(a), u"Property");
    EXPECT_FALSE(back.valid(b));
    EXPECT_EQ(back.text(c).size(), 70000u);
    EXPECT_EQ(back.text(d), u"caf\u00e9");
    EXPECT_EQ(back.intern(u"new"), b);  // holes are reused
}

TEST(StringPool, ThreeByteReferencesPastSixtyFiveThousandIds) {
    StringPool pool;
    std::vector<uint32_t> refs(1, 0);
    for (int i = 0; i < 70000; ++i) {
        std::string s = "s" + std::to_string(i);
        refs.push_back(1);
        ASSERT_EQ(pool.intern(std::u16string(s.begin(), s.end())), uint32_t(i + 1));
    }
    EncodedPool enc;
    ASSERT_TRUE(encodeStringPool(pool, refs, &enc));
    EXPECT_TRUE(enc.wideRefs);
    EXPECT_EQ(enc.pool[3] & 0x80, 0x80);
    StringPool back;
    bool wide = false;
    ASSERT_TRUE(decodeStringPool(enc.pool, std::span(reinterpret_cast<const uint8_t*>(enc.data.data()), enc.data.size()), &back, &wide));
    EXPECT_TRUE(wide);
    EXPECT_EQ(back.text(69999), u"s69998");
}

// A pool read from a file goes back as the bytes it was read from, even
// where decoding is lossy; a string given a new text or a pool given a new
// code page is encoded afresh.
TEST(StringPool, WritesBackTheBytesItReadUnlessTheTextOrCodePageChanged) {
    auto bytesOf = [](std::string_view s) { return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
    auto poolOf = [](unsigned codepage, std::initializer_list<uint16_t> lengths) {
        std::vector<uint8_t> p = {uint8_t(codepage), uint8_t(codepage >> 8), 0, 0};
        for (uint16_t n : lengths) p.insert(p.end(), {uint8_t(n), uint8_t(n >> 8), 1, 0});
        return p;
    };
    // 65001 with bytes that are not UTF-8 (read as 1252), an ASCII string,
    // and valid UTF-8.
    const std::string data = std::string("caf\xE9") + "plain" + "\xC3\xA9t\xC3\xA9";
    std::vector<uint8_t> stored = poolOf(65001, {4, 5, 5});
    StringPool pool;
    bool wide = false;
    ASSERT_TRUE(decodeStringPool(stored, bytesOf(data), &pool, &wide));
    EXPECT_EQ(pool.text(1), u"caf\u00e9");
    EXPECT_EQ(pool.text(3), u"\u00e9t\u00e9");
    std::vector<uint32_t> refs = {0, 1, 1, 1};
    EncodedPool enc;
    // Encoded apart, the pieces (runs of the bytes read, strings encoded anew)
    // make the same stream, and the same _StringPool.
    auto joinedApart = [&] {
        EncodedPool apart;
        EXPECT_TRUE(encodeStringPool(pool, refs, &apart, true));
        EXPECT_EQ(apart.pool, enc.pool);
        std::string joined;
        for (const auto& piece : apart.pieces) {
            if (!piece.stored) joined += apart.data.substr(piece.offset, piece.length);
            else joined.append(reinterpret_cast<const char*>(pool.storedData()->data()) + piece.offset, piece.length);
        }
        return joined;
    };
    ASSERT_TRUE(encodeStringPool(pool, refs, &enc));
    EXPECT_EQ(enc.data, data);
    EXPECT_EQ(enc.pool, stored);
    EXPECT_EQ(joinedApart(), enc.data);

    // A hole refilled with a new string, ids dropped and kept around it.
    refs = {0, 1, 0, 1};
    ASSERT_TRUE(encodeStringPool(pool, refs, &enc));
    EXPECT_EQ(enc.data, std::string("caf\xE9") + "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(joinedApart(), enc.data);
    ASSERT_TRUE(decodeStringPool(enc.pool, bytesOf(enc.data), &pool, &wide));
    EXPECT_EQ(pool.intern(u"new \u00e9"), 2u);
    refs = {0, 1, 1, 1};
    ASSERT_TRUE(encodeStringPool(pool, refs, &enc));
    EXPECT_EQ(enc.data, std::string("caf\xE9") + "new \xC3\xA9" + "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(joinedApart(), enc.data);

    // The code page changes: every string is written in the new one.
    const std::string western = "caf\xE9";
    ASSERT_TRUE(decodeStringPool(poolOf(1252, {4}), bytesOf(western), &pool, &wide));
    pool.codepage = kCodepageUtf8;
    refs = {0, 1};
    ASSERT_TRUE(encodeStringPool(pool, refs, &enc));
    EXPECT_EQ(enc.data, "caf\xC3\xA9");
    EXPECT_EQ(joinedApart(), enc.data);
    EXPECT_EQ(enc.pool[0], 0xE9);  // 65001
    EXPECT_EQ(enc.pool[1], 0xFD);
}

TEST(StringPool, RejectsPoolsThatDoNotAddUp) {
    StringPool out;
    bool wide;
    const uint8_t header[] = {0, 0, 0, 0, 5, 0, 1, 0};
    const uint8_t shortData[] = {'a', 'b'};
    EXPECT_FALSE(decodeStringPool(header, shortData, &out, &wide));  // 5 bytes claimed, 2 present
    const uint8_t longData[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_FALSE(decodeStringPool(header, longData, &out, &wide));  // bytes left over
    const uint8_t longMarkerAtEnd[] = {0, 0, 0, 0, 0, 0, 1, 0};
    EXPECT_FALSE(decodeStringPool(longMarkerAtEnd, {}, &out, &wide));
    const uint8_t badCodepage[] = {0x39, 0x30, 0, 0};  // 12345
    EXPECT_FALSE(decodeStringPool(badCodepage, {}, &out, &wide));
    const uint8_t truncatedHeader[] = {0xE4, 0x04};
    EXPECT_FALSE(decodeStringPool(truncatedHeader, {}, &out, &wide));
}

TEST(TableStreams, ColumnMajorCellsAsTheFormatStoresThem) {
    // Id SHORT key, Big LONG, Small SHORT, Txt CHAR(20)
    const uint16_t types[] = {0x2502, 0x1104, 0x1502, 0x1D14};
    std::vector<Cells> rows = {
        {encodeShort(-3), encodeLong(2147483647), encodeShort(-32767), 0},
        {encodeShort(1), 0, encodeShort(7), 0x18},
        {encodeShort(5), encodeLong(-1), 0, 0x17},
        {encodeShort(300), encodeLong(-2147483647), encodeShort(32767), 0x19},
    };
    std::vector<const Cells*> ptrs;
    for (auto& r : rows) ptrs.push_back(&r);
    auto bytes = encodeTableStream(ptrs, types, false);
    const std::vector<uint8_t> expected = {
        0xfd, 0x7f, 0x01, 0x80, 0x05, 0x80, 0x2c, 0x81,
        0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x7f, 0x01, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x07, 0x80, 0x00, 0x00, 0xff, 0xff,
        0x00, 0x00, 0x18, 0x00, 0x17, 0x00, 0x19, 0x00};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(decodeTableStream(bytes, types, false), rows);
    EXPECT_EQ(decodeInteger(0x1104, rows[3][1]), -2147483647);
    // A 2-byte-reference stream under a 3-byte pool still reads.
    EXPECT_EQ(decodeTableStream(bytes, types, true), rows);
    // Trailing bytes that make no whole row are ignored.
    bytes.push_back(1);
    EXPECT_EQ(decodeTableStream(bytes, types, false).size(), 4u);
}

TEST(ColumnTypes, TextFormsAndWidths) {
    EXPECT_EQ(columnTypeText(0x2D48), "s72");
    EXPECT_EQ(columnTypeText(0x1D00), "S0");
    EXPECT_EQ(columnTypeText(0x1F00 + 255), "L255");
    EXPECT_EQ(columnTypeText(0x0502), "i2");
    EXPECT_EQ(columnTypeText(0x1104), "I4");
    EXPECT_EQ(columnTypeText(0x1900), "V0");
    EXPECT_EQ(columnTypeText(0x4D00), "g0");
    EXPECT_EQ(columnTypeText(0x4502), "j2");
    EXPECT_TRUE(isBinaryType(0x0900));
    EXPECT_FALSE(isStringType(0x1900));
    EXPECT_EQ(cellWidth(0x1D00, true), 3u);
    EXPECT_EQ(cellWidth(0x1900, true), 2u);
    EXPECT_EQ(cellWidth(0x0104, true), 4u);
}

TEST(Codepages, WesternNeutralUtf8AndRefusals) {
    EXPECT_EQ(decodeCodepage(0, "\xe9\x80\x81"), u"\u00e9\u20ac\u0081");
    EXPECT_EQ(encodeCodepage(1252, u"\u00e9\u20ac\u0081"), std::string("\xe9\x80\x81"));
    EXPECT_EQ(decodeCodepage(65001, "\xc3\xa9\xf0\x9f\x98\x80"), u"\u00e9\U0001F600");
    EXPECT_EQ(encodeCodepage(65001, u"\u00e9\U0001F600"), std::string("\xc3\xa9\xf0\x9f\x98\x80"));
    EXPECT_EQ(decodeCodepage(1251, "\xc0"), u"\u0410");
    EXPECT_FALSE(encodeCodepage(1252, u"\u0410").has_value());
    EXPECT_FALSE(isSupportedCodepage(932));
    EXPECT_TRUE(isSupportedCodepage(1250));
}

TEST(SummaryInformation, RoundTripOfTheUsualProperties) {
    SummaryInfo info;
    info.properties[PID_CODEPAGE] = {VT_I2, 1252, 0, {}};
    info.properties[PID_TITLE] = {VT_LPSTR, 0, 0, u"Installation Database"};
    info.properties[PID_SUBJECT] = {VT_LPSTR, 0, 0, u"D\u00e9mo"};
    info.properties[PID_REVNUMBER] = {VT_LPSTR, 0, 0, u"{C3346B04-0000-4000-8000-96EA77A829FE}"};
    info.properties[PID_CREATE_DTM] = {VT_FILETIME, 0, 0x01D9000012345678ULL, {}};
    info.properties[PID_PAGECOUNT] = {VT_I4, 200, 0, {}};
    info.properties[PID_WORDCOUNT] = {VT_I4, 2, 0, {}};
    auto bytes = encodeSummaryInfo(info);
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], 0xFE);
    EXPECT_EQ((*bytes)[0x1C], 0xE0);
    EXPECT_EQ((*bytes)[0x2C], 0x30);
    auto back = decodeSummaryInfo(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->properties.size(), 7u);
    EXPECT_EQ(back->properties[PID_SUBJECT].text, u"D\u00e9mo");
    EXPECT_EQ(back->properties[PID_CREATE_DTM].filetime, 0x01D9000012345678ULL);
    EXPECT_EQ(back->properties[PID_PAGECOUNT].integer, 200);
    EXPECT_EQ(back->codepage(), 1252u);
    // Damaged sets are refused, never read past their end.
    for (size_t cut = 0; cut < bytes->size(); cut += 7) {
        std::vector<uint8_t> part(bytes->begin(), bytes->begin() + cut);
        (void)decodeSummaryInfo(part);
    }
    (*bytes)[0] = 0;
    EXPECT_FALSE(decodeSummaryInfo(*bytes));
}

}  // namespace
