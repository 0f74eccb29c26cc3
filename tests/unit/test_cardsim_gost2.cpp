// The simulated Gost2 applet's PIN commands, spoken to in raw APDUs.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_gost2.h"

using cardsim::CardSim;
using cardsim::SimGost2Applet;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

std::unique_ptr<CardSim> Card(SimGost2Applet** model) {
    return cardsim_test::CardWith(model, "00 A4 04 00 08 A0 00 00 04 48 00 01 01");
}

TEST(SimGost2, TheRecordMovesThePinEntryFromVersionSeven) {
    struct Case {
        unsigned char version;
        const char* answer;
    };
    const Case cases[] = {
        // kind, version, minor version; free memory 26 bytes before the end; from i - 1: verified, limit,
        // failures; length code at i + 9; secure-messaging status at 23; the serial in the last 8
        {6, "02 06 01 02 00 00 00 01 FF E0 00 01 05 01 00 00 00 00 00 00 00 45 00 00 72 73 74 75 76 77 78 79 90 00"},
        {7, "02 07 01 02 00 00 00 00 01 FF E0 00 01 05 01 00 00 00 00 00 00 00 45 00 00 72 73 74 75 76 77 78 79 90 00"},
    };
    for (const Case& c : cases) {
        SimGost2Applet* m;
        auto card = Card(&m);
        m->setVersion(c.version);
        EXPECT_EQ(Sw(*card, "80 0A 10 00 0A 02 08 30 30 30 30 30 30 30 30"), "6701");
        m->user().failures = 1;
        m->user().verified = true;
        EXPECT_EQ(Tx(*card, "80 38 20 00 00"), c.answer);
    }
}

TEST(SimGost2, PresentationsChangesAndLogout) {
    struct Step {
        const char* command;
        const char* sw;
    };
    const Step steps[] = {
        {"80 0A 20 00 0A 02 08 61 62 63 64 65 66 67 68", "6705"},  // change before verifying
        {"80 0A 10 00 0A 01 08 31 32 33 34 35 36 37 38", "6708"},  // no PIN 01
        {"80 0A 10 00 09 02 07 31 32 33 34 35 36 37", "670B"},     // under the minimum
        {"80 0A 10 00 0A 02 09 31 32 33 34 35 36 37 38", "6700"},  // length byte past the data
        {"80 0A 10 00 0A 02 08 31 32 33 34 35 36 37 38", "9000"},
        {"80 0A 20 00 09 02 07 61 62 63 64 65 66 67", "670B"},
        {"80 0A 20 00 0A 02 08 61 62 63 64 65 66 67 68", "9000"},
        {"80 38 10 00", "9000"},
        {"80 0A 20 00 0A 02 08 31 32 33 34 35 36 37 38", "6705"},
        {"80 0A 10 00 0A 02 08 61 62 63 64 65 66 67 68", "9000"},
        {"80 38 10 00 01 00", "6700"},
        {"80 38 40 00", "6D00"},
    };
    SimGost2Applet* m;
    auto card = Card(&m);
    for (const Step& s : steps) EXPECT_EQ(Sw(*card, s.command), s.sw) << s.command;
    EXPECT_TRUE(m->user().verified);
}

TEST(SimGost2, Blocking) {
    SimGost2Applet* m;
    auto card = Card(&m);
    m->user().limit = 1;
    EXPECT_EQ(Sw(*card, "80 0A 10 00 0A 02 08 30 30 30 30 30 30 30 30"), "6701");
    EXPECT_EQ(Sw(*card, "80 0A 10 00 0A 02 08 31 32 33 34 35 36 37 38"), "6703");
    EXPECT_EQ(Sw(*card, "80 0A 20 00 0A 02 08 61 62 63 64 65 66 67 68"), "6703");
}

}  // namespace

namespace {

TEST(SimGost2, TheTreeUnderOneInstruction) {
    SimGost2Applet* m;
    auto card = Card(&m);
    struct Step {
        const char* command;
        const char* answer;
    };
    const Step steps[] = {
        {"80 4C 80 01 00", "3F 00 02 00 B7 00 00 90 00"},
        {"80 4C 40 00 04 E0 0E 0D B7", "90 00"},
        {"80 4C 40 00 04 E0 0E 0D B7", "67 18"},
        {"80 4C 80 02 02 E0 0E 00", "E0 0E 02 00 B7 00 00 90 00"},
        {"80 4C 10 00 02 00 00", "90 00"},
        {"80 4C 10 00 02 00 04", "90 00"},
        {"80 4C 30 01 04 00 01 0D B6", "90 00"},  // takes the size checked last
        {"80 4C 70 01 00", "00 01 01 00 B6 00 04 90 00"},
        {"80 4C 80 02 04 E0 0E 00 01 00", "00 01 01 00 B6 00 04 90 00"},
        {"80 4C 60 00 04 00 00 00 04", "67 05"},  // reading wants the user PIN
        {"80 4C 20 02 06 00 00 00 02 AA BB", "67 05"},
        {"80 0A 10 00 0A 02 08 31 32 33 34 35 36 37 38", "90 00"},
        {"80 4C 20 02 06 00 02 00 02 AA BB", "90 00"},
        {"80 4C 60 00 04 00 00 00 04", "00 00 AA BB 90 00"},
        {"80 4C 60 00 04 00 03 00 02", "62 82"},
        {"80 4C 80 02 02 E0 0E 00", "E0 0E 02 00 B7 00 00 90 00"},
        {"80 4C 50 00", "67 12"},  // not empty
        {"80 4C 80 02 02 E0 0F 00", "67 14"},
        {"80 4C 80 02 04 E0 0E 00 01 00", "00 01 01 00 B6 00 04 90 00"},
        {"80 4C 50 00", "90 00"},
        {"80 4C 80 01 00", "3F 00 02 00 B7 00 00 90 00"},
        {"80 4C 50 00", "69 00"},  // never the root
    };
    for (const Step& s : steps) EXPECT_EQ(Tx(*card, s.command), s.answer) << s.command;
}

TEST(SimGost2, ListPagesOfThirtySix) {
    SimGost2Applet* m;
    auto card = Card(&m);
    for (unsigned short i = 1; i <= 40; ++i) m->add(m->root(), i, i % 2 == 0);
    EXPECT_EQ(Sw(*card, "80 4C 80 01 00"), "9000");
    EXPECT_EQ(card->transmit(cardsim_test::H("80 4C 70 01 00")).size(), 36u * 7 + 2);
    EXPECT_EQ(Tx(*card, "80 4C 70 00 02 00 24 00").substr(0, 20), "00 25 01 00 BF 00 00");
    EXPECT_EQ(card->transmit(cardsim_test::H("80 4C 70 00 02 00 24 00")).size(), 4u * 7 + 2);
    EXPECT_EQ(Sw(*card, "80 4C 70 00 02 00 99 00"), "6714");
}

TEST(SimGost2, InformationKindsAndTheirLengths) {
    struct Case {
        unsigned char version;
        const char* command;
        size_t length;
    };
    const Case cases[] = {
        {7, "80 38 20 00 00", 33}, {6, "80 38 20 00 00", 32}, {7, "80 38 20 01 00", 32}, {7, "80 38 20 02 00", 64},
        {7, "80 38 20 03 00", 32}, {7, "80 38 20 04 00", 16}, {6, "80 38 20 04 00", 13}, {7, "80 38 20 05 00", 2},
        {7, "80 38 20 06 00", 1},  {7, "80 38 20 07 00", 1},  {7, "80 38 20 08 01 03 00", 29},
        {7, "80 38 20 09 00", 6},  {7, "80 38 20 0B 00", 32},
    };
    for (const Case& c : cases) {
        SimGost2Applet* m;
        auto card = Card(&m);
        m->setVersion(c.version);
        EXPECT_EQ(card->transmit(cardsim_test::H(c.command)).size(), c.length + 2) << c.command;
    }
    SimGost2Applet* m;
    auto card = Card(&m);
    EXPECT_EQ(Sw(*card, "80 38 20 0A 00"), "6A86");
    EXPECT_EQ(Sw(*card, "80 38 20 08 01 05 00"), "6A86");
    EXPECT_EQ(card->transmit(cardsim_test::H("80 3E D0 00 00")).size(), 34u);
    EXPECT_EQ(Sw(*card, "80 38 30 01 02 41 42"), "9000");
    EXPECT_EQ(Tx(*card, "80 38 20 01 00").substr(0, 8), "41 42 20");
    EXPECT_EQ(Sw(*card, "80 38 30 01 00"), "9000");  // an empty label: a bare header with Le
    EXPECT_TRUE(m->label().empty());
}

TEST(SimGost2, SessionsAndSecureMessaging) {
    SimGost2Applet* m;
    auto card = Card(&m);
    struct Step {
        const char* command;
        const char* sw;
    };
    const Step steps[] = {
        {"80 AA 20 00", "6900"},  // nothing to end
        {"80 AA 10 03", "9000"},
        {"80 AA 10 0A", "6900"},  // one mode at a time
        {"80 AA 20 00", "9000"},
        {"80 AA 10 01 04 02 02 AA BB", "9000"},
        {"80 AA 20 00", "9000"},
        {"80 AA 10 02 04 02 03 AA BB", "6700"},  // TLV length past the data
        {"80 4E 20 00 20 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         "6900"},  // no start before it
        {"80 4E 30 00 01 01", "6A86"},
        {"80 4E 30 00 01 03", "9000"},
    };
    for (const Step& s : steps) EXPECT_EQ(Sw(*card, s.command), s.sw) << s.command;
    EXPECT_EQ(m->smStatus(), 3);
    EXPECT_EQ(m->statusRecord()[23], 3);
}

}  // namespace
