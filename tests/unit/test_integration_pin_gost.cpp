// The Gost PIN facet against the Gost applet's card side. The applet wants the
// current PIN with every change, so the facet keeps the PIN of the last login
// in key slot 0 of the applet's pack.
#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppack/pack_gost.h"
#include "apppin/pin_gost.h"
#include "sim_family_card.h"
#include "sim_gost.h"

using namespace libapdu;
using cardsim::SimGostApplet;
using keyshelf_test::Ascii;
using testing_card::RaisedCode;

namespace {

typedef keyshelf_test::SimFamilyCard<SimGostApplet, CErrorGost, CPinGost, CPackGost> GostCard;

const char kStatus[] = "80 15 10 00 01 01";
const char kLogout[] = "80 15 20 00 01 01";

bool SlotEmpty(IApplet& a) { return RaisedCode([&] { a.pack()->keyGet(0); }) == 0x6900; }

TEST(GostPinOnCard, LoginSendsTheReferenceAndKeepsThePinInSlotZero) {
    GostCard t;
    t.login(Ascii("123456"));
    EXPECT_EQ(t.received(), (std::vector<std::string>{kStatus, "80 10 20 00 08 01 06 31 32 33 34 35 36"}));
    EXPECT_TRUE(t.model->user().verified);
    EXPECT_EQ(t.applet.pack()->keyGet(0), Ascii("123456"));
    const PinInfo i = t.pin->info();
    EXPECT_EQ(i.minLength, 6);
    EXPECT_EQ(i.maxLength, 32);
    EXPECT_EQ(i.triesLeft, 10);
    EXPECT_EQ(i.loginState, 0xFF);
    t.pin->select(t.pin->pathUser());
    EXPECT_EQ(t.pin->info().loginState, 0xFF);  // the card's flag
}

TEST(GostPinOnCard, EachDesignatorReadsItsOwnFailureCount) {
    struct Case {
        path designator;
        const char* pin;
        const char* login;  // the command sent
        unsigned char triesLeft;
    };
    const Case cases[] = {
        {{2}, "123456", "80 10 20 00 08 01 06 31 32 33 34 35 36", 10 - 1},
        {{1}, "87654321", "80 10 20 00 0A 00 08 38 37 36 35 34 33 32 31", 10 - 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pin);
        GostCard t;
        t.model->user().failures = 1;
        t.model->admin().failures = 3;
        t.pin->select(c.designator);
        EXPECT_EQ(t.pin->info().triesLeft, c.triesLeft);
        EXPECT_EQ(t.pin->info().triesMax, 10);
        t.card.clearLog();
        t.pin->login(Ascii(c.pin));
        EXPECT_EQ(t.last(), c.login);
        EXPECT_EQ(t.pin->info().triesLeft, 10);
    }
}

TEST(GostPinOnCard, WrongPinsCountDownToBlockedAndLeaveNoKeyBehind) {
    GostCard t;
    t.model->setLimit(3);
    t.login(Ascii("123456"));
    struct Step {
        const char* pin;
        unsigned short code;
        unsigned char triesAfter;
    };
    const Step steps[] = {
        {"000000", 0x6300, 2},  // the applet's 6DA0
        {"000001", 0x6300, 1},
        {"000002", 0x6300, 0},
        {"123456", 0x6983, 0},  // the applet's 6DA4
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.pin);
        EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii(s.pin)); }), s.code);
        EXPECT_EQ(t.pin->info().triesLeft, s.triesAfter);
        EXPECT_TRUE(SlotEmpty(t.applet)) << "a PIN outlived a failed login";
        t.pin->select(t.pin->pathUser());
        EXPECT_EQ(t.pin->info().triesLeft, s.triesAfter) << "the card counts otherwise";
    }
    // The administrator PIN shares the limit but keeps its own count.
    t.pin->select(t.pin->pathAdmin());
    EXPECT_EQ(t.pin->info().triesLeft, 3);
}

TEST(GostPinOnCard, ChangeSendsBothLengthsThenBothPinsAndASecondChangeSendsTheNewPin) {
    GostCard t;
    t.changePin(Ascii("123456"), Ascii("abcdefg"));
    EXPECT_EQ(t.last(), "80 10 10 00 10 01 06 07 31 32 33 34 35 36 61 62 63 64 65 66 67");
    EXPECT_EQ(t.model->user().value, Ascii("abcdefg"));
    EXPECT_EQ(t.applet.pack()->keyGet(0), Ascii("abcdefg"));

    // No login in between: the current PIN must be the one the card now holds.
    t.pin->select(t.pin->pathUser());
    t.pin->change(Ascii("zyxwvu"));
    EXPECT_EQ(t.last(), "80 10 10 00 10 01 07 06 61 62 63 64 65 66 67 7A 79 78 77 76 75");
    EXPECT_EQ(t.model->user().value, Ascii("zyxwvu"));
    EXPECT_EQ(t.model->user().failures, 0);

    EXPECT_EQ(RaisedCode([&] { t.login(Ascii("123456")); }), 0x6300);
    t.login(Ascii("zyxwvu"));
}

TEST(GostPinOnCard, ChangeRefusals) {
    struct Case {
        const char* name;
        bool logout;      // between the login and the change
        const char* fresh;
        unsigned short code;
        size_t sent;      // commands after the select
    };
    const Case cases[] = {
        {"after a logout", true, "654321", 0x6900, 0},  // slot 0 is empty
        {"new PIN too long", false, "123456789012345678901234567890123", 0x6B00, 0},
        {"new PIN too short for the card", false, "12345", 0x6B00, 1},  // the applet's 6D13
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostCard t;
        t.login(Ascii("123456"));
        if (c.logout) t.pin->logout();
        t.pin->select(t.pin->pathUser());
        t.card.clearLog();
        EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii(c.fresh)); }), c.code);
        EXPECT_EQ(t.card.log().size(), c.sent);
        EXPECT_EQ(t.model->user().value, Ascii("123456"));
    }
}

TEST(GostPinOnCard, LogoutClearsTheSlotsWhateverTheCardAnswers) {
    struct Case {
        const char* name;
        bool login;
        const char* answer;  // replaces the card's answer; null: the card answers itself
        unsigned short code;
    };
    const Case cases[] = {
        {"logged in", true, nullptr, 0},
        {"nobody logged in", false, nullptr, 0},  // the applet's 6E01
        {"01 01", true, "01 01", 0},
        {"6D 01", true, "6D 01", 0},
        {"refused", true, "6D 10", 0x6900},
        {"no answer", true, "", 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostCard t;
        if (c.login) t.login(Ascii("123456"));
        if (c.answer) t.card.replaceNext(cardsim::MatchPrefix({0x80, 0x15, 0x20}), testing_card::Hex(c.answer));
        t.card.clearLog();
        EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), c.code ? c.code : -1);
        EXPECT_EQ(t.received(), (std::vector<std::string>{kLogout}));
        EXPECT_TRUE(SlotEmpty(t.applet));
        EXPECT_EQ(t.pin->info().loginState, 0);
    }
}

TEST(GostPinOnCard, StatusRecordShapes) {
    struct Case {
        const char* name;
        size_t tail;  // bytes past the 24
        size_t cut;
        unsigned short code;
    };
    const Case cases[] = {
        {"24 bytes", 0, 0, 0},
        {"40 bytes", 16, 0, 0},
        {"23 bytes", 0, 1, 0x6281},
        {"nothing", 0, 24, 0x6281},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostCard t;
        t.model->setRecordTail(cardsim::Bytes(c.tail, 0xEE));
        if (c.cut) t.card.truncateNext(cardsim::MatchPrefix({0x80, 0x15, 0x10}), c.cut);
        EXPECT_EQ(RaisedCode([&] { t.pin->select(t.pin->pathUser()); }), c.code ? c.code : -1);
        EXPECT_EQ(t.pin->info().triesMax, c.code ? 0xFF : 10);
    }
}

TEST(GostPinOnCard, WithoutAPackNothingIsSent) {
    keyshelf_test::SimFamilyCard<SimGostApplet, CErrorGost, CPinGost> t;
    t.pin->select(t.pin->pathUser());
    t.card.clearLog();
    EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii("123456")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii("123456")); }), 0xFACE);
    EXPECT_TRUE(t.card.log().empty());
    EXPECT_FALSE(t.model->user().verified);
}

TEST(GostPinOnCard, WhatTheFamilyDoesNotOffer) {
    GostCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->select({}); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { t.pin->unblock(Ascii("123456")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->externalLogin(Ascii("123456")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->challengeGet(); }), 0xFACE);
    EXPECT_TRUE(t.card.log().empty());
    EXPECT_EQ(t.pin->pathGlobal(), path());
    EXPECT_EQ(t.pin->encoding(), 2);
}

}  // namespace
