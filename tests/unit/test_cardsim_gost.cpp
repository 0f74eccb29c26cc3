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

namespace {

TEST(SimGost, TheObjectStore) {
    SimGostApplet* m;
    auto card = Card(&m);
    m->setNextHandle(0x00FF);
    struct Step {
        const char* command;
        const char* answer;
    };
    const Step steps[] = {
        {"80 12 10 00 01 01", "00 00 00 90 00"},
        {"80 12 20 00 01 04 00", "00 FF 90 00"},
        {"80 12 20 00 01 07 00", "01 00 90 00"},
        {"80 12 10 00 01 01", "00 00 02 00 FF 04 01 00 07 90 00"},
        // identifiers low byte first in the commands, high byte first in the list
        {"80 13 30 00 0B 00 FF 11 00 00 00 00 03 AA BB CC 00", "90 00"},
        {"80 13 30 00 0A 00 FF 61 01 00 00 00 02 00 03 00", "90 00"},
        {"80 13 20 00 06 00 FF 11 00 00 00 01", "00 00 00 11 00 00 00 03 AA BB CC 90 00"},  // whatever Le says
        {"80 13 40 00 02 00 FF 00", "00 00 00 11 00 03 AA BB CC 00 00 01 61 00 02 00 03 90 00"},
        // a value set again replaces the old one in its place
        {"80 13 30 00 09 00 FF 11 00 00 00 00 01 DD 00", "90 00"},
        {"80 13 40 00 02 00 FF 00", "00 00 00 11 00 01 DD 00 00 01 61 00 02 00 03 90 00"},
        {"80 13 20 00 06 00 FF 02 00 00 00 00", "6D 60"},
        {"80 13 20 00 06 01 23 11 00 00 00 00", "6D 82"},
        {"80 12 30 00 02 01 00 00", "90 00"},
        {"80 12 30 00 02 01 00 00", "6D 82"},
        {"80 13 30 00 0B 00 FF 11 00 00 00 00 04 AA BB CC 00", "6D 13"},  // length past the value
    };
    for (const Step& s : steps) EXPECT_EQ(Tx(*card, s.command), s.answer) << s.command;
}

TEST(SimGost, ThreeByteLcAndTwoByteLe) {
    SimGostApplet* m;
    auto card = Card(&m);
    EXPECT_EQ(Tx(*card, "80 12 20 00 01 04 00"), "00 01 90 00");
    std::string cmd = "80 13 30 00 00 01 08 00 01 11 00 00 00 01 00";
    for (int i = 0; i < 256; ++i) cmd += " 5A";
    EXPECT_EQ(Sw(*card, cmd + " 00 00"), "9000");
    EXPECT_EQ(card->transmit(cardsim_test::H("80 13 20 00 06 00 01 11 00 00 00 00")).size(), 8u + 256 + 2);
}

TEST(SimGost, PrivateObjectsShowOnlyThatTheyArePrivateWithoutTheUserPin) {
    SimGostApplet* m;
    auto card = Card(&m);
    EXPECT_EQ(Sw(*card, "80 10 20 00 08 01 06 31 32 33 34 35 36"), "9000");
    EXPECT_EQ(Tx(*card, "80 12 20 00 01 04 00"), "00 01 90 00");
    EXPECT_EQ(Sw(*card, "80 13 30 00 09 00 01 02 00 00 00 00 01 01 00"), "9000");
    EXPECT_EQ(Sw(*card, "80 13 30 00 0A 00 01 11 00 00 00 00 02 AA BB 00"), "9000");
    EXPECT_EQ(Sw(*card, "80 15 20 00 01 01"), "9000");  // logout
    EXPECT_EQ(Sw(*card, "80 13 20 00 06 00 01 11 00 00 00 00"), "6D60");
    EXPECT_EQ(Sw(*card, "80 13 30 00 0A 00 01 11 00 00 00 00 02 CC DD 00"), "6D60");
    EXPECT_EQ(Tx(*card, "80 13 40 00 02 00 01 00"), "00 00 00 02 00 01 01 90 00");
    EXPECT_EQ(Sw(*card, "80 10 20 00 08 01 06 31 32 33 34 35 36"), "9000");
    EXPECT_EQ(Tx(*card, "80 13 20 00 06 00 01 11 00 00 00 00"), "00 00 00 11 00 00 00 02 AA BB 90 00");
}

TEST(SimGost, MemoryLabelAndRandom) {
    SimGostApplet* m;
    auto card = Card(&m);
    m->setFreeMemory(100);
    EXPECT_EQ(m->freeMemory(), 100u);
    EXPECT_EQ(Tx(*card, "80 12 20 00 01 04 00"), "00 01 90 00");  // an object costs 16
    EXPECT_EQ(m->freeMemory(), 84u);
    EXPECT_EQ(card->transmit(cardsim_test::H("80 15 10 00 01 01"))[10], 84);
    // and an attribute 8 beside its value
    std::string fits = "80 13 30 00 54 00 01 11 00 00 00 00 4C", over = "80 13 30 00 55 00 01 11 00 00 00 00 4D";
    for (int i = 0; i < 0x4C; ++i) fits += " 00";
    for (int i = 0; i < 0x4D; ++i) over += " 00";
    EXPECT_EQ(Sw(*card, over + " 00"), "6D06");
    EXPECT_EQ(Sw(*card, fits + " 00"), "9000");
    EXPECT_EQ(m->freeMemory(), 0u);

    EXPECT_EQ(Tx(*card, "80 17 10 00 01 01"),
              "00 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 90 00");
    EXPECT_EQ(Sw(*card, "80 17 20 00 02 41 42 02"), "9000");
    EXPECT_EQ(Tx(*card, "80 17 10 00 01 01").substr(0, 8), "02 41 42");
    EXPECT_EQ(Sw(*card, "80 17 20 00 02"), "9000");  // an empty label, as the transport sends it
    EXPECT_TRUE(m->label().empty());
    EXPECT_EQ(card->transmit(cardsim_test::H("80 14 40 00 02 01 2C 00")).size(), 302u);
}

}  // namespace
