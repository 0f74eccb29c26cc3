// The simulated Wren applet's PIN commands, spoken to in raw APDUs: every
// status word comes back low byte first.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_wren.h"

using cardsim::CardSim;
using cardsim::SimWrenApplet;
using cardsim_test::Tx;

namespace {

TEST(SimWren, PresentationsChangesAndLogoutAnswerLowByteFirst) {
    struct Step {
        const char* command;
        const char* answer;
    };
    const Step steps[] = {
        {"00 D4 00 00 05 04 35 36 37 38", "82 69"},  // change before verifying
        {"00 20 00 00 05 04 39 39 39 39", "16 64"},
        {"00 20 00 00 04 03 31 32 33", "00 67"},     // under four: no try
        {"00 20 00 00 05 05 31 32 33 34", "00 67"},  // length byte past the data
        {"00 20 00 00 05 04 31 32 33 34", "00 90"},
        {"00 D4 00 00 05 04 35 36 37 38", "00 90"},
        {"00 DC 00 00 01 00", "00 90"},
        {"00 D4 00 00 05 04 31 32 33 34", "82 69"},
        {"00 20 00 00 05 04 31 32 33 34", "16 64"},
        {"00 20 00 00 05 04 35 36 37 38", "00 90"},
        {"00 DC 00 00 01 01", "00 67"},
        {"00 20 01 00 05 04 35 36 37 38", "86 6A"},
        {"80 20 00 00 05 04 35 36 37 38", "00 6E"},
        {"00 B2 00 00 00", "00 6D"},
    };
    CardSim card({0x3B, 0x00});
    SimWrenApplet* m = card.install(std::unique_ptr<SimWrenApplet>(new SimWrenApplet));
    card.setResident(m);
    ASSERT_EQ(card.selected(), m);
    for (const Step& s : steps) EXPECT_EQ(Tx(card, s.command), s.answer) << s.command;
    EXPECT_TRUE(m->user().verified);
    EXPECT_EQ(m->user().failures, 0);
}

TEST(SimWren, BlockedAfterTheLimit) {
    CardSim card({0x3B, 0x00});
    SimWrenApplet* m = card.install(std::unique_ptr<SimWrenApplet>(new SimWrenApplet));
    card.setResident(m);
    m->user().limit = 2;
    EXPECT_EQ(Tx(card, "00 20 00 00 05 04 39 39 39 39"), "16 64");
    EXPECT_EQ(Tx(card, "00 20 00 00 05 04 39 39 39 39"), "16 64");
    EXPECT_EQ(Tx(card, "00 20 00 00 05 04 31 32 33 34"), "83 69");
    EXPECT_EQ(Tx(card, "00 D4 00 00 05 04 31 32 33 34"), "83 69");
}

}  // namespace
