// The simulator core: APDU parsing, selection by AID, reader events, the log
// and counters, and injected faults.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_tokens.h"

using namespace cardsim;
using cardsim_test::H;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

const char kSelectJava[] = "00 A4 04 00 07 A0 00 00 03 12 02 02";
const char kSelectManager[] = "00 A4 04 00 07 A0 00 00 01 51 00 00";

TEST(CardSimApdu, ParsesEveryCaseAndRefusesBadLengths) {
    struct Case {
        const char* raw;
        bool ok;
        size_t dataSize;
        bool hasLe;
        size_t le;
    } cases[] = {
        {"80 CA 9F 7F", true, 0, false, 0},                  // case 1
        {"80 CA 9F 7F 00", true, 0, true, 256},              // case 2, Le 00 = 256
        {"80 17 00 00 20", true, 0, true, 32},               // case 2
        {"00 E4 00 00 02 E0 0E", true, 2, false, 0},         // case 3
        {"80 18 00 00 04 0E 02 00 10 F5", true, 4, true, 245},  // case 4
        {"80 1A 00 00 04 03 02 00 05 00", true, 4, true, 256},  // case 4, Le 00
        {"00 B0 00 00 00 01 00", true, 0, true, 256},        // case 2 extended
        {"00 D6 00 00 00 00 02 AA BB", true, 2, false, 0},   // case 3 extended
        {"00 D6 00 00 00 00 02 AA BB 01 00", true, 2, true, 256},  // case 4 extended
        // The forms a card service passes on as the library built them.
        {"80 10 30 00 00 00", true, 0, true, 256},           // empty Lc, Le 00
        {"00 B0 00 00 00 10", true, 0, true, 16},            // empty Lc, Le 10
        {"00 D6 00 00 00 00 02 AA BB 00", true, 2, true, 65536},  // extended Lc, one-byte Le 00
        {"00 D6 00 00 00 00 02 AA BB 20", true, 2, true, 32},     // extended Lc, one-byte Le 20
        {"00 A4", false, 0, false, 0},                       // shorter than a header
        {"00 E4 00 00 03 E0 0E", false, 0, false, 0},        // Lc says more than there is
        {"00 E4 00 00 01 E0 0E 00 00", false, 0, false, 0},  // Lc says less
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        SimApdu a;
        ASSERT_EQ(SimApdu::parse(H(c.raw), a), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(a.data.size(), c.dataSize);
        EXPECT_EQ(a.hasLe, c.hasLe);
        EXPECT_EQ(a.le, c.le);
    }
}

TEST(CardSimSelect, SelectsByAidAndKeepsTheAppletOnAFailedSelect) {
    auto card = MakeJavaToken();
    // Nothing is selected after power-up.
    EXPECT_EQ(Sw(*card, "00 CA 01 07 00"), "6D00");
    EXPECT_EQ(Tx(*card, kSelectJava), "90 00");
    EXPECT_EQ(card->selected()->name(), "java");
    EXPECT_EQ(Sw(*card, "00 A4 04 00 08 A0 00 00 04 48 00 04 01"), "6A82");  // Heron is not on a Java token
    EXPECT_EQ(card->selected()->name(), "java");
    EXPECT_EQ(Tx(*card, kSelectManager), "90 00");
    EXPECT_EQ(card->selected()->name(), "javamanager");
    // A repeated SELECT with Le (after a 6Cxx or 6A86) selects as well.
    EXPECT_EQ(Tx(*card, "00 A4 04 00 07 A0 00 00 03 12 02 02 00"), "90 00");
    EXPECT_EQ(card->selected()->name(), "java");
    // Malformed APDUs are refused before any applet sees them.
    EXPECT_EQ(Sw(*card, "00 A4 04"), "6700");
    EXPECT_EQ(Sw(*card, "00 A4 04 00 00"), "6700");
}

TEST(CardSimReader, ResetAndPowerCycleDropTheSelectionButKeepTheFiles) {
    auto card = MakeJavaToken();
    SimJavaApplet* java = card->find<SimJavaApplet>();
    ASSERT_NE(java, nullptr);
    Tx(*card, kSelectJava);
    EXPECT_EQ(Tx(*card, "00 A4 08 04 04 66 66 50 00 00").substr(0, 8), "01 01 01");
    EXPECT_EQ(Sw(*card, "80 16 01 00 12 01 01 01 02 02 E0 0E 03 02 00 00 04 05 00 00 00 00 00"), "9000");
    for (int event = 0; event < 2; ++event) {
        if (event == 0) {
            card->reset();
        } else {
            card->powerOff();
            EXPECT_FALSE(card->powered());
            card->powerOn();
        }
        EXPECT_EQ(card->selected(), nullptr);
        EXPECT_TRUE(java->currentPath().empty());
        EXPECT_EQ(Sw(*card, "00 A4 08 04 06 66 66 50 00 E0 0E 00"), "6D00");
        Tx(*card, kSelectJava);
        EXPECT_EQ(Sw(*card, "00 A4 08 04 06 66 66 50 00 E0 0E 00"), "9000");
    }
}

// An applet that answers its name's first letter and counts its selections.
struct EchoApplet : ISimApplet {
    EchoApplet(std::string n, Bytes id) : m_name(std::move(n)), m_aid(std::move(id)) {}
    std::string name() const override { return m_name; }
    Bytes aid() const override { return m_aid; }
    void onSelect() override { ++selects; }
    void onDeselect() override { ++deselects; }
    Bytes process(const SimApdu&) override { return Respond(Bytes{static_cast<unsigned char>(m_name[0])}); }
    int selects = 0, deselects = 0;
    std::string m_name;
    Bytes m_aid;
};

TEST(CardSimReader, AResidentAppletAnswersWithoutSelectAfterEveryReset) {
    CardSim card(H("3B 00"));
    auto* resident = card.install(std::make_unique<EchoApplet>("resident", H("A0 00 00 00 01")));
    auto* other = card.install(std::make_unique<EchoApplet>("other", H("A0 00 00 00 02")));
    EXPECT_EQ(Sw(card, "00 CA 01 81 00"), "6D00");
    card.setResident(resident);
    EXPECT_EQ(Tx(card, "00 CA 01 81 00"), "72 90 00");
    // A SELECT of an applet the card lacks leaves the resident one current.
    EXPECT_EQ(Sw(card, "00 A4 04 00 03 A0 00 00"), "6A82");
    EXPECT_EQ(card.selected(), resident);
    // Another applet selected by AID takes over until the next reset or power-on.
    EXPECT_EQ(Tx(card, "00 A4 04 00 05 A0 00 00 00 02"), "90 00");
    EXPECT_EQ(Tx(card, "00 CA 01 81 00"), "6F 90 00");
    EXPECT_EQ(resident->deselects, 1);
    card.reset();
    EXPECT_EQ(card.selected(), resident);
    EXPECT_EQ(other->deselects, 1);
    card.powerOff();
    card.powerOn();
    EXPECT_EQ(Tx(card, "00 CA 01 81 00"), "72 90 00");
    EXPECT_EQ(resident->selects, 3);
}

TEST(CardSimSender, SendReplacesTheBufferAndAtrIsTheCards) {
    auto card = MakeJavaToken();
    libapdu::ISender& sender = *card;
    libapdu::TBytes response(258, 0);
    sender.send(H(kSelectJava), response);
    EXPECT_EQ(response, H("90 00"));
    EXPECT_EQ(sender.atr(), kAtrJava10);
    libapdu::TBytes out = H("01");
    sender.control(1, H("02"), out);  // does nothing, raises nothing
    EXPECT_EQ(out, H("01"));
    EXPECT_EQ(MakeHeronToken()->atr(), kAtrHeron);
}

TEST(CardSimLog, RecordsCommandsAnswersAndCountsPerClaIns) {
    auto card = MakeJavaToken();
    Tx(*card, kSelectJava);
    Tx(*card, "00 CA 01 07 00");
    Tx(*card, "00 CA 01 11 00");
    Tx(*card, "80 17 00 00 08");
    const auto log = card->log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].applet, "");
    EXPECT_EQ(log[1].applet, "java");
    EXPECT_EQ(log[1].command, H("00 CA 01 07 00"));
    EXPECT_EQ(StatusOf(log[1].response), 0x9000);
    EXPECT_EQ(card->count(0x00, 0xCA), 2u);
    EXPECT_EQ(card->count(0x80, 0x17), 1u);
    EXPECT_EQ(card->count(0x80, 0xCA), 0u);
    EXPECT_EQ(card->commandCount(), 4u);
    card->clearLog();
    card->resetCounters();
    EXPECT_TRUE(card->log().empty());
    EXPECT_EQ(card->count(0x00, 0xCA), 0u);
    EXPECT_EQ(card->commandCount(), 0u);
}

// Each kind of fault on the answer to GET DATA 11 (11 04 01 00 02 03 90 00), and
// whether the command was carried out, seen through a create that follows.
TEST(CardSimFaults, EachKindShapesTheNextMatchingAnswer) {
    struct Case {
        const char* name;
        SimFault::Kind kind;
        size_t count;
        const char* bytes;
        const char* expected;
    } cases[] = {
        {"status", SimFault::kStatus, 0, "", "6A 82"},
        {"status after", SimFault::kStatusAfter, 0, "", "6A 82"},
        {"truncate", SimFault::kTruncate, 2, "", "11 04 01 00 90 00"},
        {"truncate more than the data", SimFault::kTruncate, 99, "", "90 00"},
        {"extend", SimFault::kExtend, 3, "", "11 04 01 00 02 03 EE EE EE 90 00"},
        {"empty", SimFault::kEmpty, 0, "", ""},
        {"replace", SimFault::kReplace, 0, "90", "90"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto card = MakeJavaToken();
        Tx(*card, kSelectJava);
        SimFault f;
        f.match = MatchClaIns(0x00, 0xCA);
        f.kind = c.kind;
        f.sw = 0x6A82;
        f.count = c.count;
        f.fill = 0xEE;
        f.bytes = H(c.bytes);
        card->inject(f);
        EXPECT_EQ(Tx(*card, "00 CA 01 11 00"), c.expected);
        EXPECT_EQ(card->pendingFaults(), 0u);
        EXPECT_TRUE(card->log().back().faulted);
        EXPECT_EQ(Tx(*card, "00 CA 01 11 00"), "11 04 01 00 02 03 90 00");  // one shot
    }
}

TEST(CardSimFaults, StatusFaultSkipsTheCommandStatusAfterCarriesItOut) {
    const char kCreate[] = "80 16 01 00 12 01 01 01 02 02 E0 0E 03 02 00 00 04 05 00 00 00 00 00";
    for (bool after : {false, true}) {
        SCOPED_TRACE(after ? "after" : "instead");
        auto card = MakeJavaToken();
        SimJavaApplet* java = card->find<SimJavaApplet>();
        Tx(*card, kSelectJava);
        Tx(*card, "00 A4 08 04 04 66 66 50 00 00");
        if (after)
            card->failNextAfter(MatchClaIns(0x80, 0x16), 0x6707);
        else
            card->failNext(MatchClaIns(0x80, 0x16), 0x6707);
        EXPECT_EQ(Tx(*card, kCreate), "67 07");
        EXPECT_EQ(java->tree().find({0x3F00, 0x6666, 0x5000, 0xE00E}) != nullptr, after);
    }
}

TEST(CardSimFaults, MatchingIsByPredicateAndCanRepeat) {
    auto card = MakeJavaToken();
    Tx(*card, kSelectJava);
    SimFault f;
    f.match = MatchPrefix(H("80 17 00 00"));
    f.sw = 0x6F00;
    f.times = 2;
    card->inject(f);
    EXPECT_EQ(Sw(*card, "00 CA 01 11 00"), "9000");  // no match, fault stays
    EXPECT_EQ(card->pendingFaults(), 1u);
    EXPECT_EQ(Sw(*card, "80 17 00 00 04"), "6F00");
    EXPECT_EQ(Sw(*card, "80 17 00 00 04"), "6F00");
    EXPECT_EQ(Sw(*card, "80 17 00 00 04"), "9000");

    f.times = -1;  // every matching command until cleared
    f.match = MatchIns(0xCA);
    card->inject(f);
    card->emptyNext(MatchAny());  // injected later: the first fault that matches wins
    EXPECT_EQ(Sw(*card, "00 CA 01 11 00"), "6F00");
    EXPECT_EQ(Sw(*card, "00 CA 01 11 00"), "6F00");
    EXPECT_EQ(Tx(*card, "80 17 00 00 01"), "");
    card->clearFaults();
    EXPECT_EQ(Sw(*card, "00 CA 01 11 00"), "9000");
}

}  // namespace
