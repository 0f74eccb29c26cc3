// The shared parts of the information facets: the object walk over TLV answers
// and the memory query through the platform applet.
#include "appinfo/info_common.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct Probe : CInfoCommon {
    explicit Probe(IApplet* a) : CInfoCommon(a) {}
    using CInfoCommon::objectValue;
};

struct WalkCase {
    const char* name;
    const char* reply;  // data followed by SW1 SW2
    unsigned char tag;
    int subTag;
    const char* value;  // nullptr: 6281
};

const WalkCase kWalk[] = {
    {"first object", "07 02 A1 A2 90 00", 0x07, -1, "A1 A2"},
    {"skips earlier objects", "11 02 01 02 07 03 05 01 2A 90 00", 0x07, 0x05, "2A"},
    {"first of two equal tags", "13 01 01 13 01 02 90 00", 0x13, -1, "01"},
    {"empty value", "11 00 90 00", 0x11, -1, ""},
    {"escaped length", "13 FF 00 04 00 01 00 00 90 00", 0x13, -1, "00 01 00 00"},
    {"sub-object", "07 08 01 06 A1 A2 A3 A4 A5 A6 90 00", 0x07, 0x01, "A1 A2 A3 A4 A5 A6"},
    {"missing tag", "11 01 00 90 00", 0x13, -1, nullptr},
    {"missing sub-object", "07 08 01 06 A1 A2 A3 A4 A5 A6 90 00", 0x07, 0x05, nullptr},
    {"only the status word", "90 00", 0x07, -1, nullptr},
    {"tag 00", "00 01 00 07 01 05 90 00", 0x07, -1, nullptr},
    {"tag FF", "FF 01 00 07 01 05 90 00", 0x07, -1, nullptr},
    {"tag without length", "11 90 00", 0x07, -1, nullptr},
    // Lengths and values are bounded by the data, never by the buffer behind it.
    {"value runs into the status word", "07 04 01 02 90 00", 0x07, -1, nullptr},
    {"skipped value runs past the data", "11 05 01 02 90 00", 0x07, -1, nullptr},
    {"escaped length cut short", "13 FF 00 90 00", 0x13, -1, nullptr},
    {"escaped length past the data", "13 FF 01 00 00 90 00", 0x13, -1, nullptr},
    // A sub-object is bounded by its parent even where the answer goes on.
    {"sub-object runs past its parent", "07 03 01 04 A1 A2 A3 A4 90 00", 0x07, 0x01, nullptr},
    {"sub-object past parent into sibling", "07 02 05 02 11 01 2A 90 00", 0x07, 0x05, nullptr},
    {"sub-object found within parent", "07 03 05 01 2A 05 01 2B 90 00", 0x07, 0x05, "2A"},
};

TEST(InfoObjectWalk, FindsOrRefusesEachShape) {
    ScriptedSender s;
    TestApplet applet(&s);
    for (const WalkCase& c : kWalk) {
        SCOPED_TRACE(c.name);
        const TBytes reply = H(c.reply);
        if (c.value) {
            EXPECT_EQ(Hex(Probe::objectValue(reply, c.tag, c.subTag, L"x")), Hex(H(c.value)));
        } else {
            EXPECT_EQ(RaisedCode([&] { Probe::objectValue(reply, c.tag, c.subTag, L"x"); }), 0x6281);
        }
    }
}

TEST(InfoObjectWalk, LongEscapedValueIsFound) {
    TBytes reply = H("13 FF 01 00");
    reply.resize(4 + 0x100, 0x5A);
    reply.push_back(0x90);
    reply.push_back(0x00);
    EXPECT_EQ(Probe::objectValue(reply, 0x13, -1, L"x").size(), 0x100u);
}

// ---------------------------------------------------------------- platform memory

const char kSelectPlatform[] = "00 A4 04 00 08 A0 00 00 04 48 FF 00 00";
const char kMemory[] = "80 EC A2 10";

struct TokenApplet : TestApplet {
    using TestApplet::TestApplet;
    void selectTokenApp() override { ++reselected; }
    int reselected = 0;
};

TBytes PlatformReply(size_t total) {
    TBytes r(total, 0);
    r[16] = 0x02;  // factor A = 2
    r[20] = 0x08;  // factor B = 8
    const size_t f = total - 6;
    r[f + 1] = 0x10;  // free 00 10 00 00 little-endian = 4096
    r[total - 2] = 0x90;
    return r;
}

TEST(InfoPlatformMemory, FiguresFromEitherLayout) {
    for (size_t len : {46u, 58u}) {
        SCOPED_TRACE(len);
        ScriptedSender s;
        TokenApplet applet(&s);
        Probe info(&applet);
        s.expect(H(kSelectPlatform), H("90 00"), 258);
        s.expect(H(kMemory), PlatformReply(len), 258);
        unsigned int total = 0, free = 0;
        EXPECT_TRUE(info.Pellar3GetMemory(&total, &free));
        EXPECT_EQ(total, 8192u);
        EXPECT_EQ(free, 4096u);
        EXPECT_EQ(applet.reselected, 1);
        EXPECT_TRUE(s.done());
    }
}

TEST(InfoPlatformMemory, TotalWrapsInThirtyTwoBits) {
    ScriptedSender s;
    TokenApplet applet(&s);
    Probe info(&applet);
    TBytes r = PlatformReply(46);
    r[16] = 0x00;
    r[19] = 0x01;  // A = 0x01000000
    s.expect(H(kSelectPlatform), H("90 00"));
    s.expect(H(kMemory), r);
    unsigned int total = 1;
    EXPECT_EQ(info.Pellar3GetMemoryInternal(&total, nullptr), 0);
    EXPECT_EQ(total, 0u);  // 2^24 * 512 * 8 = 2^36
}

TEST(InfoPlatformMemory, FailuresAnswerFalse) {
    struct Case {
        const char* name;
        const char* selectAnswer;
        TBytes memoryAnswer;  // empty: not sent
        int internal;
        int reselected;
    };
    const Case cases[] = {
        {"no platform applet", "6A 82", {}, -1, 0},
        {"memory command refused", "90 00", H("69 82"), -2, 1},
        {"answer of 47 bytes", "90 00", PlatformReply(47), -2, 1},
        {"answer of 45 bytes", "90 00", PlatformReply(45), -2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool internal : {true, false}) {
            ScriptedSender s;
            TokenApplet applet(&s);
            Probe info(&applet);
            s.expect(H(kSelectPlatform), H(c.selectAnswer));
            if (!c.memoryAnswer.empty()) s.expect(H(kMemory), c.memoryAnswer);
            unsigned int total = 7, free = 7;
            if (internal) {
                EXPECT_EQ(info.Pellar3GetMemoryInternal(&total, &free), c.internal);
                EXPECT_EQ(applet.reselected, 0);
            } else {
                EXPECT_FALSE(info.Pellar3GetMemory(&total, &free));
                EXPECT_EQ(applet.reselected, c.reselected);
            }
            EXPECT_EQ(total, 7u);
            EXPECT_EQ(free, 7u);
            EXPECT_TRUE(s.done());
        }
    }
}

}  // namespace
