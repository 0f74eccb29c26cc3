// The Java and Heron PIN facets and secure messaging end to end: the library's
// applets against the card simulator, which checks every protected command and
// keeps the PINs as a card does (keys only, counters, login state).
#include <gtest/gtest.h>

#include <memory>

#include "applet_heron.h"
#include "applet_java.h"
#include "apppin/pin_java.h"
#include "sim_tokens.h"
#include "test_applet.h"

using namespace libapdu;
using cardsim::CardSim;
using cardsim::SimJavaApplet;
using cardsim::SimTokenOptions;
using testing_card::RaisedCode;

namespace {

struct Case {
    const char* name;
    bool java;
    bool fips;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The simulator's factory PINs (spelt out: globals of another file are not yet
// built while these are).
const TBytes kUserPin = {'1', '2', '3', '4'};
const TBytes kAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};
const TBytes kNewPin = {'2', '4', '6', '8', '0', '!'};
const TBytes kWrongPin = {'0', '0', '0', '0'};

class PinJavaSim : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        SimTokenOptions o;
        o.fips = GetParam().fips;
        card = GetParam().java ? cardsim::MakeJavaToken(o) : cardsim::MakeHeronToken(o);
        sim = card->find<SimJavaApplet>();
        ASSERT_NE(sim, nullptr);
        ASSERT_EQ(SimJavaApplet::kDefaultUserPin, kUserPin);
        applet = fresh();
    }
    // A new applet object over the same card, as a new token session makes.
    std::unique_ptr<IApplet> fresh() {
        std::unique_ptr<IApplet> a;
        if (GetParam().java)
            a.reset(new CAppletJava(card.get()));
        else
            a.reset(new CAppletHeron(card.get()));
        a->selectTokenApp();
        a->init();
        return a;
    }
    IAppPin& pin() { return *applet->pin(); }
    // What the token module does for a login.
    void login(const TBytes& p) {
        pin().select(pin().pathUser());
        pin().login(p);
    }
    // ... and for a change of the PIN.
    void changePin(const TBytes& oldPin, const TBytes& newPin) {
        login(oldPin);
        pin().select(pin().pathUser());
        pin().change(newPin);
    }

    std::unique_ptr<CardSim> card;
    SimJavaApplet* sim = nullptr;
    std::unique_ptr<IApplet> applet;
};

TEST_P(PinJavaSim, LoginFillsTheSlotsAndTheCardCountsWrongPins) {
    EXPECT_EQ(dynamic_cast<CPinJavaFamily&>(pin()).pathUser2().size(), GetParam().fips ? 1u : 0u);
    login(kUserPin);
    EXPECT_TRUE(sim->pin(0x11)->verified);
    EXPECT_EQ(pin().info().loginState, 0xFF);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(applet->pack()->keyGet(i).size(), 24u);

    EXPECT_EQ(RaisedCode([&] { login(kWrongPin); }), 0x6300);
    EXPECT_EQ(sim->pin(0x11)->triesLeft, 9);
    pin().select(pin().pathUser());
    EXPECT_EQ(pin().info().triesLeft, 9);
    EXPECT_EQ(pin().info().triesMax, 10);

    sim->pin(0x11)->triesLeft = 1;
    EXPECT_EQ(RaisedCode([&] { login(kWrongPin); }), 0x6983);
    EXPECT_EQ(RaisedCode([&] { login(kUserPin); }), 0x6983);  // blocked stays blocked
}

TEST_P(PinJavaSim, ChangeThenLoginWithTheNewPin) {
    const size_t markers = sim->markerCount();
    changePin(kUserPin, kNewPin);
    EXPECT_TRUE(sim->pinIs(0x11, kNewPin));
    EXPECT_EQ(sim->markerCount(), markers + 1);
    EXPECT_EQ(sim->lastMarker()[0] & 0x01, 1);
    if (GetParam().fips) {
        // 1A-1E, 11-15, 1A-1E; the second user PIN ends under nobody's keys.
        EXPECT_EQ(sim->protectedCount(), 15u);
        EXPECT_FALSE(sim->pinIs(0x1A, kNewPin));
        EXPECT_FALSE(sim->pinIs(0x1A, kUserPin));
    } else {
        EXPECT_EQ(sim->protectedCount(), 0u);
    }
    EXPECT_EQ(pin().info().loginState, 0xFF);
    pin().logout();

    // A new session: the old PIN is refused, the new one accepted.
    card->reset();
    applet = fresh();
    EXPECT_EQ(RaisedCode([&] { login(kUserPin); }), 0x6300);
    login(kNewPin);
    EXPECT_TRUE(sim->pin(0x11)->verified);
}

TEST_P(PinJavaSim, ChangeWithAWrongOldPinChangesNothing) {
    EXPECT_EQ(RaisedCode([&] { changePin(kWrongPin, kNewPin); }), 0x6300);
    EXPECT_TRUE(sim->pinIs(0x11, kUserPin));
    EXPECT_EQ(sim->protectedCount(), 0u);
}

TEST_P(PinJavaSim, LogoutEmptiesTheSlots) {
    login(kUserPin);
    pin().logout();
    EXPECT_EQ(pin().info().loginState, 0);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(RaisedCode([&] { applet->pack()->keyGet(i); }), 0x6900);
    // Without keys nothing protected can be sent.
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm({0x80, 0x07, 0x00, 0x11, 0x05, 0x10, 0x03, 0x23, 0x06, 0x20, 0x00},
                                                  out); }),
              0x6900);
    EXPECT_EQ(sim->protectedCount(), 0u);
}

// The card opens a secure-messaging session on FIPS tokens only.
class PinJavaSimFips : public PinJavaSim {};
// Unblock rewrites the login key of a token without FIPS.
class PinJavaSimPlain : public PinJavaSim {};

TEST_P(PinJavaSimFips, SecureMessagingAnswerForms) {
    login(kUserPin);
    const unsigned char infoIns = GetParam().java ? 0x07 : 0x14;
    // With data: the PIN counters, read under protection.
    TBytes out;
    applet->pack()->sm({0x80, infoIns, 0x00, 0x11, 0x05, 0x10, 0x03, 0x23, 0x06, 0x20, 0x00}, out);
    EXPECT_EQ(out, (TBytes{0x23, 0x01, 0x0A, 0x06, 0x01, 0x0A, 0x20, 0x01, 0x01, 0x90, 0x00}));
    // A rejected inner command comes back as a bare status word: no such PIN.
    EXPECT_EQ(RaisedCode([&] {
                  applet->pack()->sm({0x80, infoIns, 0x00, 0x77, 0x05, 0x10, 0x03, 0x23, 0x06, 0x20, 0x00}, out);
              }),
              0x6A82);
    EXPECT_EQ(sim->protectedCount(), 2u);
}

// Passes commands to the card, spoiling one byte of every protected one.
struct TamperingSender : ISender {
    explicit TamperingSender(CardSim* c) : card(c) {}
    void send(const TBytes& command, TBytes& response) override {
        TBytes c = command;
        if (c.size() > 12 && c[0] == 0x84) c[c.size() - 3] ^= 0x01;  // inside the MAC
        card->send(c, response);
    }
    TBytes atr() override { return card->atr(); }
    CardSim* card;
};

TEST_P(PinJavaSimFips, TheCardRefusesATamperedCommand) {
    login(kUserPin);
    TamperingSender tampering(card.get());
    std::unique_ptr<IApplet> other;
    // The session and its keys are the card's and the pack's: a second applet
    // over the tampering path shares the card and takes the keys.
    if (GetParam().java)
        other.reset(new CAppletJava(&tampering));
    else
        other.reset(new CAppletHeron(&tampering));
    for (size_t i = 0; i < 5; ++i) other->pack()->keySet(i, applet->pack()->keyGet(i));
    const unsigned char infoIns = GetParam().java ? 0x07 : 0x14;
    TBytes out;
    EXPECT_EQ(RaisedCode([&] {
                  other->pack()->sm({0x80, infoIns, 0x00, 0x11, 0x05, 0x10, 0x03, 0x23, 0x06, 0x20, 0x00}, out);
              }),
              0x6900);
    EXPECT_EQ(sim->protectedCount(), 0u);
}

TEST_P(PinJavaSimFips, FipsChangeNeedsALogin) {
    pin().select(pin().pathUser());
    EXPECT_EQ(RaisedCode([&] { pin().change(kNewPin); }), 0x6900);
    EXPECT_EQ(sim->protectedCount(), 0u);
    EXPECT_TRUE(sim->pinIs(0x11, kUserPin));
}

TEST_P(PinJavaSimPlain, UnblockByTheAdmin) {
    if (!GetParam().java) {
        EXPECT_EQ(RaisedCode([&] { pin().unblock(kNewPin); }), 0xFACE);
        return;
    }
    sim->pin(0x11)->triesLeft = 0;
    EXPECT_EQ(RaisedCode([&] { login(kUserPin); }), 0x6983);
    pin().select(pin().pathAdmin());
    EXPECT_EQ(pin().info().triesLeft, 10);
    pin().login(kAdminPin);
    pin().unblock(kNewPin);
    login(kNewPin);
    EXPECT_TRUE(sim->pin(0x11)->verified);
}

INSTANTIATE_TEST_SUITE_P(Tokens, PinJavaSim,
                         ::testing::Values(Case{"Java", true, false}, Case{"JavaFips", true, true},
                                           Case{"Heron", false, false}, Case{"HeronFips", false, true}),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });
INSTANTIATE_TEST_SUITE_P(Tokens, PinJavaSimFips,
                         ::testing::Values(Case{"JavaFips", true, true}, Case{"HeronFips", false, true}),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });
INSTANTIATE_TEST_SUITE_P(Tokens, PinJavaSimPlain,
                         ::testing::Values(Case{"Java", true, false}, Case{"Heron", false, false}),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
