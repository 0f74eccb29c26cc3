// The simulated Gost applet's PIN commands, spoken to in raw APDUs.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_gost.h"

using cardsim::CardSim;
using cardsim::SimGostApplet;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

std::unique_ptr<CardSim> Card(SimGostApplet** model) {
    return cardsim_test::CardWith(model, "00 A4 04 00 0A A0 00 00 04 48 01 01 01 06 02");
}

TEST(SimGost, TheStatusRecord) {
    SimGostApplet* m;
    auto card = Card(&m);
    m->setLimit(5);
    m->admin().failures = 2;
    EXPECT_EQ(Sw(*card, "80 10 20 00 08 01 06 30 30 30 30 30 30"), "6DA0");
    // verified flag 0, free memory 9..10, shared limit 11, user failures 12, admin failures 13, serial 16..23
    EXPECT_EQ(Tx(*card, "80 15 10 00 01 01"),
              "00 03 02 00 00 00 00 00 00 FF FF 05 01 02 00 00 60 61 62 63 64 65 66 67 90 00");
    EXPECT_EQ(Sw(*card, "80 10 20 00 0A 00 08 38 37 36 35 34 33 32 31"), "9000");
    EXPECT_EQ(card->transmit({0x80, 0x15, 0x10, 0x00, 0x01, 0x01})[0], 0x02);
    m->setRecordTail({0xAA, 0xBB});
    EXPECT_EQ(card->transmit({0x80, 0x15, 0x10, 0x00, 0x01, 0x01}).size(), 28u);
}

TEST(SimGost, PresentationsChangesAndLogout) {
    struct Step {
        const char* command;
        const char* sw;
    };
    const Step steps[] = {
        {"80 15 20 00 01 01", "6E01"},                              // nobody logged in
        {"80 10 20 00 08 02 06 31 32 33 34 35 36", "6D12"},         // no PIN 02
        {"80 10 20 00 07 01 05 31 32 33 34 35", "6D13"},            // shorter than six
        {"80 10 20 00 08 01 07 31 32 33 34 35 36", "6D13"},         // length byte past the data
        {"80 10 10 00 0F 01 06 06 30 30 30 30 30 30 36 35 34 33 32 31", "6DA0"},  // wrong current PIN
        {"80 10 10 00 0F 01 06 06 31 32 33 34 35 36 36 35 34 33 32 31", "9000"},
        {"80 10 20 00 08 01 06 31 32 33 34 35 36", "6DA0"},         // the old PIN is gone
        {"80 10 20 00 08 01 06 36 35 34 33 32 31", "9000"},
        {"80 15 20 00 01 01", "9000"},
        {"80 15 20 00 01 02", "6D00"},
        {"80 15 30 00 01 01", "6A86"},
    };
    SimGostApplet* m;
    auto card = Card(&m);
    for (const Step& s : steps) EXPECT_EQ(Sw(*card, s.command), s.sw) << s.command;
    EXPECT_FALSE(m->user().verified);
    EXPECT_EQ(m->user().failures, 0);
}

TEST(SimGost, TheSharedLimitBlocksEachPinOnItsOwn) {
    SimGostApplet* m;
    auto card = Card(&m);
    m->setLimit(2);
    EXPECT_EQ(Sw(*card, "80 10 20 00 08 01 06 30 30 30 30 30 30"), "6DA0");
    EXPECT_EQ(Sw(*card, "80 10 20 00 08 01 06 30 30 30 30 30 30"), "6DA0");
    EXPECT_EQ(Sw(*card, "80 10 20 00 08 01 06 31 32 33 34 35 36"), "6DA4");
    EXPECT_EQ(Sw(*card, "80 10 10 00 0F 01 06 06 31 32 33 34 35 36 36 35 34 33 32 31"), "6DA4");
    EXPECT_EQ(Sw(*card, "80 10 20 00 0A 00 08 38 37 36 35 34 33 32 31"), "9000");
}

}  // namespace
