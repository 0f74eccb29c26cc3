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
