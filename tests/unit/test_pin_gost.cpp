#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppack/pack_gost.h"
#include "apppin/pin_gost.h"
#include "pin_test_applet.h"

using namespace libapdu;
using namespace keyshelf_test;

namespace {

const char kStatus[] = "80 15 10 00 01 01";
const char kLogout[] = "80 15 20 00 01 01";

// Verified flag at 0, the shared try limit at 11, user failures at 12, admin failures at 13.
TBytes Record(unsigned char verified, unsigned char limit, unsigned char userFail, unsigned char adminFail,
              size_t size = 24) {
    TBytes r(size, 0xEE);
    r[0] = verified;
    r[11] = limit;
    r[12] = userFail;
    r[13] = adminFail;
    return r;
}

TBytes StatusAnswer(unsigned char verified = 0, unsigned char userFail = 1, unsigned char adminFail = 2) {
    return Concat(Record(verified, 10, userFail, adminFail), {0x90, 0x00});
}

TEST(GostStatusRecord, FailuresArePerPinAndTheLengthsFixed) {
    const PinInfo user = ParseGostPinStatus(Record(0, 10, 1, 2), false);
    EXPECT_EQ(user.triesMax, 10);
    EXPECT_EQ(user.triesLeft, 9);
    EXPECT_EQ(user.loginState, 0x00);
    EXPECT_EQ(user.minLength, 6);
    EXPECT_EQ(user.maxLength, 32);

    const PinInfo admin = ParseGostPinStatus(Record(7, 10, 1, 2, 40), true);
    EXPECT_EQ(admin.triesLeft, 8);
    EXPECT_EQ(admin.loginState, 0xFF);

    EXPECT_EQ(ParseGostPinStatus(Record(0, 3, 5, 0), false).triesLeft, 0);  // never wraps round
}

TEST(GostStatusRecord, AShortRecordIsRefused) {
    for (size_t size : {0u, 1u, 14u, 23u})
        EXPECT_EQ(RaisedCode([&] { ParseGostPinStatus(TBytes(size, 0), false); }), 0x6281) << size;
}

using GostCard = FamilyCard<CErrorGost, CPinGost, CPackGost>;

TEST(GostPin, DesignatorsAndEncoding) {
    GostCard t;
    EXPECT_EQ(t.pin->pathUser(), path{2});
    EXPECT_EQ(t.pin->pathAdmin(), path{1});
    EXPECT_TRUE(t.pin->pathGlobal().empty());
    EXPECT_EQ(t.pin->encoding(), 2);
}

TEST(GostPin, SelectTakesTheFailuresOfThePinNamed) {
    struct Case {
        path designator;
        unsigned char left;
    } cases[] = {{{1}, 8}, {{2}, 9}, {{0x3F00, 1}, 9}};  // only the exact admin designator counts as admin
    for (const Case& c : cases) {
        GostCard t;
        t.card.expect(Hex(kStatus), StatusAnswer());
        t.pin->select(c.designator);
        EXPECT_EQ(t.pin->info().triesLeft, c.left) << c.designator.size();
        EXPECT_EQ(t.card.capacities[0], 258u);
    }
}

TEST(GostPin, SelectFailures) {
    struct Case {
        const char* name;
        path designator;
        TBytes answer;  // empty: nothing may be sent
        unsigned short code;
    } cases[] = {
        {"empty designator", {}, {}, 0x6B00},
        {"short record", {2}, Concat(TBytes(23, 0), {0x90, 0x00}), 0x6281},
        {"bare status word", {2}, {0x90, 0x00}, 0x6281},
        {"file not found", {2}, {0x00, 0x12}, 0x6A82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostCard t;
        if (!c.answer.empty()) t.card.expect(Hex(kStatus), c.answer);
        EXPECT_EQ(RaisedCode([&] { t.pin->select(c.designator); }), c.code);
        EXPECT_EQ(t.pin->info().loginState, 0x10);
        EXPECT_EQ(t.pin->info().maxLength, 0);
    }
}

TEST(GostPin, LoginKeepsThePinInSlotZero) {
    GostCard t;
    IAppPack* keys = t.applet.pack();
    keys->keySet(3, {0xAA});  // left over from an earlier session
    t.card.expect(Hex(kStatus), StatusAnswer()).expect("80 10 20 00 08 01 06 31 32 33 34 35 36", "90 00");
    t.pin->select({2});
    t.pin->login({'1', '2', '3', '4', '5', '6'});
    EXPECT_EQ(keys->keyGet(0), (TBytes{'1', '2', '3', '4', '5', '6'}));
    EXPECT_EQ(RaisedCode([&] { keys->keyGet(3); }), 0x6900);
    EXPECT_EQ(t.pin->info().triesLeft, 10);
    EXPECT_EQ(t.pin->info().loginState, 0xFF);
}

TEST(GostPin, WrongAndBlockedPinsLeaveNoKeyBehind) {
    struct Case {
        const char* answer;
        unsigned short code;
    } cases[] = {{"00 A0", 0x6300}, {"00 A2", 0x6300}, {"6E A0", 0x6300}, {"00 A4", 0x6983}, {"6D A4", 0x6983}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        GostCard t;
        t.card.expect(Hex(kStatus), StatusAnswer())
            .expect("80 10 20 00 08 01 06 31 32 33 34 35 36", "90 00")
            .expect(Hex(kStatus), StatusAnswer(1))
            .expect("80 10 20 00 08 01 06 30 30 30 30 30 30", c.answer);
        t.pin->select({2});
        t.pin->login({'1', '2', '3', '4', '5', '6'});
        t.pin->select({2});
        EXPECT_EQ(RaisedCode([&] { t.pin->login({'0', '0', '0', '0', '0', '0'}); }), c.code);
        EXPECT_EQ(RaisedCode([&] { t.applet.pack()->keyGet(0); }), 0x6900);
        EXPECT_EQ(t.pin->info().triesLeft, 8);
        EXPECT_EQ(t.pin->info().loginState, 0xFF);  // as the card said before the attempt
    }
}

TEST(GostPin, PinsLongerThanThirtyTwoBytesAreRefusedBeforeAnythingIsSent) {
    GostCard t;
    t.card.expect(Hex(kStatus), StatusAnswer());
    t.pin->select({2});
    t.applet.pack()->keySet(0, {'o', 'l', 'd'});
    EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(33, '1')); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(33, '1')); }), 0x6B00);
    EXPECT_EQ(t.card.sent.size(), 1u);
    EXPECT_EQ(t.applet.pack()->keyGet(0), (TBytes{'o', 'l', 'd'}));
}

// The token module's PIN change: select, login with the old PIN, select again, change.
TEST(GostPin, ChangeSendsBothLengthsThenBothPinsAndASecondChangeUsesTheNewPin) {
    GostCard t;
    t.card.expect(Hex(kStatus), StatusAnswer())
        .expect("80 10 20 00 08 01 06 31 31 31 31 31 31", "90 00")
        .expect(Hex(kStatus), StatusAnswer(1))
        .expect("80 10 10 00 10 01 06 07 31 31 31 31 31 31 32 32 32 32 32 32 32", "90 00")
        .expect("80 10 10 00 11 01 07 07 32 32 32 32 32 32 32 33 33 33 33 33 33 33", "90 00");
    t.pin->select(t.pin->pathUser());
    t.pin->login(TBytes(6, '1'));
    t.pin->select(t.pin->pathUser());
    t.pin->change(TBytes(7, '2'));
    EXPECT_EQ(t.applet.pack()->keyGet(0), TBytes(7, '2'));
    t.pin->change(TBytes(7, '3'));
    EXPECT_EQ(t.applet.pack()->keyGet(0), TBytes(7, '3'));
}

TEST(GostPin, ARejectedChangeKeepsTheOldPin) {
    GostCard t;
    t.card.expect(Hex(kStatus), StatusAnswer())
        .expect("80 10 20 00 08 01 06 31 31 31 31 31 31", "90 00")
        .expect("80 10 10 00 0F 01 06 06 31 31 31 31 31 31 32 32 32 32 32 32", "00 13");
    t.pin->select({2});
    t.pin->login(TBytes(6, '1'));
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(6, '2')); }), 0x6B00);
    EXPECT_EQ(t.applet.pack()->keyGet(0), TBytes(6, '1'));
}

TEST(GostPin, ChangeWithoutALoginIsRefused) {
    GostCard t;
    t.card.expect(Hex(kStatus), StatusAnswer())
        .expect("80 10 20 00 08 01 06 31 31 31 31 31 31", "90 00")
        .expect(kLogout, "90 00");
    t.pin->select({2});
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(6, '2')); }), 0x6900);
    t.pin->login(TBytes(6, '1'));
    t.pin->logout();
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(6, '2')); }), 0x6900);
    EXPECT_EQ(t.card.sent.size(), 3u);
}

TEST(GostPin, LogoutTakesTheAppletsNobodyLoggedInAnswersAsSuccess) {
    struct Case {
        const char* answer;
        unsigned short code;
    } cases[] = {{"90 00", 0}, {"01 01", 0}, {"6E 01", 0}, {"6D 01", 0}, {"01 02", 0x6900}, {"6A 82", 0x6A82}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        GostCard t;
        t.card.expect(Hex(kStatus), StatusAnswer(1)).expect(kLogout, c.answer);
        t.pin->select({2});
        t.applet.pack()->keySet(0, TBytes(6, '1'));
        EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), c.code);
        EXPECT_EQ(t.pin->info().loginState, 0x00);
        // The PIN is gone whether or not the card agreed.
        EXPECT_EQ(RaisedCode([&] { t.applet.pack()->keyGet(0); }), 0x6900);
    }
}

TEST(GostPin, WithoutAPackLoginAndLogoutRaiseNotSupported) {
    FamilyCard<CErrorGost, CPinGost> t;
    t.applet.setPack(nullptr);
    t.card.expect(Hex(kStatus), StatusAnswer());
    t.pin->select({2});
    EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(6, '1')); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0xFACE);
    EXPECT_EQ(t.pin->info().loginState, 0x00);
}

}  // namespace
