#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppin/pin_wren.h"
#include "pin_test_applet.h"

using namespace libapdu;
using namespace keyshelf_test;

namespace {

// The Wren applet answers its status word low byte first: 00 90 is success.
const char kOk[] = "00 90";
const char kLogout[] = "00 DC 00 00 01 00";

using WrenCard = FamilyCard<CErrorWren, CPinWren>;

TEST(WrenPin, OneUserPinAndAConstantRecord) {
    WrenCard t;
    EXPECT_EQ(t.pin->pathUser(), path{1});
    EXPECT_TRUE(t.pin->pathAdmin().empty());
    EXPECT_TRUE(t.pin->pathGlobal().empty());
    EXPECT_EQ(t.pin->encoding(), 2);
    const PinInfo p = t.pin->info();
    EXPECT_EQ(p.minLength, 4);
    EXPECT_EQ(p.maxLength, 16);
    EXPECT_EQ(p.triesLeft, 0xFF);
    EXPECT_EQ(p.triesMax, 0xFF);
    EXPECT_EQ(p.loginState, 0x10);
}

TEST(WrenPin, OnlyTheUserPinCanBeSelectedAndNothingIsSent) {
    WrenCard t;
    t.pin->select({1});
    for (const path& other : {path{}, path{2}, path{0}, path{0x3F00, 1}, path{1, 1}})
        EXPECT_EQ(RaisedCode([&] { t.pin->select(other); }), 0x6A82) << other.size();
    EXPECT_TRUE(t.card.sent.empty());
}

TEST(WrenPin, LoginAnswers) {
    struct Case {
        const char* answer;
        unsigned short code;
    } cases[] = {{kOk, 0}, {"82 69", 0x6300}, {"16 64", 0x6300}, {"C1 63", 0x6300}, {"83 69", 0x6983},
                 {"86 6F", 0x6A82}, {"90 00", 0xFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        WrenCard t;
        t.card.expect("00 20 00 00 05 04 31 32 33 34", c.answer);
        t.pin->select({1});
        EXPECT_EQ(RaisedCode([&] { t.pin->login({'1', '2', '3', '4'}); }), c.code);
    }
}

TEST(WrenPin, ChangeIsAlwaysFollowedByALogout) {
    struct Case {
        const char* changeAnswer;
        const char* logoutAnswer;
        unsigned short code;
    } cases[] = {
        {kOk, kOk, 0},
        {"16 64", kOk, 0x6300},
        {"82 69", kOk, 0x6900},   // only the applet's own wrong-PIN word is a wrong PIN here
        {"83 69", kOk, 0x6983},
        {kOk, "82 69", 0x6900},   // the logout's own failure is what the caller hears
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changeAnswer);
        WrenCard t;
        t.card.expect("00 D4 00 00 06 05 35 36 37 38 39", c.changeAnswer).expect(kLogout, c.logoutAnswer);
        EXPECT_EQ(RaisedCode([&] { t.pin->change({'5', '6', '7', '8', '9'}); }), c.code);
    }
}

TEST(WrenPin, LogoutAnswers) {
    for (const char* answer : {kOk, "00 61"}) {
        WrenCard t;
        t.card.expect(kLogout, answer);
        t.pin->logout();
    }
    WrenCard t;
    t.card.expect(kLogout, "85 69");
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0x6900);
}

TEST(WrenPin, APinTooLongForTheLengthByteIsRefusedBeforeAnythingIsSent) {
    WrenCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(255, '1')); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(255, '1')); }), 0x6B00);
    EXPECT_TRUE(t.card.sent.empty());
    t.card.expect(Concat(Hex("00 20 00 00 FF FE"), TBytes(254, '1')), Hex(kOk));
    t.pin->login(TBytes(254, '1'));
}

TEST(WrenPin, UnsupportedOperations) {
    WrenCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->unblock({'1'}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->externalLogin({'1'}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->challengeGet(); }), 0xFACE);
}

}  // namespace
