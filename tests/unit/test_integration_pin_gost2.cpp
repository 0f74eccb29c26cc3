// The Gost2 PIN facet against the Gost2 applet's card side: PIN 02 whatever
// the designator, its entry in the information record placed by the version.
#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppin/pin_gost2.h"
#include "sim_family_card.h"
#include "sim_gost2.h"

using namespace libapdu;
using cardsim::SimGost2Applet;
using keyshelf_test::Ascii;
using testing_card::RaisedCode;

namespace {

typedef keyshelf_test::SimFamilyCard<SimGost2Applet, CErrorGost2, CPinGost2> Gost2Card;

const char kStatus[] = "80 38 20 00 00";

TEST(Gost2PinOnCard, LoginNamesPinTwoWhateverTheDesignator) {
    for (const path& designator : {path{2}, path{1}}) {
        SCOPED_TRACE(designator.front());
        Gost2Card t;
        t.pin->select(designator);
        t.pin->login(Ascii("12345678"));
        EXPECT_EQ(t.received(),
                  (std::vector<std::string>{kStatus, "80 0A 10 00 0A 02 08 31 32 33 34 35 36 37 38"}));
        EXPECT_TRUE(t.model->user().verified);
        EXPECT_EQ(t.pin->info().loginState, 0xFF);
        t.pin->select(designator);
        EXPECT_EQ(t.pin->info().loginState, 0xFF);  // the card's flag, exactly 1
    }
}

TEST(Gost2PinOnCard, TheVersionPlacesThePinEntry) {
    struct Case {
        unsigned char version;
        unsigned char minLength;  // as the card codes it
        unsigned char failures;
    };
    const Case cases[] = {{6, 6, 0}, {6, 13, 2}, {7, 8, 1}, {9, 10, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.version));
        Gost2Card t;
        t.model->setVersion(c.version);
        t.model->setMinLength(c.minLength);
        t.model->user().failures = c.failures;
        t.pin->select(t.pin->pathUser());
        const PinInfo i = t.pin->info();
        EXPECT_EQ(i.minLength, c.minLength);
        EXPECT_EQ(i.maxLength, 32);
        EXPECT_EQ(i.triesMax, 5);
        EXPECT_EQ(i.triesLeft, 5 - c.failures);
        EXPECT_EQ(i.loginState, 0);
    }
}

TEST(Gost2PinOnCard, RecordsOfTheWrongShapeAreRefused) {
    struct Case {
        const char* name;
        unsigned char version;
        int cut;  // data bytes dropped (negative: added)
        const char* replace;  // the whole answer instead, when given
    };
    const Case cases[] = {
        {"version 7 with 32 bytes", 7, 1, nullptr},
        {"version 7 with 34 bytes", 7, -1, nullptr},
        {"version 6 with 33 bytes", 6, -1, nullptr},
        {"version 6 with 31 bytes", 6, 1, nullptr},
        {"another kind", 7, 0, "01 07 00 00 90 00"},
        {"status word only", 7, 0, "90 00"},
        {"one byte", 7, 0, "02 90 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Gost2Card t;
        t.model->setVersion(c.version);
        const auto status = cardsim::MatchPrefix({0x80, 0x38, 0x20});
        if (c.replace) t.card.replaceNext(status, testing_card::Hex(c.replace));
        if (c.cut > 0) t.card.truncateNext(status, static_cast<size_t>(c.cut));
        if (c.cut < 0) t.card.extendNext(status, static_cast<size_t>(-c.cut));
        EXPECT_EQ(RaisedCode([&] { t.pin->select(t.pin->pathUser()); }), 0x6281);
        EXPECT_EQ(t.pin->info().triesMax, 0xFF);
        EXPECT_EQ(t.pin->info().loginState, 0x10);
    }
}

TEST(Gost2PinOnCard, WrongPinsCountDownToBlocked) {
    Gost2Card t;
    t.model->user().limit = 3;
    t.pin->select(t.pin->pathUser());
    struct Step {
        const char* pin;
        unsigned short code;
        unsigned char triesAfter;
    };
    const Step steps[] = {
        {"00000000", 0x6300, 2},  // the applet's 6701
        {"12345678", 0, 3},
        {"00000000", 0x6300, 2},
        {"00000001", 0x6300, 1},
        {"00000002", 0x6300, 0},
        {"12345678", 0x6983, 0},  // the applet's 6703
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.pin);
        EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii(s.pin)); }), s.code ? s.code : -1);
        EXPECT_EQ(t.pin->info().triesLeft, s.triesAfter);
        t.pin->select(t.pin->pathUser());
        EXPECT_EQ(t.pin->info().triesLeft, s.triesAfter) << "the card counts otherwise";
    }
}

TEST(Gost2PinOnCard, LengthsOutsideTheRecordsAreRefusedBeforeSending) {
    struct Case {
        const char* pin;
        unsigned short code;
        bool sent;
    };
    const Case cases[] = {
        {"1234567", 0x6B00, false},  // one under the minimum of 8
        {"87654321", 0x6300, true},
        {"12345678901234567890123456789012", 0x6300, true},
        {"123456789012345678901234567890123", 0x6B00, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pin);
        Gost2Card t;
        t.pin->select(t.pin->pathUser());
        t.card.clearLog();
        EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii(c.pin)); }), c.code);
        EXPECT_EQ(t.card.log().size(), c.sent ? 1u : 0u);
        t.card.clearLog();
        EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii(c.pin)); }), c.sent ? 0x6283 : 0x6B00);
        EXPECT_TRUE(t.card.log().empty());
    }
}

TEST(Gost2PinOnCard, ChangeNeedsALoginAndASecondChangeWorksOnTheNewPin) {
    Gost2Card t;
    t.pin->select(t.pin->pathUser());
    t.card.clearLog();
    EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii("abcdefgh")); }), 0x6283);
    EXPECT_TRUE(t.card.log().empty());

    t.changePin(Ascii("12345678"), Ascii("abcdefgh"));
    EXPECT_EQ(t.last(), "80 0A 20 00 0A 02 08 61 62 63 64 65 66 67 68");
    EXPECT_EQ(t.model->user().value, Ascii("abcdefgh"));

    t.pin->select(t.pin->pathUser());
    t.pin->change(Ascii("hgfedcba9"));
    EXPECT_EQ(t.last(), "80 0A 20 00 0B 02 09 68 67 66 65 64 63 62 61 39");
    EXPECT_EQ(t.model->user().value, Ascii("hgfedcba9"));

    EXPECT_EQ(RaisedCode([&] { t.login(Ascii("12345678")); }), 0x6300);
    t.login(Ascii("hgfedcba9"));
}

TEST(Gost2PinOnCard, AChangeTheCardRefusesIsRaised) {
    Gost2Card t;
    t.login(Ascii("12345678"));
    // The card ended the session on its own (a reset): the facet still thinks it open.
    t.model->user().verified = false;
    EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii("abcdefgh")); }), 0x6900);  // the applet's 6705
    EXPECT_EQ(t.model->user().value, Ascii("12345678"));
}

TEST(Gost2PinOnCard, LogoutForgetsTheLoginEvenWhenRefused) {
    Gost2Card t;
    t.login(Ascii("12345678"));
    t.card.clearLog();
    t.pin->logout();
    EXPECT_EQ(t.received(), (std::vector<std::string>{"80 38 10 00"}));
    EXPECT_FALSE(t.model->user().verified);
    EXPECT_EQ(t.pin->info().loginState, 0);

    t.login(Ascii("12345678"));
    t.card.failNext(cardsim::MatchPrefix({0x80, 0x38, 0x10}), 0x6F00);
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0x6400);
    EXPECT_EQ(t.pin->info().loginState, 0);
    // And a change is refused from then on, without asking the card.
    t.card.clearLog();
    EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii("abcdefgh")); }), 0x6283);
    EXPECT_TRUE(t.card.log().empty());
}

TEST(Gost2PinOnCard, WhatTheFamilyDoesNotOffer) {
    Gost2Card t;
    EXPECT_EQ(RaisedCode([&] { t.pin->unblock(Ascii("12345678")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->externalLogin(Ascii("12345678")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->challengeGet(); }), 0xFACE);
    EXPECT_TRUE(t.card.log().empty());
    EXPECT_EQ(t.pin->pathUser(), (path{2}));
    EXPECT_EQ(t.pin->pathAdmin(), (path{1}));
    EXPECT_EQ(t.pin->pathGlobal(), path());
}

}  // namespace
