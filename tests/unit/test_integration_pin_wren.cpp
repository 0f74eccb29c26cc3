// The Wren PIN facet against the Wren applet's card side: ISO commands, no
// status record, status words low byte first.
#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppin/pin_wren.h"
#include "sim_family_card.h"
#include "sim_wren.h"

using namespace libapdu;
using cardsim::SimWrenApplet;
using keyshelf_test::Ascii;
using testing_card::RaisedCode;

namespace {

typedef keyshelf_test::SimFamilyCard<SimWrenApplet, CErrorWren, CPinWren> WrenCard;

const char kLogout[] = "00 DC 00 00 01 00";

TEST(WrenPinOnCard, LoginNeedsNoSelectionOnTheCard) {
    WrenCard t;
    t.login(Ascii("1234"));
    EXPECT_EQ(t.received(), (std::vector<std::string>{"00 20 00 00 05 04 31 32 33 34"}));
    EXPECT_EQ(testing_card::ToHex(t.card.log().back().response), "00 90");
    EXPECT_TRUE(t.model->user().verified);
}

TEST(WrenPinOnCard, WrongPinsCountDownOnTheCardToBlocked) {
    WrenCard t;
    t.model->user().limit = 3;
    t.pin->select(t.pin->pathUser());
    struct Step {
        const char* pin;
        unsigned short code;
        unsigned char triesOnCard;
    };
    const Step steps[] = {
        {"9999", 0x6300, 2},  // the applet's 6416
        {"1234", 0, 3},
        {"9999", 0x6300, 2},
        {"9998", 0x6300, 1},
        {"9997", 0x6300, 0},
        {"1234", 0x6983, 0},
        {"12", 0x6983, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.pin);
        EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii(s.pin)); }), s.code ? s.code : -1);
        EXPECT_EQ(t.model->user().triesLeft(), s.triesOnCard);
        // The applet tells nothing: the record stays the constant one.
        const PinInfo i = t.pin->info();
        EXPECT_EQ(i.triesLeft, 0xFF);
        EXPECT_EQ(i.loginState, 0x10);
    }
}

TEST(WrenPinOnCard, LoginAnswers) {
    struct Case {
        const char* answer;  // as the applet puts it on the wire
        unsigned short code;
    };
    const Case cases[] = {
        {"00 90", 0},
        {"82 69", 0x6300},  // security status not satisfied reads as a wrong PIN
        {"16 64", 0x6300},
        {"83 69", 0x6983},
        {"00 67", 0x6B00},
        {"90 00", 0xFFFF},  // 0090, in this applet's order
        {"", 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        WrenCard t;
        t.card.replaceNext(cardsim::MatchIns(0x20), testing_card::Hex(c.answer));
        EXPECT_EQ(RaisedCode([&] { t.login(Ascii("1234")); }), c.code ? c.code : -1);
    }
}

TEST(WrenPinOnCard, ChangeIsAlwaysFollowedByALogout) {
    struct Case {
        const char* name;
        bool login;
        const char* fresh;
        unsigned short code;
        const char* value;  // on the card afterwards
    };
    const Case cases[] = {
        {"logged in", true, "567890", 0, "567890"},
        {"not logged in", false, "567890", 0x6900, "1234"},   // the applet's 6982, not a wrong PIN
        {"too long for the card", true, "12345678901234567", 0x6B00, "1234"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WrenCard t;
        if (c.login) t.login(Ascii("1234"));
        t.pin->select(t.pin->pathUser());
        t.card.clearLog();
        EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii(c.fresh)); }), c.code ? c.code : -1);
        ASSERT_EQ(t.card.log().size(), 2u);
        const TBytes fresh = Ascii(c.fresh);
        char head[64];
        std::snprintf(head, sizeof head, "00 D4 00 00 %02X %02X ", static_cast<unsigned>(fresh.size() + 1) & 0xFFu,
                      static_cast<unsigned>(fresh.size()) & 0xFFu);
        EXPECT_EQ(t.received(), (std::vector<std::string>{head + testing_card::ToHex(fresh), kLogout}));
        EXPECT_EQ(t.model->user().value, Ascii(c.value));
        EXPECT_FALSE(t.model->user().verified);
    }
}

TEST(WrenPinOnCard, ASecondChangeWorksOnTheNewPin) {
    WrenCard t;
    t.changePin(Ascii("1234"), Ascii("5678"));
    t.changePin(Ascii("5678"), Ascii("90123"));
    EXPECT_EQ(t.model->user().value, Ascii("90123"));
    EXPECT_EQ(RaisedCode([&] { t.login(Ascii("5678")); }), 0x6300);
    t.login(Ascii("90123"));
}

TEST(WrenPinOnCard, ARefusedLogoutAfterAChangeIsRaised) {
    WrenCard t;
    t.login(Ascii("1234"));
    t.card.replaceNext(cardsim::MatchIns(0xDC), testing_card::Hex("00 6F"));
    EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii("5678")); }), 0x6F00);
    EXPECT_EQ(t.model->user().value, Ascii("5678"));
}

TEST(WrenPinOnCard, Logout) {
    WrenCard t;
    t.login(Ascii("1234"));
    t.card.clearLog();
    t.pin->logout();
    EXPECT_EQ(t.received(), (std::vector<std::string>{kLogout}));
    EXPECT_FALSE(t.model->user().verified);
    t.card.replaceNext(cardsim::MatchIns(0xDC), testing_card::Hex("00 6F"));
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0x6F00);
}

TEST(WrenPinOnCard, SelectAndWhatTheFamilyDoesNotOffer) {
    WrenCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->select({2}); }), 0x6A82);
    EXPECT_EQ(RaisedCode([&] { t.pin->select({}); }), 0x6A82);
    EXPECT_EQ(RaisedCode([&] { t.pin->unblock(Ascii("1234")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->externalLogin(Ascii("1234")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->challengeGet(); }), 0xFACE);
    // Wren checks no lengths, but a PIN its length byte cannot carry never leaves.
    EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(0xFF, '1')); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(0x100, '1')); }), 0x6B00);
    EXPECT_TRUE(t.card.log().empty());
    const PinInfo i = t.pin->info();
    EXPECT_EQ(i.minLength, 4);
    EXPECT_EQ(i.maxLength, 16);
    EXPECT_EQ(i.triesMax, 0xFF);
    EXPECT_EQ(t.pin->pathAdmin(), path());
    EXPECT_EQ(t.pin->encoding(), 2);
}

}  // namespace
