// The Kite applet against a scripted card: recognition by ATR without any
// command, the facets of each generation, and init's exact commands.
#include "appcry/cry_kite.h"
#include "appfs/fs_kite.h"
#include "applet_kite.h"
#include "apppin/pin_kite.h"
#include "info_test_support.h"

using namespace libapdu;
using infotest::H;
using infotest::RaisedCode;
using testing_card::ScriptedSender;

namespace {

const TBytes kKite16 = H("3B E2 00 FF C1 10 31 FE 55 C8 02 9C");
const TBytes kKite32 = H("3B F2 98 00 FF C1 10 31 FE 55 C8 03 15");
const TBytes kKite42 = H("3B F2 18 00 00 C1 0A 31 FE 55 C8 06 75");
const TBytes kKite42Free = H("3B F2 18 00 77 C1 0A 31 FE 55 C8 06 EE");
const TBytes kKite42b = H("3B F2 18 00 02 C1 0A 31 FE 58 C8 09 75");

TEST(KiteApplet, KnownByItsAtrAlone) {
    struct Case {
        const char* name;
        TBytes atr;
        bool kite, kite4;
    };
    const Case cases[] = {
        {"Kite16", kKite16, true, false},
        {"Kite32", kKite32, true, false},
        {"Kite42", kKite42, true, true},
        {"Kite42, other free bytes", kKite42Free, true, true},
        {"Kite42b", kKite42b, true, true},
        {"Kite42b, one byte changed", H("3B F2 18 00 03 C1 0A 31 FE 58 C8 09 75"), false, false},
        {"Wren", H("3B 81 1F 00 CC 52"), false, false},
        {"Java", H("3B D5 18 00 81 31 FE 7D 80 73 C8 21 10 F4"), false, false},
        {"no ATR", TBytes(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSender card;
        card.setAtr(c.atr);
        EXPECT_EQ(CAppletKite::checkIfExist(&card), c.kite);
        if (c.kite) {
            CAppletKite applet(&card);
            EXPECT_EQ(dynamic_cast<CFSKite4*>(applet.fs()) != nullptr, c.kite4);
            EXPECT_NE(dynamic_cast<CFSKite*>(applet.fs()), nullptr);
            EXPECT_EQ(dynamic_cast<CPinKite4*>(applet.pin()) != nullptr, c.kite4);
            EXPECT_EQ(dynamic_cast<CCryKite*>(applet.crypto()) != nullptr, !c.kite4);
            EXPECT_EQ(RaisedCode([&] { applet.bio()->loginType(); }), 0xFACE);
            EXPECT_EQ(RaisedCode([&] { applet.session()->endSession(); }), 0xFACE);
        } else {
            EXPECT_EQ(RaisedCode([&] { CAppletKite applet(&card); }), 0xFACE);
        }
        EXPECT_TRUE(card.sent.empty());
    }
    EXPECT_FALSE(CAppletKite::checkIfExist(nullptr));
    EXPECT_EQ(RaisedCode([&] { CAppletKite applet(nullptr); }), 0xFACE);
}

TEST(KiteApplet, InitAcknowledgesOnlyAStateStartingWith10) {
    struct Case {
        const char* state;
        bool acknowledged;
    };
    const Case cases[] = {
        {"10 01 02 90 00", true}, {"10 90 00", true}, {"90 00", false}, {"11 10 90 00", false}, {"61 10", false},
    };
    for (bool fips : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.state) + (fips ? " (FIPS)" : ""));
            ScriptedSender card;
            card.setAtr(kKite32);
            CAppletKite applet(&card);
            card.expect("00 A4 08 00 02 66 66 00", "90 00", 258);
            card.expect("00 CA 01 83 00", c.state, 258);
            card.expect("00 A4 00 00 00", "90 00", 258);
            if (c.acknowledged) card.expect("80 10 00 00", "90 00", 2);
            // The FIPS probe.
            card.expect("00 A4 08 00 06 66 66 50 00 00 02 00", fips ? "90 00" : "6A 82");
            applet.init();
            EXPECT_TRUE(card.done());
            EXPECT_EQ(dynamic_cast<CCryKite4Fips*>(applet.crypto()) != nullptr, fips);
            EXPECT_EQ(dynamic_cast<CCryKite4*>(applet.crypto()) != nullptr, !fips);
        }
    }
}

TEST(KiteApplet, AFailedInitStepKeepsTheCryptoFacet) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> script;
        unsigned short code;
    };
    const Case cases[] = {
        {"folder missing", {{"00 A4 08 00 02 66 66 00", "6A 82"}}, 0x6A82},
        {"GET DATA refused", {{"00 A4 08 00 02 66 66 00", "90 00"}, {"00 CA 01 83 00", "6D 00"}}, 0x6B00},
        {"acknowledgement refused",
         {{"00 A4 08 00 02 66 66 00", "90 00"}, {"00 CA 01 83 00", "10 90 00"}, {"00 A4 00 00 00", "90 00"},
          {"80 10 00 00", "69 85"}},
         0x6900},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSender card;
        card.setAtr(kKite42b);
        CAppletKite applet(&card);
        for (const auto& step : c.script) card.expect(step.first, step.second);
        EXPECT_EQ(RaisedCode([&] { applet.init(); }), c.code);
        EXPECT_TRUE(card.done());
        EXPECT_EQ(dynamic_cast<CCryKite4*>(applet.crypto()), nullptr);
        EXPECT_EQ(RaisedCode([&] { applet.crypto()->list(0); }), 0xFACE);
    }
}

}  // namespace
