// Splitting command APDUs into header, data and expected length.
#include <gtest/gtest.h>

#include "libapdu.internal.h"
#include "raised.h"

using namespace libapdu;

namespace {

TEST(CoreParseCapdu, Layouts) {
    struct Case {
        const char* what;
        TBytes command;
        TBytes data;
        unsigned short le;
    };
    const TBytes d4 = {0x03, 0x02, 0x00, 0x20};
    auto with = [](TBytes a, const TBytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const TBytes short4 = with({0x80, 0x1A, 0x00, 0x00, 0x04}, d4);
    const TBytes ext4 = with({0x80, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x04}, d4);
    TBytes long256(256, 0x5A);
    const Case cases[] = {
        {"header only", {0x00, 0xA4, 0x04, 0x00}, {}, 0},
        {"short Le", {0x00, 0x84, 0x00, 0x00, 0x08}, {}, 8},
        {"Le 00 stays 0", {0x00, 0x84, 0x00, 0x00, 0x00}, {}, 0},
        {"00 and one more byte read as Le", {0x00, 0x84, 0x00, 0x00, 0x00, 0x12}, {}, 0x0012},
        {"extended Le", {0x00, 0xCA, 0x01, 0x81, 0x00, 0x01, 0x00}, {}, 256},
        {"extended Le FFFF", {0x00, 0xB0, 0x00, 0x00, 0x00, 0xFF, 0xFF}, {}, 0xFFFF},
        {"short Lc, no Le", short4, d4, 0},
        {"short Lc, Le 00", with(short4, {0x00}), d4, 0},
        {"short Lc, Le 20", with(short4, {0x20}), d4, 0x20},
        {"short Lc, two Le bytes", with(short4, {0x01, 0x00}), d4, 256},
        {"short Lc, extended Le", with(short4, {0x00, 0x01, 0x00}), d4, 256},
        {"extended Lc", ext4, d4, 0},
        {"extended Lc, extended Le", with(ext4, {0x00, 0x12, 0x34}), d4, 0x1234},
        {"extended Lc of 256", with({0x00, 0xD6, 0x00, 0x00, 0x00, 0x01, 0x00}, long256), long256, 0},
    };
    for (const Case& c : cases) {
        TBytes header{9}, data{9};
        unsigned short le = 0xBEEF;
        ASSERT_EQ(CodeOf([&] { IAPDUDefinitions::parse_capdu(c.command, header, data, le); }), 0) << c.what;
        EXPECT_EQ(header, TBytes(c.command.begin(), c.command.begin() + 4)) << c.what;
        EXPECT_EQ(data, c.data) << c.what;
        EXPECT_EQ(le, c.le) << c.what;
    }
}

TEST(CoreParseCapdu, Refusals) {
    struct Case {
        const char* what;
        TBytes command;
        bool headerSet, dataSet;
    };
    const TBytes d3 = {0x01, 0x02, 0x03};
    const Case cases[] = {
        {"empty", {}, false, false},
        {"three bytes", {0x00, 0xA4, 0x04}, false, false},
        {"Lc 05 with 3 data bytes", {0x00, 0xD6, 0x00, 0x00, 0x05, 0x01, 0x02, 0x03}, true, false},
        {"extended Lc 0100 with 2 data bytes", {0x00, 0xD6, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x02}, true, false},
        {"extended Lc FFFF with nothing", {0x00, 0xD6, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x01}, true, false},
        {"three trailing bytes not starting 00", {0x00, 0xD6, 0x00, 0x00, 0x03, 1, 2, 3, 0x01, 0x01, 0x00}, true, true},
        {"four trailing bytes", {0x00, 0xD6, 0x00, 0x00, 0x03, 1, 2, 3, 0x00, 0x00, 0x01, 0x00}, true, true},
        {"many trailing bytes", {0x00, 0xD6, 0x00, 0x00, 0x01, 1, 0, 0, 0, 0, 0, 0, 0, 0}, true, true},
    };
    for (const Case& c : cases) {
        TBytes header{9}, data{9};
        unsigned short le = 0;
        auto r = RaisedBy([&] { IAPDUDefinitions::parse_capdu(c.command, header, data, le); });
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(r->code, 0x6B00) << c.what;
        EXPECT_EQ(r->file, "Externals/Internal/LibAPDU/Source/token/libapdu.internal") << c.what;
        EXPECT_EQ(header != TBytes{9}, c.headerSet) << c.what;
        EXPECT_EQ(data != TBytes{9}, c.dataSet) << c.what;
    }
}

}  // namespace
