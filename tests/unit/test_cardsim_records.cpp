// The simulated DataStore record store, its platform applet and label, and the
// Wren applet's file commands, spoken to in raw APDUs.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_server.h"
#include "sim_tokens.h"
#include "sim_wren.h"

using cardsim::CardSim;
using cardsim::SimDataStoreApplet;
using cardsim::SimDataStoreOptions;
using cardsim::SimTokenOptions;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

const char kSelectDataStore[] = "00 A4 04 00 08 A0 00 00 04 48 00 03 01";

struct Exchange {
    const char* command;
    const char* answer;  // status word alone, or the whole answer in hex
};

void Play(CardSim& card, const std::vector<Exchange>& script) {
    for (const Exchange& e : script) {
        const std::string want = e.answer;
        EXPECT_EQ(want.size() == 4 ? Sw(card, e.command) : Tx(card, e.command), want) << e.command;
    }
}

std::unique_ptr<CardSim> DataStore(const SimDataStoreOptions& d = SimDataStoreOptions()) {
    auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
    EXPECT_EQ(Sw(*card, kSelectDataStore), "9000");
    return card;
}

TEST(SimRecords, BuildFillCommitReadAndDelete) {
    auto card = DataStore();
    SimDataStoreApplet* m = card->find<SimDataStoreApplet>();
    Play(*card, {
                    {"80 20 40 00 06 00 00 00 02 AA BB 00", "6985"},  // nothing being built
                    {"80 20 10 00 02 00 04 00", "9000"},
                    {"80 20 40 00 06 00 03 00 02 AA BB 00", "670B"},  // past the record
                    {"80 20 40 00 06 00 01 00 02 AA BB 00", "9000"},
                    {"80 20 50 00 04 01 01 02 F1 00", "00 01 90 00"},
                    {"80 20 30 00 06 00 01 00 00 00 04 00", "6709"},  // protected, no PIN
                    {"80 10 10 00 06 00 04 31 32 33 34", "9000"},
                    {"80 20 30 00 06 00 01 00 00 00 04 00", "00 AA BB 00 90 00"},
                    {"80 20 30 00 06 00 01 00 02 00 03 00", "670B"},
                    // In place: the handle stays, the object identifier and flag too.
                    {"80 20 10 00 02 00 02 00", "9000"},
                    {"80 20 40 00 06 00 00 00 02 01 02 00", "9000"},
                    {"80 20 50 00 03 00 00 01 00", "9000"},
                    {"80 20 30 00 06 00 01 00 00 00 02 00", "01 02 90 00"},
                    {"80 20 50 00 03 00 00 01 00", "6985"},  // nothing being built any more
                    {"80 20 20 00 02 00 02 00", "6701"},
                    {"80 20 20 00 02 00 01 00", "9000"},
                    {"80 20 30 00 06 00 01 00 00 00 01 00", "6701"},
                    {"80 20 70 00 00", "6A86"},
                });
    EXPECT_TRUE(m->records().empty());
    EXPECT_FALSE(m->building());
}

TEST(SimRecords, EnumerationPagesFromAStart) {
    SimDataStoreOptions d;
    d.pageSize = 2;
    auto card = DataStore(d);
    SimDataStoreApplet* m = card->find<SimDataStoreApplet>();
    m->putRecord(0x0001, 0x3F3F, 0, {});
    m->putRecord(0x0005, 0x01EE, 0, {});
    m->putRecord(0x0009, 0x05F1, 1, cardsim::Bytes(12, 0));
    Play(*card, {
                    {"80 20 60 00 02 00 00 00", "00 01 3F 3F 00 00 00 00 05 01 EE 00 00 00 90 00"},
                    {"80 20 60 00 02 00 06 00", "00 09 05 F1 01 00 0C 90 00"},
                    {"80 20 60 00 02 00 0A 00", "90 00"},
                });
    m->setIgnoreEnumerationStart(true);
    Play(*card, {{"80 20 60 00 02 00 06 00", "00 01 3F 3F 00 00 00 00 05 01 EE 00 00 00 90 00"}});
    EXPECT_EQ(card->dump(), "0001 id 3F3F flag 00 size 0\n0005 id 01EE flag 00 size 0\n0009 id 05F1 flag 01 size 12\n");
}

TEST(SimRecords, HandlePolicies) {
    struct Case {
        const char* name;
        SimDataStoreApplet::Handles policy;
        uint16_t start;
        std::vector<uint16_t> list;
        std::vector<uint16_t> want;  // handles of four records, the second deleted before the fourth
    } cases[] = {
        {"sequential", SimDataStoreApplet::Handles::kSequential, 1, {}, {1, 2, 3, 4}},
        {"lowest free", SimDataStoreApplet::Handles::kLowestFree, 1, {}, {1, 2, 3, 2}},
        {"from 0200", SimDataStoreApplet::Handles::kSequential, 0x0200, {}, {0x200, 0x201, 0x202, 0x203}},
        {"list", SimDataStoreApplet::Handles::kList, 1, {0xFFFF, 0x0007}, {0xFFFF, 7, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimDataStoreOptions d;
        d.handles = c.policy;
        d.handleStart = c.start;
        d.handleList = c.list;
        auto card = DataStore(d);
        std::vector<uint16_t> got;
        for (int i = 0; i < 4; ++i) {
            if (i == 3) {
                char del[32];
                std::snprintf(del, sizeof del, "80 20 20 00 02 %02X %02X 00", got[1] >> 8, got[1] & 0xFF);
                EXPECT_EQ(Sw(*card, del), "9000");
            }
            EXPECT_EQ(Sw(*card, "80 20 10 00 02 00 00 00"), "9000");
            const cardsim::Bytes a = card->transmit(cardsim_test::H("80 20 50 00 04 01 00 01 A9 00"));
            ASSERT_EQ(a.size(), 4u);
            got.push_back(static_cast<uint16_t>((a[0] << 8) | a[1]));
        }
        EXPECT_EQ(got, c.want);
    }
}

TEST(SimRecords, NoRoomForARecordAnswers6F00) {
    SimDataStoreOptions d;
    d.capacity = 100;
    auto card = DataStore(d);
    Play(*card, {
                    {"80 20 10 00 02 00 65 00", "6F00"},
                    {"80 20 10 00 02 00 40 00", "9000"},
                    {"80 20 50 00 04 01 00 01 F3 00", "00 01 90 00"},
                    {"80 20 10 00 02 00 40 00", "6F00"},  // no room for a copy beside it
                    {"80 20 10 00 02 00 24 00", "9000"},
                });
    // Free memory in the status record: 100 - 64 - 36 being built.
    const cardsim::Bytes r = card->transmit(cardsim_test::H("80 30 30 00 00"));
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(r[5], 0x00);
    EXPECT_EQ(r[6], 0x00);
}

TEST(SimRecords, PlatformAppletDeselectsTheStore) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep);
        SimDataStoreOptions d;
        d.platform = true;
        d.platformAnswer = 58;
        d.keepPinOnPlatform = keep;
        d.capacity = 0x2000;
        auto card = DataStore(d);
        SimDataStoreApplet* m = card->find<SimDataStoreApplet>();
        Play(*card, {{"80 10 10 00 06 00 04 31 32 33 34", "9000"}, {"80 20 10 00 02 00 10 00", "9000"}});
        EXPECT_EQ(Sw(*card, "00 A4 04 00 08 A0 00 00 04 48 FF 00 00"), "9000");
        // A = 1, B = 16, free 2000 - 10 (the record being built went with the selection).
        Play(*card, {{"80 EC A2 10",
                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 10 00 00 00 "
                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                      "00 20 00 00 90 00"},
                     {"80 EC A2 11", "6A86"},
                     {"80 30 30 00 00", "6D00"}});
        EXPECT_FALSE(m->building());
        EXPECT_EQ(Sw(*card, kSelectDataStore), "9000");
        EXPECT_EQ(m->pin(1)->verified, keep);
    }
}

TEST(SimRecords, Label) {
    auto card = DataStore();
    const std::string spaces = "20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 ";
    const std::string padded = "41 42 43 00 " + spaces + "90 00";
    Play(*card, {
                    {"80 30 20 00 04 41 42 43 00 02", "9000"},
                    {"80 30 10 00 00", padded.c_str()},
                    {"80 30 20 00 02", "9000"},  // empty, as the transport sends it
                });
    EXPECT_TRUE(card->find<SimDataStoreApplet>()->label().empty());
    std::string longLabel = "80 30 20 00 21";
    for (int i = 0; i < 33; ++i) longLabel += " 41";
    EXPECT_EQ(Sw(*card, longLabel + " 02"), "670A");
}

TEST(SimRecords, DirectoryObjectDecoded) {
    auto card = DataStore();
    cardsim::Bytes image(2048, 0);
    image[4] = 0x00;
    image[5] = 0x3F;
    image[6] = 0x00;
    image[7] = 0x3F;
    image[8] = 0x01;
    image[10] = 0x0E;
    image[11] = 0xE0;
    SimDataStoreApplet* m = card->find<SimDataStoreApplet>();
    m->putRecord(0x0009, 0x3333, 0, image);
    const auto slots = m->directorySlots();
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].index, 1);
    EXPECT_EQ(slots[0].parent, 0x3F00);
    EXPECT_EQ(slots[0].fid, 0x3F00);
    EXPECT_EQ(slots[1].index, 2);
    EXPECT_EQ(slots[1].parent, 0x0001);
    EXPECT_EQ(slots[1].fid, 0xE00E);
}

// ---------------------------------------------------------------- Wren

TEST(SimWrenFiles, ResidentFileCommandsLowByteFirst) {
    auto card = cardsim::MakeWrenToken();
    cardsim::SimWrenApplet* m = card->find<cardsim::SimWrenApplet>();
    EXPECT_EQ(card->selected(), m);
    Play(*card, {
                    {"00 A4 00 00 06 00 02 00 3F 0E E0 08", "07 64"},
                    {"00 A4 00 00 04 00 01 00 3F 08", "00 00 02 00 00 00 00 00 00 90"},
                    {"00 E0 00 00 06 02 00 00 00 0E E0 00", "00 90"},
                    {"00 E0 00 00 06 02 00 00 00 0E E0 00", "08 64"},
                    {"00 A4 00 00 06 00 02 00 3F 0E E0 08", "00 00 02 00 00 00 00 00 00 90"},
                    {"00 E0 00 00 06 01 01 08 00 01 F0 00", "00 90"},
                    {"00 E0 00 00 06 01 00 04 00 02 F0 00", "00 90"},
                    {"00 D2 00 00 03 00 04 01 00", "02 00 01 F0 02 F0 00 90"},
                    {"00 D2 00 00 03 00 04 02 00", "00 00 00 90"},
                    {"00 E2 00 00 01 02", "06 64"},  // not empty
                    {"00 A4 00 00 08 00 03 00 3F 0E E0 01 F0 08", "00 00 01 01 08 00 00 00 00 90"},
                    {"00 D0 00 00 07 02 00 03 00 AA BB CC", "00 90"},
                    {"00 B0 00 00 04 00 00 02 00 00", "82 69"},  // protected
                    {"00 20 00 00 05 04 31 32 33 34", "00 90"},
                    {"00 B0 00 00 04 02 00 03 00 00", "AA BB CC 00 90"},
                    {"00 B0 00 00 04 07 00 02 00 00", "00 6B"},
                    {"00 D0 00 00 06 07 00 02 00 01 02", "00 6B"},
                    {"00 E2 00 00 01 01", "00 90"},
                    {"00 DA 00 00 01 00 00", "0A 0B 0C 0D 01 05 00 40 00 00 00 00 00 00 00 00 FC 3F 02 00 00 90"},
                });
    card->powerOff();
    card->powerOn();
    EXPECT_EQ(card->selected(), m);
    EXPECT_EQ(m->current(), nullptr);
    EXPECT_FALSE(m->user().verified);
    EXPECT_EQ(Tx(*card, "00 D2 00 00 03 00 04 01 00"), "86 69");  // nothing selected
}

TEST(SimWrenFiles, ServerDumpsWhatTheCardKeeps) {
    auto card = cardsim::MakeWrenToken();
    card->find<cardsim::SimWrenApplet>()->tree().putFile({0x3F00, 0x8000, 0xAAAA}, {0x41});
    cardsim::SimServer server(*card);
    cardsim::Bytes reply;
    ASSERT_TRUE(server.handle({0xFE, 0x01}, reply));
    const std::string text(reply.begin(), reply.end());
    EXPECT_NE(text.find("AAAA (1)"), std::string::npos) << text;
}

}  // namespace
