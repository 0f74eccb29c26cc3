// The DataStore PIN facet against the DataStore applet's card side: the card
// keeps the PINs, counts the failures and reports them in its status record.
#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppin/pin_datastore.h"
#include "sim_datastore.h"
#include "sim_family_card.h"

using namespace libapdu;
using cardsim::SimDataStoreApplet;
using keyshelf_test::Ascii;
using testing_card::RaisedCode;

namespace {

typedef keyshelf_test::SimFamilyCard<SimDataStoreApplet, CErrorDataStore, CPinDataStore> DataStoreCard;

const char kStatus[] = "80 30 30 00 00";

struct PinCase {
    unsigned short id;        // the designator [id]
    const char* reference;    // the byte the card is sent
    const char* pin;
    unsigned short min, max;  // as personalised in the model
    unsigned char limit;
};

const PinCase kPins[] = {
    {1, "00", "1234", 4, 16, 5},
    {2, "01", "87654321", 8, 16, 3},
    {3, "02", "000000", 6, 8, 10},
};

TEST(DataStorePinOnCard, EachPinIsSelectedFromTheRecordAndVerifiedByItsReference) {
    for (const PinCase& c : kPins) {
        SCOPED_TRACE(c.id);
        DataStoreCard t;
        t.pin->select({c.id});
        PinInfo i = t.pin->info();
        EXPECT_EQ(i.minLength, c.min);
        EXPECT_EQ(i.maxLength, c.max);
        EXPECT_EQ(i.triesLeft, c.limit);
        EXPECT_EQ(i.triesMax, c.limit);
        EXPECT_EQ(i.loginState, 0);

        const TBytes pin = Ascii(c.pin);
        t.pin->login(pin);
        const std::string pinHex = testing_card::ToHex(pin);
        char head[32];
        std::snprintf(head, sizeof head, "80 10 10 00 %02zX %s %02zX ", pin.size() + 2, c.reference, pin.size());
        EXPECT_EQ(t.received(), (std::vector<std::string>{kStatus, head + pinHex}));
        EXPECT_TRUE(t.model->pin(c.id)->verified);
        EXPECT_EQ(t.pin->info().loginState, 0xFF);

        // The card's own flag, read back.
        t.pin->select({c.id});
        EXPECT_EQ(t.pin->info().loginState, 0xFF);
    }
}

TEST(DataStorePinOnCard, WrongPinsCountDownToBlockedAndTheCardAgrees) {
    DataStoreCard t;
    t.model->pin(1)->limit = 3;
    t.pin->select(t.pin->pathUser());
    // attempt, code raised, tries the facet reports, tries the card reports at the next select
    struct Step {
        const char* pin;
        unsigned short code;
        unsigned char triesAfter;
    };
    const Step steps[] = {
        {"9999", 0x6300, 2},
        {"1234", 0, 3},  // a right PIN restores every try
        {"9999", 0x6300, 2},
        {"9998", 0x6300, 1},
        {"9997", 0x6300, 0},
        {"1234", 0x6983, 0},  // blocked: even the right PIN is refused
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.pin);
        EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii(s.pin)); }), s.code ? s.code : -1);
        EXPECT_EQ(t.pin->info().triesLeft, s.triesAfter);
        t.pin->select(t.pin->pathUser());
        EXPECT_EQ(t.pin->info().triesLeft, s.triesAfter) << "the card counts otherwise";
        EXPECT_EQ(t.pin->info().loginState, s.code ? 0 : 0xFF);
    }
    EXPECT_TRUE(t.model->pin(1)->blocked());
}

TEST(DataStorePinOnCard, MoreFailuresThanTheLimitReadAsNoTriesLeft) {
    // A limit lowered below the count already made: the card holds the PIN
    // blocked, and the record must not read as 256 - 2 tries left.
    DataStoreCard t;
    t.model->pin(1)->failures = 5;
    t.model->pin(1)->limit = 3;
    t.pin->select(t.pin->pathUser());
    EXPECT_EQ(t.pin->info().triesLeft, 0);
    EXPECT_EQ(t.pin->info().triesMax, 3);
    EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii("1234")); }), 0x6983);
    EXPECT_EQ(t.pin->info().triesLeft, 0);
}

TEST(DataStorePinOnCard, AFailedLoginKeepsTheLoginStateItHad) {
    DataStoreCard t;
    t.login(Ascii("1234"));
    EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii("4321")); }), 0x6300);
    EXPECT_EQ(t.pin->info().loginState, 0xFF);
    EXPECT_EQ(t.pin->info().triesLeft, 4);
}

TEST(DataStorePinOnCard, ChangeSendsTheNewPinAndASecondChangeWorksOnTheNewOne) {
    DataStoreCard t;
    t.changePin(Ascii("1234"), Ascii("55667788"));
    EXPECT_EQ(t.last(), "80 10 20 00 0A 00 08 35 35 36 36 37 37 38 38 00");
    EXPECT_EQ(t.model->pin(1)->value, Ascii("55667788"));

    t.changePin(Ascii("55667788"), Ascii("2468"));
    EXPECT_EQ(t.last(), "80 10 20 00 06 00 04 32 34 36 38 00");
    EXPECT_EQ(t.model->pin(1)->value, Ascii("2468"));

    EXPECT_EQ(RaisedCode([&] { t.login(Ascii("1234")); }), 0x6300);
    t.login(Ascii("2468"));
}

TEST(DataStorePinOnCard, ChangeRefusals) {
    struct Case {
        const char* name;
        bool login;
        const char* fresh;
        unsigned short code;
        bool sent;
    };
    const Case cases[] = {
        {"not verified", false, "5678", 0x6900, true},       // the card's 6709
        {"shorter than the card takes", true, "567", 0x6B00, true},  // the card's 670A
        {"longer than the record says", true, "12345678901234567", 0x6B00, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataStoreCard t;
        if (c.login) t.login(Ascii("1234"));
        t.pin->select(t.pin->pathUser());
        t.card.clearLog();
        EXPECT_EQ(RaisedCode([&] { t.pin->change(Ascii(c.fresh)); }), c.code);
        EXPECT_EQ(t.card.log().size(), c.sent ? 1u : 0u);
        EXPECT_EQ(t.model->pin(1)->value, Ascii("1234"));
    }
}

TEST(DataStorePinOnCard, LengthsAreCheckedAgainstTheRecordBeforeSending) {
    DataStoreCard t;
    t.pin->select(t.pin->pathUser());
    t.card.clearLog();
    // Sixteen bytes go to the card (and are wrong); seventeen never leave.
    EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii("1234567890123456")); }), 0x6300);
    EXPECT_EQ(t.card.log().size(), 1u);
    EXPECT_EQ(RaisedCode([&] { t.pin->login(Ascii("12345678901234567")); }), 0x6B00);
    EXPECT_EQ(t.card.log().size(), 1u);

    // A card that allows more than one length byte can say: refused, nothing sent.
    t.model->pin(1)->maxLength = 0xFF;
    t.pin->select(t.pin->pathUser());
    t.card.clearLog();
    EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(0xFF, '1')); }), 0x6B00);
    EXPECT_TRUE(t.card.log().empty());
}

TEST(DataStorePinOnCard, LogoutSendsTheShortFormAndForgetsTheLoginEvenWhenRefused) {
    DataStoreCard t;
    t.login(Ascii("1234"));
    t.card.clearLog();
    t.pin->logout();
    // Built as six bytes, the transport drops the empty Lc.
    EXPECT_EQ(t.received(), (std::vector<std::string>{"80 10 30 00 00"}));
    EXPECT_FALSE(t.model->pin(1)->verified);
    EXPECT_EQ(t.pin->info().loginState, 0);

    t.login(Ascii("1234"));
    t.card.failNext(cardsim::MatchPrefix({0x80, 0x10, 0x30}), 0x6F00);
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0x6400);  // the applet's 6F00
    EXPECT_EQ(t.pin->info().loginState, 0);
}

TEST(DataStorePinOnCard, SelectOfAnUnknownOrEmptyDesignator) {
    DataStoreCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->select({4}); }), 0x6B00);
    EXPECT_EQ(t.received(), (std::vector<std::string>{kStatus}));
    const PinInfo i = t.pin->info();
    EXPECT_EQ(i.loginState, 0x10);
    EXPECT_EQ(i.triesLeft, 0xFF);
    EXPECT_EQ(i.maxLength, 0);

    t.card.clearLog();
    EXPECT_EQ(RaisedCode([&] { t.pin->select({}); }), 0x6B00);
    EXPECT_TRUE(t.card.log().empty());
}

TEST(DataStorePinOnCard, StatusRecordShapes) {
    struct Case {
        const char* name;
        size_t size;      // the record the model answers
        int cut;          // data bytes dropped (negative: added)
        unsigned short code;
    };
    const Case cases[] = {
        {"30 bytes", 30, 0, 0},
        {"34 bytes", 34, 0, 0},
        {"29 bytes", 30, 1, 0x6281},
        {"31 bytes", 30, -1, 0x6281},
        {"33 bytes", 34, 1, 0x6281},
        {"nothing", 30, 30, 0x6281},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataStoreCard t;
        t.model->setRecordSize(c.size);
        if (c.cut > 0) t.card.truncateNext(cardsim::MatchIns(0x30), static_cast<size_t>(c.cut));
        if (c.cut < 0) t.card.extendNext(cardsim::MatchIns(0x30), static_cast<size_t>(-c.cut));
        EXPECT_EQ(RaisedCode([&] { t.pin->select(t.pin->pathUser()); }), c.code ? c.code : -1);
        EXPECT_EQ(t.pin->info().triesMax, c.code ? 0xFF : 5);
    }
}

TEST(DataStorePinOnCard, WhatTheFamilyDoesNotOffer) {
    DataStoreCard t;
    t.pin->select(t.pin->pathUser());
    t.card.clearLog();
    EXPECT_EQ(RaisedCode([&] { t.pin->unblock(Ascii("1234")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->externalLogin(Ascii("1234")); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->challengeGet(); }), 0xFACE);
    EXPECT_TRUE(t.card.log().empty());
    EXPECT_EQ(t.pin->encoding(), 2);
    EXPECT_EQ(t.pin->pathAdmin(), (path{2}));
    EXPECT_EQ(t.pin->pathGlobal(), (path{3}));
}

}  // namespace
