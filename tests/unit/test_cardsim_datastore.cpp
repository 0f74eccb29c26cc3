// The simulated DataStore applet's PIN commands, spoken to in raw APDUs.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_datastore.h"

using cardsim::CardSim;
using cardsim::SimDataStoreApplet;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

struct Exchange {
    const char* command;
    const char* answer;  // status word alone, or the whole answer in hex
};

std::unique_ptr<CardSim> Card(SimDataStoreApplet** model) {
    return cardsim_test::CardWith(model, "00 A4 04 00 08 A0 00 00 04 48 00 03 01");
}

void Play(CardSim& card, const std::vector<Exchange>& script) {
    for (const Exchange& e : script) {
        const std::string want = e.answer;
        EXPECT_EQ(want.size() == 4 ? Sw(card, e.command) : Tx(card, e.command), want) << e.command;
    }
}

TEST(SimDataStore, TheStatusRecordCarriesEveryPinsEntry) {
    SimDataStoreApplet* m;
    auto card = Card(&m);
    m->pin(2)->failures = 1;
    Play(*card, {{"80 10 10 00 06 00 04 31 32 33 34", "9000"}});
    // verified 7..9, failures 10..12, limits 13..15, minimum 16..18, maximum 19..21, serial 22..29
    Play(*card, {{"80 30 30 00 00",
                  "02 01 00 00 00 40 00 01 00 00 00 01 00 05 03 0A 04 08 06 10 10 08 "
                  "D5 D6 D7 D8 D9 DA DB DC 90 00"}});
    m->setRecordSize(34);
    EXPECT_EQ(card->transmit({0x80, 0x30, 0x30, 0x00, 0x00}).size(), 36u);
}

TEST(SimDataStore, Presentations) {
    SimDataStoreApplet* m;
    auto card = Card(&m);
    m->pin(1)->limit = 2;
    Play(*card, {
                    {"80 10 10 00 06 03 04 31 32 33 34", "6701"},     // no PIN 4
                    {"80 10 10 00 06 00 05 31 32 33 34", "670A"},     // length byte past the data
                    {"80 10 10 00 05 00 03 31 32 33", "670A"},        // shorter than the PIN takes: no try
                    {"80 10 20 00 06 00 04 35 36 37 38 00", "6709"},  // change before verifying
                    {"80 10 10 00 06 00 04 39 39 39 39", "6703"},
                    {"80 10 10 00 06 00 04 39 39 39 39", "6703"},
                    {"80 10 10 00 06 00 04 31 32 33 34", "6704"},     // blocked
                    {"80 10 20 00 06 00 04 35 36 37 38 00", "6704"},
                    {"80 10 10 00 0A 01 08 38 37 36 35 34 33 32 31", "9000"},  // the admin PIN is apart
                    {"80 10 40 00 00", "6A86"},
                    {"00 10 10 00 00", "6E00"},
                });
    EXPECT_TRUE(m->pin(1)->blocked());
    EXPECT_TRUE(m->pin(2)->verified);
}

TEST(SimDataStore, ChangeLogoutAndDeselect) {
    SimDataStoreApplet* m;
    auto card = Card(&m);
    Play(*card, {
                    {"80 10 10 00 06 00 04 31 32 33 34", "9000"},
                    {"80 10 20 00 06 00 04 35 36 37 38 00", "9000"},
                    {"80 10 20 00 05 00 03 35 36 37 00", "670A"},  // too short for PIN 1
                    {"80 10 30 00 00", "9000"},
                    {"80 10 20 00 06 00 04 31 32 33 34 00", "6709"},
                    {"80 10 10 00 06 00 04 31 32 33 34", "6703"},
                    {"80 10 10 00 06 00 04 35 36 37 38", "9000"},
                });
    EXPECT_EQ(m->pin(1)->value, (cardsim::Bytes{'5', '6', '7', '8'}));
    card->reset();  // the session ends with the selection
    EXPECT_FALSE(m->pin(1)->verified);
}

}  // namespace
