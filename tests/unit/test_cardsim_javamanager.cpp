// The JavaManager card side: the production life-cycle data whose bytes the
// library reads for the manager version and the chip identification.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_tokens.h"

using namespace cardsim;
using cardsim_test::H;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

const char kSelectManager[] = "00 A4 04 00 07 A0 00 00 01 51 00 00";

TEST(JavaManagerSim, CplcCarriesChipIdAndVersionWhereTheLibraryReadsThem) {
    struct Case {
        const char* name;
        int version;
        const char* chipId;
        unsigned char byte12;
        const char* bytes3to8;
    } cases[] = {
        {"defaults", -1, "", 0x07, "47 90 51 67 47 91"},
        {"version 8", 8, "", 0x08, "47 90 51 67 47 91"},
        {"version 9", 9, "", 0x09, "47 90 51 67 47 91"},
        {"first refused chip", -1, "40 90 78 71 12 91", 0x07, "40 90 78 71 12 91"},
        {"second refused chip", 3, "40 90 79 01 12 91", 0x03, "40 90 79 01 12 91"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTokenOptions o;
        o.managerVersion = c.version;
        o.chipId = H(c.chipId);
        auto card = MakeJavaToken(o);
        ASSERT_EQ(Sw(*card, kSelectManager), "9000");
        const Bytes r = card->transmit(H("80 CA 9F 7F 00"));
        ASSERT_EQ(r.size(), 3u + 42u + 2u);
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), H("9F 7F 2A"));
        EXPECT_EQ(Bytes(r.begin() + 3, r.begin() + 9), H(c.bytes3to8));
        EXPECT_EQ(r[11], 0x01);
        EXPECT_EQ(r[12], c.byte12);
        EXPECT_EQ(StatusOf(r), 0x9000);
    }
}

TEST(JavaManagerSim, OtherObjectsAndRefusals) {
    auto card = MakeJavaToken();
    SimJavaManagerApplet* mgr = card->find<SimJavaManagerApplet>();
    ASSERT_NE(mgr, nullptr);
    mgr->object46() = H("11 22 33");
    Tx(*card, kSelectManager);
    struct Case {
        const char* command;
        const char* answer;
    } cases[] = {
        {"80 CA 00 46 00", "46 03 11 22 33 90 00"},
        {"00 CA 00 01 00", "01 04 01 02 03 04 90 00"},
        {"00 CA 9F 7F 00", nullptr},  // the ISO class is taken too
        {"80 CA 00 47 00", "6A 88"},
        {"84 CA 9F 7F 00", "6E 00"},
        {"80 CB 9F 7F 00", "6D 00"},
        {"80 CA 9F 7F 10", "6C 2D"},  // Le too short for the 45 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        if (c.answer)
            EXPECT_EQ(Tx(*card, c.command), c.answer);
        else
            EXPECT_EQ(card->transmit(H(c.command)).size(), 47u);
    }
    // The Java applet's file commands do not reach the manager.
    EXPECT_EQ(Sw(*card, "00 A4 08 04 04 66 66 50 00 00"), "6D00");
}

}  // namespace
