// The PIN facets of the Java and Heron applets over a scripted card; the FIPS
// change runs against the OpenSSL secure-messaging peer.
#include <gtest/gtest.h>

#include <memory>

#include "appfs/fs_heron.h"
#include "appfs/fs_java.h"
#include "apperror/apperror.h"
#include "apppack/pack_heron.h"
#include "apppack/pack_java.h"
#include "apppin/pin_heron.h"
#include "apppin/pin_java.h"
#include "java_card_peer.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::JavaCardPeer;
using testing_card::JavaKey;
using testing_card::JavaKeys;
using testing_card::PinKey24;
using testing_card::ProtectedStep;
using testing_card::RaisedCode;
using testing_card::TdesBlock;
using testing_card::ToHex;

namespace {

// The information facet's answer is all the PIN facet asks of it.
struct FakeInfo : IAppInfo {
    bool fips = false;
    bool isFips() override { return fips; }
};

template <class FS, class Error, class Pack, class Pin> struct PinApplet : IApplet {
    explicit PinApplet(ISender* s) : IApplet(s) {
        setError(new Error);
        setFs(new FS(this));
        setInfo(new FakeInfo);
        setPack(new Pack(this));
        setPin(new Pin(this));
    }
};

struct Family {
    const char* name;
    bool java;
    IApplet* (*make)(ISender*);
    const char* select;  // class and instruction of the file selection
    const char* read;    // ... of a file read
    unsigned char infoIns, challengeIns, loginIns, changeIns, markerIns;
};
void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

const Family kJava = {"Java", true,
                      [](ISender* s) -> IApplet* { return new PinApplet<CFSJava, CErrorJava, CPackJava, CPinJava>(s); },
                      "00 A4", "80 18", 0x07, 0x17, 0x11, 0x0F, 0x1B};
const Family kHeron = {
    "Heron", false,
    [](ISender* s) -> IApplet* { return new PinApplet<CFSHeron, CErrorHeron, CPackHeron, CPinHeron>(s); },
    "80 03", "80 1C", 0x14, 0x12, 0x10, 0x18, 0x1D};

std::string H(unsigned char b) {
    char s[4];
    std::snprintf(s, sizeof s, "%02X", b);
    return s;
}

const TBytes kSalt = Hex("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13");
const TBytes kOldPin = {'1', '2', '3', '4'};
const TBytes kNewPin = {'5', '6', '7', '8', '9'};
const TBytes kChallenge = Hex("C1 C2 C3 C4 C5 C6 C7 C8");
const char kCounters[] = "23 01 05 06 01 0A 20 01 00 90 00";  // 5 of 10 tries left, not logged in

bool SamePinInfo(const PinInfo& a, const PinInfo& b) {
    return a.minLength == b.minLength && a.maxLength == b.maxLength && a.triesLeft == b.triesLeft &&
           a.triesMax == b.triesMax && a.loginState == b.loginState;
}
std::string Show(const PinInfo& p) {
    char s[64];
    std::snprintf(s, sizeof s, "{%u, %u, %02X, %02X, %X}", p.minLength, p.maxLength, p.triesLeft, p.triesMax,
                  p.loginState);
    return s;
}
PinInfo Info(unsigned short mn, unsigned short mx, unsigned char left, unsigned char max, unsigned short state) {
    PinInfo p;
    p.minLength = mn;
    p.maxLength = mx;
    p.triesLeft = left;
    p.triesMax = max;
    p.loginState = state;
    return p;
}

class PinJavaFamily : public ::testing::TestWithParam<Family> {
protected:
    PinJavaFamily() : card(GetParam().challengeIns), applet(GetParam().make(&card)) {}
    void TearDown() override { EXPECT_EQ(card.unconsumed(), 0u) << "scripted commands left unsent"; }

    const Family& F() const { return GetParam(); }
    CPinJavaFamily& pin() { return dynamic_cast<CPinJavaFamily&>(*applet->pin()); }
    void setFips(bool on) { dynamic_cast<FakeInfo&>(*applet->info()).fips = on; }

    void expectSelectDf() { card.expect(std::string(F().select) + " 08 04 04 66 66 50 00 00", "01 01 01 90 00"); }
    void expectSalt() {
        card.expect(std::string(F().select) + " 08 04 06 66 66 50 00 00 0F 00", "01 01 02 03 02 00 14 90 00");
        card.expect(Hex(std::string(F().read) + " 00 00 04 0E 02 00 00 14"), Concat(kSalt, Hex("90 00")));
    }
    void expectInfo(unsigned char p2, const std::string& answer) {
        card.expect("80 " + H(F().infoIns) + " 00 " + H(p2) + " 05 10 03 23 06 20 00", answer);
    }
    void selectUser(const std::string& answer = kCounters) {
        expectSelectDf();
        expectInfo(0x11, answer);
        pin().select({0x11});
    }
    void expectChallenge() { card.expect(Hex("80 " + H(F().challengeIns) + " 00 00 08"), Concat(kChallenge, Hex("90 00"))); }
    void expectLoginCommand(unsigned char ref, const TBytes& key, const std::string& answer = "90 00") {
        card.expect(Concat(Hex("80 " + H(F().loginIns) + " 00 " + H(ref) + " 0A 10 08"), TdesBlock(key, kChallenge)),
                    Hex(answer));
    }
    // A login with a key from the salt: salt, challenge, the PIN folder where the
    // family selects it, then the answer to the challenge.
    void expectSaltLogin(unsigned char ref, const TBytes& key, bool folder, const std::string& answer = "90 00") {
        expectSalt();
        expectChallenge();
        if (folder) expectSelectDf();
        expectLoginCommand(ref, key, answer);
    }
    void expectMarker() { card.expectPrefix("80 " + H(F().markerIns) + " 00 00 12 10 10", 23, "90 00"); }
    void checkMarkerSent() {
        ASSERT_FALSE(card.sent.empty());
        const TBytes& m = card.sent.back();
        ASSERT_EQ(m.size(), 23u);
        EXPECT_EQ(m[7] & 0x01, 1) << "the marker's first byte is odd";
    }
    TBytes keyChangeCommand(unsigned char ins, unsigned char ref, const TBytes& key) {
        return Concat(Hex("80 " + H(ins) + " 00 " + H(ref) + " 1A 10 18"), key);
    }
    void expectSlots(const std::vector<TBytes>& keys) {
        for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(ToHex(applet->pack()->keyGet(i)), ToHex(keys[i])) << i;
    }

    JavaCardPeer card;
    std::unique_ptr<IApplet> applet;
};

TEST_P(PinJavaFamily, DesignatorsAndConstants) {
    EXPECT_TRUE(SamePinInfo(pin().info(), Info(0, 0, 0xFF, 0xFF, 0x10))) << Show(pin().info());
    EXPECT_EQ(pin().encoding(), 3);
    EXPECT_EQ(pin().pathUser(), path({0x11}));
    EXPECT_EQ(pin().pathUser(), path({0x11}));  // filled once, not doubled
    EXPECT_EQ(pin().pathAdmin(), path({0x21}));
    EXPECT_EQ(pin().pathGlobal(), path({0xFE}));
    EXPECT_TRUE(pin().pathUser2().empty());
    EXPECT_EQ(RaisedCode([&] { pin().externalLogin(kOldPin); }), 0xFACE);
    EXPECT_TRUE(card.sent.empty());
}

TEST_P(PinJavaFamily, FipsTokenHasASecondUserPin) {
    setFips(true);
    EXPECT_EQ(pin().pathUser2(), path({0x1A}));
    EXPECT_EQ(pin().pathUser(), path({0x11}));
}

// The counters of the user PIN, read from the escaped-length TLV answer.
TEST_P(PinJavaFamily, UserPinCounters) {
    struct InfoCase {
        const char* answer;
        long code;
        PinInfo want;
    };
    const InfoCase cases[] = {
        {"23 01 05 06 01 0A 20 01 00 90 00", -1, Info(4, 16, 5, 10, 0)},
        {"20 02 00 01 06 01 0A 23 01 05 90 00", -1, Info(4, 16, 5, 10, 0xFF)},  // any order
        {"23 01 03 06 01 40 20 01 00 90 00", -1, Info(4, 16, 3, 0x7F, 0)},      // low bits 0: 127
        {"23 01 03 06 00 20 01 00 90 00", -1, Info(4, 16, 3, 0x7F, 0)},         // empty limit: 127
        {"23 01 03 06 05 01 02 03 04 05 20 01 00 90 00", -1, Info(4, 16, 3, 4, 0)},  // fifth byte unused
        {"23 05 00 00 00 07 09 06 01 0A 20 01 00 90 00", -1, Info(4, 16, 7, 10, 0)},
        {"23 00 06 01 0A 20 05 00 00 00 00 01 90 00", -1, Info(4, 16, 0, 10, 0)},
        {"41 FF 00 03 AA BB CC 23 01 05 06 01 0A 20 01 00 90 00", -1, Info(4, 16, 5, 10, 0)},
        {"23 01 05 06 01 0A 90 00", 0x6281, Info(0, 0, 5, 10, 0x10)},       // no login state
        {"90 00", 0x6281, Info(0, 0, 0xFF, 0xFF, 0x10)},                    // empty
        {"00 01 05 23 01 05 90 00", 0x6281, Info(0, 0, 0xFF, 0xFF, 0x10)},  // invalid tag first
        {"23 01 05 06 05 0A 90 00", 0x6281, Info(0, 0, 5, 0xFF, 0x10)},     // limit runs past the data
        {"6A 82", 0x6A82, Info(0, 0, 0xFF, 0xFF, 0x10)},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.answer);
        expectSelectDf();
        expectInfo(0x11, c.answer);
        EXPECT_EQ(RaisedCode([&] { pin().select({0x11}); }), c.code);
        EXPECT_TRUE(SamePinInfo(pin().info(), c.want)) << Show(pin().info());
    }
}

TEST_P(PinJavaFamily, DesignatorsWithoutCounters) {
    // Counters of the global and the second user PIN are never asked; nor the
    // Heron admin PIN's.
    std::vector<path> quiet = {{0xFE}, {0x1A}, {0x33}};
    if (!F().java) quiet.push_back({0x21});
    for (const path& p : quiet) {
        pin().select(p);
        EXPECT_TRUE(SamePinInfo(pin().info(), Info(4, 16, 0xFF, 0xFF, 0x10))) << Show(pin().info());
    }
    // An empty designator names no PIN: refused, nothing sent.
    EXPECT_EQ(RaisedCode([&] { pin().select({}); }), 0x6B00);
    EXPECT_TRUE(card.sent.empty());
}

TEST_P(PinJavaFamily, LoginAnswersTheChallengeWithTheSaltKey) {
    struct LoginCase {
        bool fips;
        const char* answer;
        long code;
        unsigned char triesLeft;
        unsigned short state;
    };
    const LoginCase cases[] = {
        {false, "90 00", -1, 10, 0xFF},
        {true, "90 00", -1, 10, 0xFF},
        {false, "63 C4", 0x6300, 4, 0},
        {true, "69 83", 0x6983, 4, 0},
    };
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(std::string(c.fips ? "FIPS " : "") + c.answer);
        card.sent.clear();
        setFips(c.fips);
        selectUser();
        // FIPS tokens log in with slot 0; slots 1 to 4 are the session keys.
        expectSaltLogin(0x11, JavaKey(c.fips ? 0 : 3, kOldPin, kSalt), true, c.answer);
        EXPECT_EQ(RaisedCode([&] { pin().login(kOldPin); }), c.code);
        EXPECT_EQ(pin().info().triesLeft, c.triesLeft);
        EXPECT_EQ(pin().info().loginState, c.state);
        // The slots hold the presented PIN's keys either way.
        expectSlots(JavaKeys(kOldPin, kSalt));
    }
}

TEST_P(PinJavaFamily, LoginBeforeAnySelectUsesTheUserReference) {
    expectSaltLogin(0x11, JavaKey(3, kOldPin, kSalt), !F().java, "63 C2");
    EXPECT_EQ(RaisedCode([&] { pin().login(kOldPin); }), 0x6300);
    // The count was never read: it stays unknown instead of becoming 254.
    EXPECT_EQ(pin().info().triesLeft, 0xFF);
    expectSaltLogin(0x11, JavaKey(3, kOldPin, kSalt), !F().java);
    pin().login(kOldPin);
    EXPECT_EQ(pin().info().loginState, 0xFF);
}

TEST_P(PinJavaFamily, FailedLoginCountsDownToZero) {
    selectUser("23 01 00 06 01 0A 20 01 00 90 00");
    expectSaltLogin(0x11, JavaKey(3, kOldPin, kSalt), true, "69 83");
    EXPECT_EQ(RaisedCode([&] { pin().login(kOldPin); }), 0x6983);
    EXPECT_EQ(pin().info().triesLeft, 0);
}

TEST_P(PinJavaFamily, UnreadableSaltLeavesNoKeys) {
    applet->pack()->keySet(0, Hex("AA"));
    selectUser();
    card.expect(std::string(F().select) + " 08 04 06 66 66 50 00 00 0F 00", "6A 82");
    EXPECT_EQ(RaisedCode([&] { pin().login(kOldPin); }), 0x6A82);
    EXPECT_EQ(RaisedCode([&] { applet->pack()->keyGet(0); }), 0x6900);
}

TEST_P(PinJavaFamily, AdminPin) {
    applet->pack()->keySet(0, Hex("AA BB"));
    if (F().java) {
        // Kept in 3F00/6666 and keyed by the PIN alone; the slots stay as they were.
        card.expect("00 A4 08 04 02 66 66 00", "01 01 01 90 00");
        expectInfo(0x21, kCounters);
        pin().select({0x21});
        EXPECT_TRUE(SamePinInfo(pin().info(), Info(4, 16, 5, 10, 0)));
        expectChallenge();
        card.expect("00 A4 08 04 02 66 66 00", "01 01 01 90 00");  // after the challenge
        expectLoginCommand(0x21, PinKey24(kOldPin));
        pin().login(kOldPin);
        EXPECT_EQ(ToHex(applet->pack()->keyGet(0)), "AA BB");

        card.expect(keyChangeCommand(0x0F, 0x21, PinKey24(kNewPin)), Hex("90 00"));
        expectMarker();
        pin().change(kNewPin);
        checkMarkerSent();
        EXPECT_EQ(ToHex(applet->pack()->keyGet(0)), "AA BB");
    } else {
        pin().select({0x21});
        expectSaltLogin(0x21, JavaKey(3, kOldPin, kSalt), true);
        pin().login(kOldPin);
        expectSlots(JavaKeys(kOldPin, kSalt));
    }
}

TEST_P(PinJavaFamily, GlobalPinLoginSelectsNoFolderOnJava) {
    pin().select({0xFE});
    expectSaltLogin(0xFE, JavaKey(3, kOldPin, kSalt), !F().java);
    pin().login(kOldPin);
    EXPECT_EQ(pin().info().loginState, 0xFF);
}

TEST_P(PinJavaFamily, ChangeWithoutFips) {
    selectUser();
    expectSalt();
    if (!F().java) expectSelectDf();
    card.expect(keyChangeCommand(F().changeIns, 0x11, JavaKey(3, kNewPin, kSalt)), Hex("90 00"));
    expectMarker();
    pin().change(kNewPin);
    checkMarkerSent();
    expectSlots(JavaKeys(kNewPin, kSalt));

    // A refused change sends no marker.
    expectSalt();
    if (!F().java) expectSelectDf();
    card.expect(keyChangeCommand(F().changeIns, 0x11, JavaKey(3, kOldPin, kSalt)), Hex("69 82"));
    EXPECT_EQ(RaisedCode([&] { pin().change(kOldPin); }), 0x6900);
}

TEST_P(PinJavaFamily, Unblock) {
    if (!F().java) {
        EXPECT_EQ(RaisedCode([&] { pin().unblock(kNewPin); }), 0xFACE);
        EXPECT_TRUE(card.sent.empty());
        return;
    }
    // Always the user PIN, whatever is selected.
    pin().select({0xFE});
    expectSalt();
    card.expect(keyChangeCommand(0x13, 0x11, JavaKey(3, kNewPin, kSalt)), Hex("90 00"));
    expectMarker();
    pin().unblock(kNewPin);
    checkMarkerSent();
    EXPECT_TRUE(SamePinInfo(pin().info(), Info(4, 16, 0xFF, 0xFF, 0x10)));
}

TEST_P(PinJavaFamily, LogoutClearsTheSlotsEvenWhenItsSelectionFails) {
    for (const char* answer : {"90 00", "6A 82"}) {
        SCOPED_TRACE(answer);
        applet->pack()->keySet(2, Hex("01 02"));
        selectUser("23 01 05 06 01 0A 20 01 01 90 00");
        ASSERT_EQ(pin().info().loginState, 0xFF);
        card.expect(std::string(F().select) + " 00 04 00", answer);
        EXPECT_EQ(RaisedCode([&] { pin().logout(); }), std::string(answer) == "90 00" ? -1 : 0x6A82);
        EXPECT_EQ(pin().info().loginState, 0);
        EXPECT_EQ(RaisedCode([&] { applet->pack()->keyGet(2); }), 0x6900);
    }
}

// The FIPS change: the new PIN's keys go to 1A-1E under the current login, to
// 11-15 under the second user PIN's session, and 1A-1E are spoiled with keys of
// a random value under the new user session.
TEST_P(PinJavaFamily, FipsChangeThroughTheSecondUserPin) {
    setFips(true);
    const auto oldKeys = JavaKeys(kOldPin, kSalt);
    const auto newKeys = JavaKeys(kNewPin, kSalt);
    selectUser();
    expectSaltLogin(0x11, oldKeys[0], true);
    pin().login(kOldPin);
    selectUser("23 01 0A 06 01 0A 20 01 01 90 00");

    auto protectedChange = [&](unsigned char ref, const TBytes& key, const std::vector<TBytes>& session,
                               bool unknownKey) {
        ProtectedStep p;
        p.inner = keyChangeCommand(F().changeIns, ref, key);
        p.keys = session;
        p.form = ProtectedStep::kNoData;
        p.innerDataPrefix = unknownKey;
        p.innerPrefixSize = 2;
        card.expectProtected(p);
    };
    expectSalt();  // the new PIN's keys
    expectSelectDf();
    for (unsigned char i = 0; i < 5; ++i) protectedChange(0x1A + i, newKeys[i], oldKeys, false);
    expectSaltLogin(0x1A, newKeys[0], !F().java);  // login on 1A with the new PIN
    expectSelectDf();
    for (unsigned char i = 0; i < 5; ++i) protectedChange(0x11 + i, newKeys[i], newKeys, false);
    expectSalt();  // the keys of the random value
    expectSelectDf();
    expectInfo(0x11, kCounters);
    expectSaltLogin(0x11, newKeys[0], true);
    expectSelectDf();
    for (unsigned char i = 0; i < 5; ++i) protectedChange(0x1A + i, TBytes(24, 0), newKeys, true);
    expectMarker();

    pin().change(kNewPin);
    checkMarkerSent();

    // Logged in on the user PIN with the new PIN's keys.
    EXPECT_EQ(pin().info().loginState, 0xFF);
    expectSlots(newKeys);
    // The spoiling keys: five fresh 24-byte keys, none of the new PIN's.
    ASSERT_EQ(card.plaintexts.size(), 15u);
    for (size_t i = 10; i < 15; ++i) {
        const TBytes key(card.plaintexts[i].begin() + 2, card.plaintexts[i].end());
        EXPECT_EQ(key.size(), 24u);
        for (const TBytes& k : newKeys) EXPECT_NE(ToHex(key), ToHex(k));
    }
}

TEST_P(PinJavaFamily, FipsChangeWithoutLoginSendsNothingProtected) {
    setFips(true);
    selectUser();
    expectSalt();
    expectSelectDf();
    // The challenge goes out; the protected command cannot be built.
    card.expect(Hex("80 " + H(F().challengeIns) + " 01 00 08"), Concat(kChallenge, Hex("90 00")));
    EXPECT_EQ(RaisedCode([&] { pin().change(kNewPin); }), 0x6900);
}

TEST_P(PinJavaFamily, FipsChangeRefusedByTheCard) {
    setFips(true);
    const auto oldKeys = JavaKeys(kOldPin, kSalt);
    for (size_t i = 0; i < 5; ++i) applet->pack()->keySet(i, oldKeys[i]);
    selectUser();
    expectSalt();
    expectSelectDf();
    ProtectedStep p;
    p.inner = keyChangeCommand(F().changeIns, 0x1A, JavaKey(0, kNewPin, kSalt));
    p.keys = oldKeys;
    p.form = ProtectedStep::kNoData;
    p.sw = Hex("69 82");
    card.expectProtected(p);
    EXPECT_EQ(RaisedCode([&] { pin().change(kNewPin); }), 0x6900);
    // The session keys of the current login are back in place.
    expectSlots(oldKeys);
}

INSTANTIATE_TEST_SUITE_P(Families, PinJavaFamily, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

}  // namespace
