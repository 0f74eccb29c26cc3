// The information facets of the Gost applet (one status record) and of the
// Gost2 applet (records by kind, random bytes, secure-messaging parameters).
#include <gtest/gtest.h>

#include "applet_gost.h"
#include "applet_gost2.h"
#include "appinfo/info_gost.h"
#include "appinfo/info_gost2.h"
#include "raised.h"
#include "scripted_sender.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kStatus[] = "80 15 10 00 01 01";
const char kRecord0[] = "80 38 20 00 00";

struct GostInfo {
    ScriptedSender s;
    CAppletGost applet{&s};
    CInfoGost& info = *static_cast<CInfoGost*>(applet.info());
};

struct Gost2Info {
    ScriptedSender s;
    CAppletGost2 applet{&s};
    CInfoGost2& info = *static_cast<CInfoGost2*>(applet.info());
};

// A record 0 of the version: 02, version, then bytes counting up; free memory
// 26 bytes before the end, the serial in the last 8.
TBytes Record0(unsigned char version, unsigned int free) {
    TBytes r(version > 6 ? 33 : 32);
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(i);
    r[0] = 0x02;
    r[1] = version;
    for (size_t k = 0; k < 4; ++k) r[r.size() - 26 + k] = static_cast<unsigned char>(free >> (24 - 8 * k));
    return r;
}

TEST(GostInfo, TheStatusRecordAnswersVersionSerialAndFreeMemory) {
    GostInfo t;
    const char* answer = "AA 01 02 03 04 12 34 56 78 20 64 00 00 00 00 00 60 61 62 63 64 65 66 67 EE 90 00";
    t.s.expect(kStatus, answer, 258);
    const TBytes record = t.info.get_status();
    ASSERT_EQ(record.size(), 24u);
    // The 16-bit fields are kept in host order.
    unsigned short f5, f9;
    std::memcpy(&f5, &record[5], 2);
    std::memcpy(&f9, &record[9], 2);
    EXPECT_EQ(f5, 0x1234);
    EXPECT_EQ(f9, 0x2064);
    t.s.expect(kStatus, answer);
    EXPECT_EQ(t.info.version(0), Hex("01 02 03 04"));
    t.s.expect(kStatus, answer);
    EXPECT_EQ(t.info.id(2), Hex("60 61 62 63 64 65 66 67"));
    t.s.expect(kStatus, answer);
    EXPECT_EQ(t.info.memoryFree(), 0x2064u);
    EXPECT_FALSE(t.info.isFips());
    EXPECT_EQ(t.info.color(), 0xFFFFFFFFu);
    EXPECT_EQ(t.info.memoryTotal(), 0xFFFFFFFFu);
    EXPECT_EQ(CodeOf([&] { t.info.value(0); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { t.info.isZudezoZudSMSupport(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { t.info.getZudezoZudSMInfo(1); }), 0xFACE);
    // 23 bytes are too few; the card's word goes first.
    t.s.expect(kStatus, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 90 00");
    EXPECT_EQ(CodeOf([&] { t.info.id(2); }), 0x6281);
    t.s.expect(kStatus, "6D 82");
    EXPECT_EQ(CodeOf([&] { t.info.id(2); }), 0x6A82);
    EXPECT_TRUE(t.s.done());
}

TEST(GostInfo, RandomBytesInOneCommandOfExactlyTheCount) {
    GostInfo t;
    t.s.expect(Hex("80 14 40 00 02 01 2C 00"), Concat(TBytes(300, 0x33), Hex("90 00")), 302);
    EXPECT_EQ(t.info.rnd(300), TBytes(300, 0x33));
    t.s.expect("80 14 40 00 02 00 00 00", "90 00", 2);
    EXPECT_TRUE(t.info.rnd(0).empty());
    t.s.expect("80 14 40 00 02 00 04 00", "01 02 03 90 00");
    EXPECT_EQ(CodeOf([&] { t.info.rnd(4); }), 0x6281);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2Info, RecordZeroByVersion) {
    struct Case {
        TBytes answer;
        long code;
    };
    const Case cases[] = {
        {Concat(Hex("02 06"), TBytes(30, 0)), -1},
        {Concat(Hex("02 07"), TBytes(30, 0)), 0x6281},
        {Concat(Hex("02 07"), TBytes(31, 0)), -1},
        {Concat(Hex("02 06"), TBytes(31, 0)), 0x6281},
        {Concat(Hex("01 06"), TBytes(31, 0)), -1},  // another kind: 33 bytes
        {Concat(Hex("01 06"), TBytes(30, 0)), 0x6281},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_card::ToHex(c.answer));
        Gost2Info t;
        t.s.expect(Hex(kRecord0), Concat(c.answer, Hex("90 00")), 35);
        EXPECT_EQ(testing_card::RaisedCode([&] { t.info.get_info(0); }), c.code);
    }
}

TEST(Gost2Info, VersionSerialAndFreeMemoryFromRecordZero) {
    for (unsigned char version : {6, 7}) {
        SCOPED_TRACE(version);
        Gost2Info t;
        const TBytes r = Record0(version, 0x00001000);
        for (int i = 0; i < 3; ++i) t.s.expect(Hex(kRecord0), Concat(r, Hex("90 00")));
        EXPECT_EQ(t.info.version(0), TBytes(r.begin(), r.begin() + 3));
        EXPECT_EQ(t.info.id(2), TBytes(r.end() - 8, r.end()));
        EXPECT_EQ(t.info.memoryFree(), 4096u);
        EXPECT_TRUE(t.s.done());
    }
    Gost2Info t;
    EXPECT_FALSE(t.info.isFips());
    EXPECT_EQ(t.info.color(), 0xFFFFFFFFu);
    EXPECT_EQ(t.info.memoryTotal(), 0xFFFFFFFFu);
    EXPECT_EQ(CodeOf([&] { t.info.value(1); }), 0xFACE);
}

TEST(Gost2Info, KindsTheirLengthsAndTheOnesRefused) {
    struct Case {
        unsigned char kind;
        size_t length;
    };
    const Case cases[] = {{2, 64}, {3, 32}, {5, 2}, {6, 1}, {7, 1}, {9, 6}, {11, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        Gost2Info t;
        const TBytes cmd = {0x80, 0x38, 0x20, c.kind, 0x00};
        t.s.expect(cmd, Concat(TBytes(c.length, c.kind), Hex("90 00")), c.length + 2);
        EXPECT_EQ(t.info.get_info(c.kind), TBytes(c.length, c.kind));
        t.s.expect(cmd, Concat(TBytes(c.length + 1, c.kind), Hex("90 00")));
        EXPECT_EQ(CodeOf([&] { t.info.get_info(c.kind); }), 0x6281);
        t.s.expect(cmd, Hex("67 14"));
        EXPECT_EQ(CodeOf([&] { t.info.get_info(c.kind); }), 0x6A82);
        EXPECT_TRUE(t.s.done());
    }
    Gost2Info t;
    for (unsigned char kind : {1, 8, 10, 12, 255})
        EXPECT_EQ(CodeOf([&] { t.info.get_info(kind); }), 0x6B00) << int(kind);
    EXPECT_TRUE(t.s.sent.empty());
}

TEST(Gost2Info, KindFourFollowsTheVersionAndAnswersTheSupport) {
    struct Case {
        unsigned char version;
        TBytes kind4;
        bool support;
    };
    const Case cases[] = {
        {5, TBytes(13, 0xFF), false},
        {7, Concat(TBytes(15, 0), Hex("04")), true},
        {7, Concat(TBytes(15, 0xFF), Hex("FB")), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_card::ToHex(c.kind4));
        Gost2Info t;
        t.s.expect(Hex(kRecord0), Concat(Record0(c.version, 0), Hex("90 00")));
        t.s.expect(Hex("80 38 20 04 00"), Concat(c.kind4, Hex("90 00")), c.kind4.size() + 2);
        EXPECT_EQ(t.info.isZudezoZudSMSupport(), c.support);
        EXPECT_TRUE(t.s.done());
    }
}

TEST(Gost2Info, RandomIsThirtyTwoBytesWhateverIsAsked) {
    Gost2Info t;
    for (size_t n : {1, 100}) {
        t.s.expect(Hex("80 3E D0 00 00"), Concat(TBytes(32, 0x77), Hex("90 00")), 34);
        EXPECT_EQ(t.info.rnd(n).size(), 32u);
    }
    t.s.expect(Hex("80 3E D0 00 00"), Concat(TBytes(31, 0x77), Hex("90 00")));
    EXPECT_EQ(CodeOf([&] { t.info.rnd(32); }), 0x6281);
    t.s.expect("80 3E D0 00 00", "61 20");  // only 9000 is success
    EXPECT_EQ(CodeOf([&] { t.info.rnd(32); }), 0xFFFF);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2Info, SecureMessagingInformation) {
    Gost2Info t;
    EXPECT_EQ(CodeOf([&] { t.info.getZudezoZudSMInfo(0); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { t.info.getZudezoZudSMInfo(5); }), 0x6B00);
    t.s.expect(Hex("80 38 20 08 01 04 00"), Concat(TBytes(29, 4), Hex("90 00")), 31);
    EXPECT_EQ(t.info.getZudezoZudSMInfo(4), TBytes(29, 4));
    t.s.expect(Hex("80 38 20 08 01 01 00"), Concat(TBytes(28, 4), Hex("90 00")));
    EXPECT_EQ(CodeOf([&] { t.info.getZudezoZudSMInfo(1); }), 0x6281);

    const TBytes first(4, 0x11), second(16, 0x22), third(64, 0x33);
    struct Refusal {
        TBytes first;
        unsigned char number;
        TBytes second, third;
        unsigned char type;
    };
    const Refusal refusals[] = {
        {TBytes(3), 1, second, third, 2}, {first, 0, second, third, 2}, {first, 4, second, third, 2},
        {first, 1, TBytes(17), third, 2}, {first, 1, second, TBytes(63), 2}, {first, 1, second, third, 3},
    };
    for (const Refusal& r : refusals)
        EXPECT_EQ(CodeOf([&] { t.info.setZudezoZudSMInfo(r.first, r.number, r.second, r.third, r.type); }), 0x6B00);
    EXPECT_TRUE(t.s.done());
    const TBytes body = Concat(Concat(Concat(first, Hex("03")), second), third);
    t.s.expect(Concat(Hex("80 0A 20 01 56 02"), body), Hex("90 00"), 2);
    t.info.setZudezoZudSMInfo(first, 3, second, third, 2);
    t.s.expect(Concat(Hex("80 3A 30 01 56 04"), body), Hex("67 05"), 2);
    EXPECT_EQ(CodeOf([&] { t.info.setZudezoZudSMInfo(first, 3, second, third, 4); }), 0x6900);
    EXPECT_TRUE(t.s.done());
}

}  // namespace
