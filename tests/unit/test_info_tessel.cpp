#include "appinfo/info_tessel.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct TesselInfoTest : ::testing::Test {
    TesselInfoTest() : applet(&sender, new CErrorTessel), info(new CInfoTessel(&applet)) { applet.setInfo(info); }
    ScriptedSender sender;
    TestApplet applet;
    CInfoTessel* info;
};

TEST_F(TesselInfoTest, VersionAndSerial) {
    struct Case {
        const char* name;
        const char* command;
        const char* reply;
        bool serial;
        const char* expected;  // nullptr: 6281
    };
    const Case cases[] = {
        {"version", "00 CB 00 03 00", "01 02 03 04 90 00", false, "01 02 03 04"},
        {"version of 5 bytes", "00 CB 00 03 00", "01 02 03 04 05 90 00", false, nullptr},
        {"version of 3 bytes", "00 CB 00 03 00", "01 02 03 90 00", false, nullptr},
        {"serial", "80 CB 01 14 00", "11 22 33 44 55 66 77 88 90 00", true, "11 22 33 44 55 66 77 88"},
        {"serial of 7 bytes", "80 CB 01 14 00", "11 22 33 44 55 66 77 90 00", true, nullptr},
        {"serial of 9 bytes", "80 CB 01 14 00", "11 22 33 44 55 66 77 88 99 90 00", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sender.expect(H(c.command), H(c.reply), 256);
        auto call = [&] { return c.serial ? info->id(2) : info->version(1); };
        if (c.expected) {
            EXPECT_EQ(Hex(call()), Hex(H(c.expected)));
        } else {
            EXPECT_EQ(RaisedSource(call), "Externals/Internal/LibAPDU/Source/token/appinfo/info_tessel");
        }
    }
    EXPECT_TRUE(sender.done());
}

TEST_F(TesselInfoTest, MemoryInTwoOrFourBytes) {
    struct Case {
        const char* reply;
        unsigned int expected;  // 0: 6281
    };
    const Case cases[] = {
        {"00 01 00 00 90 00", 65536},
        {"01 00 90 00", 256},
        {"00 01 00 90 00", 0},
        {"01 90 00", 0},
        {"00 00 01 00 00 90 00", 0},
    };
    for (bool total : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(total ? "total " : "free ") + c.reply);
            sender.expect(H(total ? "80 CB 01 10 00" : "80 CB 01 11 00"), H(c.reply), 256);
            auto call = [&] { return total ? info->memoryTotal() : info->memoryFree(); };
            if (c.expected) {
                EXPECT_EQ(call(), c.expected);
            } else {
                EXPECT_EQ(RaisedCode(call), 0x6281);
            }
        }
    }
    EXPECT_TRUE(sender.done());
}

TEST_F(TesselInfoTest, StatusWordsUseTheTesselMapping) {
    // Tessel reports "no memory left" as 6B00.
    sender.expect(H("80 CB 01 11 00"), H("6B 00"));
    EXPECT_EQ(RaisedCode([&] { info->memoryFree(); }), 0x6400);
}

TEST_F(TesselInfoTest, RandomBytesInPiecesOf8) {
    EXPECT_TRUE(info->rnd(0).empty());
    sender.expect(H("00 84 00 00 08"), H("01 02 03 04 05 06 07 08 90 00"), 10);
    sender.expect(H("00 84 00 00 08"), H("11 12 13 14 15 16 17 18 90 00"), 10);
    sender.expect(H("00 84 00 00 04"), H("21 22 23 24 90 00"), 6);
    EXPECT_EQ(Hex(info->rnd(20)), "01 02 03 04 05 06 07 08 11 12 13 14 15 16 17 18 21 22 23 24");

    sender.expect(H("00 84 00 00 04"), H("21 22 23 90 00"));
    EXPECT_EQ(RaisedCode([&] { info->rnd(4); }), 0x6281);
    EXPECT_TRUE(sender.done());
}

TEST_F(TesselInfoTest, AnswersWithoutTheCard) {
    EXPECT_FALSE(info->isFips());
    EXPECT_EQ(info->color(), 0xFFFFFFFFu);
    EXPECT_EQ(RaisedCode([&] { info->value(1); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->isZudezoZudSMSupport(); }), 0xFACE);
    EXPECT_TRUE(sender.sent.empty());
}

}  // namespace
