// The Java and Heron card sides, driven with raw APDUs. The two applets share
// one protocol behind different class and instruction bytes, so the file
// conversation runs once per family from its command set.
#include <gtest/gtest.h>

#include <cstdio>

#include "cardsim_test_util.h"
#include "sim_tokens.h"

using namespace cardsim;
using cardsim_test::H;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

std::string Hex2(unsigned char a, unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X %02X ", a, b);
    return buf;
}

struct Family {
    const char* name;
    const SimJavaCommandSet* cmds;
    std::unique_ptr<CardSim> (*make)(const SimTokenOptions&);
};

class JavaFamilySim : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        card = GetParam().make(SimTokenOptions());
        applet = card->find<SimJavaApplet>();
        ASSERT_NE(applet, nullptr);
        ASSERT_EQ(Sw(*card, "00 A4 04 00 " + Hex2(static_cast<unsigned char>(c().aid.size()), c().aid[0]) +
                                ToHex(Bytes(c().aid.begin() + 1, c().aid.end()))),
                  "9000");
    }
    const SimJavaCommandSet& c() const { return *GetParam().cmds; }
    // The family's command: its CLA and INS for the operation, then the rest.
    std::string Select(const std::string& rest) { return Hex2(c().selectCla, c().selectIns) + rest; }
    std::string List(const std::string& rest) { return Hex2(c().listCla, c().listIns) + rest; }
    std::string Create(const std::string& rest) { return Hex2(c().createCla, c().createIns) + rest; }
    std::string Resize(const std::string& rest) { return Hex2(c().resizeCla, c().resizeIns) + rest; }
    std::string Remove(const std::string& rest) { return Hex2(c().removeCla, c().removeIns) + rest; }
    std::string Read(const std::string& rest) { return Hex2(c().readCla, c().readIns) + rest; }
    std::string Write(const std::string& rest) { return Hex2(c().writeCla, c().writeIns) + rest; }
    std::string Marker(const std::string& rest) { return Hex2(c().markerCla, c().markerIns) + rest; }
    std::string GetData(const std::string& rest) { return Hex2(c().getDataCla, c().getDataIns) + rest; }
    std::string Challenge(const std::string& rest) { return Hex2(c().challengeCla, c().challengeIns) + rest; }

    std::unique_ptr<CardSim> card;
    SimJavaApplet* applet = nullptr;
};

const FidPath kKeyRoot = {0x3F00, 0x6666, 0x5000, 0xE00E};

// The conversation of a key-store write as the library holds it: each step's
// command and the card's whole answer.
TEST_P(JavaFamilySim, FileConversation) {
    struct Step {
        std::string command, answer;
    };
    const Step steps[] = {
        // The applet folder and the master file are folders with free access.
        {Select("08 04 04 66 66 50 00 00"), "01 01 01 03 02 00 00 04 05 00 00 00 00 00 90 00"},
        {Select("00 04 00"), "01 01 01 03 02 00 00 04 05 00 00 00 00 00 90 00"},
        {Select("08 04 06 66 66 50 00 E0 0E 00"), "6A 82"},
        {Select("08 04 04 66 66 50 00 00"), "01 01 01 03 02 00 00 04 05 00 00 00 00 00 90 00"},
        {Create("01 00 12 01 01 01 02 02 E0 0E 03 02 00 00 04 05 10 10 10 10 10"), "90 00"},
        {Create("01 00 12 01 01 01 02 02 E0 0E 03 02 00 00 04 05 10 10 10 10 10"), "6A 89"},
        {Create("01 00 12 01 01 03 02 02 E0 0F 03 02 00 00 04 05 10 10 10 10 10"), "6A 80"},  // no such type
        {Select("08 04 06 66 66 50 00 E0 0E 00"), "01 01 01 03 02 00 00 04 05 10 10 10 10 10 90 00"},
        {Create("01 00 12 01 01 02 02 02 00 05 03 02 08 00 04 05 0F 10 10 10 10"), "90 00"},
        {List("02 00 04 09 02 00 00 CD"), "0A 02 00 05 0B 01 00 90 00"},
        {List("01 00 04 09 02 00 00 CD"), "0A 00 0B 01 00 90 00"},
        {List("03 00 04 09 02 00 00 CD"), "6A 86"},
        {Select("08 04 08 66 66 50 00 E0 0E 00 05 00"), "01 01 02 03 02 08 00 04 05 0F 10 10 10 10 90 00"},
        {List("02 00 04 09 02 00 00 CD"), "69 85"},  // a file has no entries
        {Create("01 00 12 01 01 02 02 02 00 06 03 02 00 10 04 05 00 00 00 00 00"), "69 85"},
        // Writes and reads stay inside the file; a read past its end answers what there is.
        {Write("00 00 09 0E 02 07 FD 10 03 AA BB CC"), "90 00"},
        {Write("00 00 09 0E 02 07 FE 10 03 AA BB CC"), "6B 00"},
        {Write("00 00 09 0E 02 00 00 10 FF 00 01 DD"), "90 00"},  // length with the FF escape
        {Read("00 00 04 0E 02 07 FC 04"), "00 AA BB CC 90 00"},
        {Read("00 00 04 0E 02 00 00 02"), "DD 00 90 00"},
        {Read("00 00 04 0E 02 07 FE 04"), "BB CC 62 82"},
        {Read("00 00 04 0E 02 08 01 01"), "6B 00"},
        {Read("00 00 04 0E 02 00 00"), "67 00"},  // no Le
        {Write("00 00 05 00 02 00 00 00"), "6A 80"},  // tag 00 is no tag
        {Write("00 00 05 0E 02 00 00 10"), "6A 80"},  // element cut short
        {Write("00 00 04 10 02 AA BB"), "6A 80"},    // no offset
        // The change marker takes exactly 16 bytes.
        {Marker("00 00 12 10 10 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"), "90 00"},
        {Marker("00 00 11 10 0F 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"), "67 00"},
        // Removal takes the folder with its files; a second removal finds nothing.
        {Select("08 04 04 66 66 50 00 00"), "01 01 01 03 02 00 00 04 05 00 00 00 00 00 90 00"},
        {Remove("00 00 02 E0 0E"), "90 00"},
        {Remove("00 00 02 E0 0E"), "6A 82"},
        {Select("08 04 06 66 66 50 00 E0 0E 00"), "6A 82"},
    };
    const size_t freeBefore = applet->memoryFree();
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": " + s.command);
        EXPECT_EQ(Tx(*card, s.command), s.answer);
        if (i == 2) {
            EXPECT_EQ(applet->currentPath(), (FidPath{0x3F00}));  // a failed select keeps the selection
        }
        if (i == 4) {
            EXPECT_EQ(applet->currentPath(), (FidPath{0x3F00, 0x6666, 0x5000}));  // create does not select
            ASSERT_NE(applet->tree().find(kKeyRoot), nullptr);
            EXPECT_TRUE(applet->tree().find(kKeyRoot)->folder);
        }
        if (i == 8) {
            const SimFile* f = applet->tree().find({0x3F00, 0x6666, 0x5000, 0xE00E, 0x0005});
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->size(), 2048u);
            EXPECT_EQ(f->access, H("0F 10 10 10 10"));
            EXPECT_EQ(applet->memoryFree(), freeBefore - 2048);
        }
    }
    EXPECT_EQ(applet->lastMarker(), H("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"));
    EXPECT_EQ(applet->markerCount(), 1u);
    EXPECT_EQ(applet->memoryFree(), freeBefore);
}

TEST_P(JavaFamilySim, ListPagesByHundredEntries) {
    SimFile* dir = applet->tree().putFolder({0x3F00, 0x6666, 0x5000, 0xE00E, 0x0B00});
    for (uint16_t i = 0; i < 250; ++i) applet->tree().addFolder(*dir, static_cast<uint16_t>(0x1000 + i), Bytes(5, 0));
    applet->tree().addFile(*dir, 0x0001, Bytes(4, 0), Bytes(5, 0));  // a file is not listed with the folders
    Tx(*card, Select("08 04 08 66 66 50 00 E0 0E 0B 00 00"));
    struct Page {
        const char* start;
        size_t ids;
        unsigned char more;
        unsigned char firstIdLow;
    } pages[] = {{"00 00", 100, 1, 0x00}, {"00 64", 100, 1, 0x64}, {"00 C8", 50, 0, 0xC8}, {"01 2C", 0, 0, 0}};
    for (const Page& p : pages) {
        SCOPED_TRACE(p.start);
        const Bytes r = card->transmit(H(List(std::string("01 00 04 09 02 ") + p.start + " CD")));
        ASSERT_EQ(r.size(), 2 + p.ids * 2 + 3 + 2);  // a full page fills Le CD exactly
        EXPECT_EQ(r[0], 0x0A);
        EXPECT_EQ(r[1], p.ids * 2);
        if (p.ids) {
            EXPECT_EQ(r[2], 0x10);  // identifiers 1000 + index, in creation order
            EXPECT_EQ(r[3], p.firstIdLow);
        }
        EXPECT_EQ(Bytes(r.end() - 5, r.end()), (Bytes{0x0B, 0x01, p.more, 0x90, 0x00}));
    }
    // An answer that would not fit the terminal's Le names the length that fits.
    EXPECT_EQ(Sw(*card, List("01 00 04 09 02 00 00 10")), "6CCD");
    EXPECT_EQ(Tx(*card, List("02 00 04 09 02 00 00 CD")), "0A 02 00 01 0B 01 00 90 00");
}

TEST_P(JavaFamilySim, ResizeSetsTheSelectedFilesLength) {
    const FidPath label = {0x3F00, 0x6666, 0x5000, 0x0002};
    Tx(*card, Select("08 04 06 66 66 50 00 00 02 00"));
    // The label facet sends the command with a trailing Le, the file system without.
    EXPECT_EQ(Tx(*card, Resize("00 00 04 03 02 00 05 00")), "90 00");
    EXPECT_EQ(applet->tree().find(label)->content, H("53 69 6D 20 54"));
    EXPECT_EQ(Tx(*card, Resize("00 00 04 03 02 00 07")), "90 00");
    EXPECT_EQ(applet->tree().find(label)->content, H("53 69 6D 20 54 00 00"));
    EXPECT_EQ(Tx(*card, Resize("00 00 04 03 02 FF FF")), "6A 84");  // more than the card holds
    Tx(*card, Select("08 04 04 66 66 50 00 00"));
    EXPECT_EQ(Tx(*card, Resize("00 00 04 03 02 00 05")), "69 81");  // a folder has no length
}

TEST_P(JavaFamilySim, GetDataAnswersTheInformationObjects) {
    applet->info().serial = H("A1 A2 A3 A4 A5 A6");
    applet->info().memoryTotal = 0x00010000;
    const size_t used = applet->tree().usedBytes();
    char freeHex[16];
    std::snprintf(freeHex, sizeof freeHex, "%02X %02X", static_cast<unsigned>((0x10000 - used) >> 8) & 0xFF,
                  static_cast<unsigned>(0x10000 - used) & 0xFF);
    struct Case {
        std::string command, answer;
    } cases[] = {
        {GetData("01 07 00"), "07 14 01 06 A1 A2 A3 A4 A5 A6 04 04 20 26 01 15 05 04 00 00 00 01 90 00"},
        {GetData("01 11 00"), "11 04 " + ToHex(applet->info().version) + " 90 00"},
        {GetData("01 13 00"), "13 04 00 01 00 00 90 00"},
        {GetData("01 14 00"), std::string("14 04 00 00 ") + freeHex + " 90 00"},
        {GetData("01 15 00"), "6A 88"},
        {GetData("00 07 00"), "6A 86"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        EXPECT_EQ(Tx(*card, k.command), k.answer);
    }
}

TEST_P(JavaFamilySim, ChallengeGivesAtMostThirtyTwoFreshBytes) {
    const Bytes a = card->transmit(H(Challenge("00 00 20")));
    const Bytes b = card->transmit(H(Challenge("00 00 20")));
    ASSERT_EQ(a.size(), 34u);
    EXPECT_EQ(StatusOf(a), 0x9000);
    EXPECT_NE(a, b);
    EXPECT_EQ(card->transmit(H(Challenge("00 00 01"))).size(), 3u);
    EXPECT_EQ(Sw(*card, Challenge("00 00 21")), "6700");
    EXPECT_EQ(Sw(*card, Challenge("00 00")), "6700");
}

TEST_P(JavaFamilySim, FipsFileAndLabelFileAreSeeded) {
    const char* kFips = "00 00 04 0E 02 00 00 02";
    Tx(*card, Select("08 04 06 66 66 50 00 00 0A 00"));
    EXPECT_EQ(Tx(*card, Read(kFips)), "00 00 90 00");
    auto fips = GetParam().make([] {
        SimTokenOptions o;
        o.fips = true;
        return o;
    }());
    SimJavaApplet* a = fips->find<SimJavaApplet>();
    fips->transmit(H("00 A4 04 00 " + Hex2(static_cast<unsigned char>(c().aid.size()), c().aid[0]) +
                     ToHex(Bytes(c().aid.begin() + 1, c().aid.end()))));
    EXPECT_EQ(Tx(*fips, Select("08 04 06 66 66 50 00 00 0A 00")).substr(0, 8), "01 01 02");
    EXPECT_EQ(Tx(*fips, Read(kFips)), "00 01 90 00");
    ASSERT_NE(a->tree().find({0x3F00, 0x6666, 0x5000, 0x0002}), nullptr);
}

TEST_P(JavaFamilySim, AccessConditionsWhenEnforced) {
    applet->tree().putFile({0x3F00, 0x6666, 0x5000, 0x0100}, H("11 22"), H("0F 10 10 10 10"));
    applet->setAccessEnforced(true);
    Tx(*card, Select("08 04 06 66 66 50 00 01 00 00"));
    EXPECT_EQ(Sw(*card, Read("00 00 04 0E 02 00 00 02")), "6982");
    applet->grant(0x0F);
    EXPECT_EQ(Tx(*card, Read("00 00 04 0E 02 00 00 02")), "11 22 90 00");
    EXPECT_EQ(Sw(*card, Write("00 00 07 0E 02 00 00 10 01 33")), "6982");  // writing needs 10
    applet->grant(0x10);
    EXPECT_EQ(Sw(*card, Write("00 00 07 0E 02 00 00 10 01 33")), "9000");
    card->reset();  // verified PINs do not survive a reset
    card->transmit(H("00 A4 04 00 " + Hex2(static_cast<unsigned char>(c().aid.size()), c().aid[0]) +
                     ToHex(Bytes(c().aid.begin() + 1, c().aid.end()))));
    Tx(*card, Select("08 04 06 66 66 50 00 01 00 00"));
    EXPECT_EQ(Sw(*card, Read("00 00 04 0E 02 00 00 02")), "6982");
}

INSTANTIATE_TEST_SUITE_P(Families, JavaFamilySim,
                         ::testing::Values(Family{"Java", &kSimJavaCommands, &MakeJavaToken},
                                           Family{"Heron", &kSimHeronCommands, &MakeHeronToken}),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

// Where the two families' bytes cross: each applet refuses the other's.
TEST(JavaHeronSim, EachAppletRefusesTheOthersCommands) {
    auto java = MakeJavaToken();
    auto heron = MakeHeronToken();
    Tx(*java, "00 A4 04 00 07 A0 00 00 03 12 02 02");
    Tx(*heron, "00 A4 04 00 08 A0 00 00 04 48 00 04 01");
    Tx(*java, "00 A4 08 04 06 66 66 50 00 00 02 00");
    Tx(*heron, "80 03 08 04 06 66 66 50 00 00 02 00");
    struct Case {
        CardSim* card;
        const char* command;
        const char* sw;
    } cases[] = {
        {heron.get(), "00 A4 08 04 04 66 66 50 00 00", "6D00"},  // Java's select
        {heron.get(), "00 E4 00 00 02 E0 0E", "6D00"},           // Java's delete
        {heron.get(), "00 CA 01 07 00", "6D00"},                 // Java's GET DATA
        {java.get(), "80 03 08 04 04 66 66 50 00 00", "6D00"},   // Heron's select
        {java.get(), "80 02 01 07 00", "6D00"},                  // Heron's GET DATA
        {java.get(), "00 18 00 00 04 0E 02 00 00 01", "6E00"},   // right INS, wrong class
        // 80 1B is Heron's write and Java's change marker.
        {heron.get(), "80 1B 00 00 07 0E 02 00 00 10 01 58", "9000"},
        {java.get(), "80 1B 00 00 07 0E 02 00 00 10 01 58", "6700"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        EXPECT_EQ(Sw(*k.card, k.command), k.sw);
    }
    EXPECT_EQ(heron->find<SimHeronApplet>()->tree().find({0x3F00, 0x6666, 0x5000, 0x0002})->content[0], 0x58);
    EXPECT_EQ(heron->find<SimHeronApplet>()->markerCount(), 0u);
    EXPECT_EQ(java->find<SimJavaApplet>()->markerCount(), 0u);
}

}  // namespace
