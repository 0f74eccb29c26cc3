// The token: ATR recognition, the applet table, activation and facet access.
#include <gtest/gtest.h>

#include "applet_java.h"
#include "applet_zudezozud.h"
#include "scripted_sender.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

unsigned short CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const IException& e) {
        return e.code();
    }
    return 0;
}

// A transport owned by the token; the script outlives it.
struct SharedScript : ISender {
    explicit SharedScript(ScriptedSender& s) : script(s) {}
    void send(const TBytes& c, TBytes& r) override { script.send(c, r); }
    TBytes atr() override { return script.atr(); }
    ScriptedSender& script;
};

std::unique_ptr<IToken> TokenOver(ScriptedSender& script) {
    std::unique_ptr<ISender> sender(new SharedScript(script));
    auto token = IToken::create(sender);
    EXPECT_EQ(sender.get(), nullptr);
    return token;
}

}  // namespace

TEST(TokenType, RecognisesModelsByMaskedAtr) {
    struct Case {
        const char* atr;
        const TTokenType* expected;
    } cases[] = {
        {"3B 81 1F 00 CC 52", &TTokenType::TVelmoraWren},
        {"3B 81 1F 00 CC 52 00", &TTokenType::TUnknown},
        {"3B F2 18 00 7F C1 0A 31 FE 55 C8 06 AB", &TTokenType::TVelmoraKite42},
        {"3B F2 18 00 7F C1 0A 31 FE 58 C8 06 AB", &TTokenType::TUnknown},
        {"3B F2 18 00 02 C1 0A 31 FE 58 C8 09 75", &TTokenType::TVelmoraKite42b},
        {"3B D5 18 00 81 31 FE 7D 80 73 C8 21 10 F4", &TTokenType::TVelmoraJava10},
        // byte 2 and the low nibble of byte 4 (and of byte 13, and byte 14) are free for this model
        {"3B D5 77 FF 8A 91 FE 1F C3 80 73 C8 21 1F 42", &TTokenType::TMirelTessel},
        {"3B DC 18 FF 81 11 FE 80 73 C8 21 13 66 01 06 01 30 80 01 8D", &TTokenType::TMirelPellarLT},
        {"", &TTokenType::TUnknown},
    };
    for (const Case& c : cases) EXPECT_EQ(TTokenType::fromAtr(Hex(c.atr)), c.expected) << c.atr;
}

TEST(Token, NewTokenAnswersEveryFacetWithNotSupported) {
    ScriptedSender script;
    auto token = TokenOver(script);
    EXPECT_EQ(CodeOf([&] { token->fs()->select({0x3F00}); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { token->pin()->pathUser(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { token->info()->id(2); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { TokenToAdapter(token.get()).label->read(); }), 0xFACE);
}

TEST(Token, UnknownIdentifierRaisesNotSupportedAndKeepsTheCurrentApplet) {
    ScriptedSender script;
    script.expect("00 A4 04 00 0A A0 00 00 04 48 01 02 01 02 02", "90 00");
    auto token = TokenOver(script);
    token->switchToApplet(0x2203);
    IAppFS* before = token->fs();
    EXPECT_EQ(CodeOf([&] { token->selectApplet(0x3000); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { token->checkIfExist(0x3000); }), 0xFACE);
    EXPECT_EQ(token->fs(), before);
    EXPECT_EQ(script.pending(), 0u);
}

TEST(Token, UseAsAppletSendsNothing) {
    ScriptedSender script;
    auto token = TokenOver(script);
    token->useAsApplet(0x2001);
    EXPECT_TRUE(script.sent.empty());
}

TEST(Applet, ProbeCountsOnlyNineThousand) {
    struct Case {
        const char* answer;
        bool exists;
        unsigned short selectCode;  // what selectTokenApp raises for the same answer
    } cases[] = {
        {"90 00", true, 0},
        {"61 10", false, 0},  // absent for the probe, yet a success for the error facet
        {"6A 82", false, 0x6A82},
        {"90", false, 0xFFFF},
        {"", false, 0xFFFF},
    };
    const char* select = "00 A4 04 00 0A A0 00 00 04 48 01 02 01 02 02";
    for (const Case& c : cases) {
        ScriptedSender probe;
        probe.expect(select, c.answer);
        EXPECT_EQ(CAppletZudezoZud::checkIfExist(&probe), c.exists) << c.answer;
        ScriptedSender script;
        script.expect(select, c.answer);
        CAppletZudezoZud applet(&script);
        EXPECT_EQ(CodeOf([&] { applet.selectTokenApp(); }), c.selectCode) << c.answer;
    }
}

TEST(Applet, ZudezoZudOffersNoFacet) {
    ScriptedSender script;
    CAppletZudezoZud applet(&script);
    EXPECT_EQ(CodeOf([&] { applet.fs()->list(1); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.pin()->login({}); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.info()->rnd(8); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.label()->read(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.crypto()->finishHash(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.bio()->loginType(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.session()->endSession(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { applet.error()->raiseSW(0x9000); }), 0);
    EXPECT_TRUE(script.sent.empty());
}

TEST(Applet, JavaSelectRepeatsOnceWithTheLengthTheCardAsksFor) {
    const char* select = "00 A4 04 00 07 A0 00 00 03 12 02 02";
    struct Case {
        const char* first;
        const char* second;  // the repeated command, or null
        const char* answer;
        unsigned short code;
    } cases[] = {
        {"6C 10", "00 A4 04 00 07 A0 00 00 03 12 02 02 10", "90 00", 0},
        {"6A 86", "00 A4 04 00 07 A0 00 00 03 12 02 02 00", "90 00", 0},
        {"6C 10", "00 A4 04 00 07 A0 00 00 03 12 02 02 10", "6C 20", 0x6B00},  // not repeated again
        {"6A 82", nullptr, nullptr, 0x6A82},
        {"90 00", nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        ScriptedSender script;
        script.expect(select, c.first);
        if (c.second) script.expect(c.second, c.answer);
        CAppletJava applet(&script);
        EXPECT_EQ(CodeOf([&] { applet.selectTokenApp(); }), c.code) << c.first;
        EXPECT_EQ(script.pending(), 0u);

        ScriptedSender probe;
        probe.expect(select, c.first);
        if (c.second) probe.expect(c.second, c.answer);
        EXPECT_EQ(CAppletJava::checkIfExist(&probe), c.code == 0) << c.first;
    }
}
