// The Gost and Gost2 applets: selection by AID, the record their init asks
// for, and the facets each installs.
#include <gtest/gtest.h>

#include "appcry/cry_gost2.h"

#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kSelectGost[] = "00 A4 04 00 0A A0 00 00 04 48 01 01 01 06 02";
const char kSelectGost2[] = "00 A4 04 00 08 A0 00 00 04 48 00 01 01";

struct SharedScript : ISender {
    explicit SharedScript(ScriptedSender& s) : script(s) {}
    void send(const TBytes& c, TBytes& r) override { script.send(c, r); }
    TBytes atr() override { return script.atr(); }
    ScriptedSender& script;
};

std::unique_ptr<IToken> TokenOver(ScriptedSender& script) {
    std::unique_ptr<ISender> sender(new SharedScript(script));
    return IToken::create(sender);
}

TEST(GostApplet, InitWantsSixteenBytesOfStatus) {
    struct Case {
        size_t dataBytes;
        unsigned short code;
    };
    for (const Case& c : {Case{14, 0}, Case{13, 0x6400}, Case{0, 0x6400}}) {
        SCOPED_TRACE(c.dataBytes);
        ScriptedSender s;
        s.expect(kSelectGost, "90 00");
        s.expect(Hex("80 15 10 00 01 01"), Concat(TBytes(c.dataBytes, 0x01), Hex("90 00")), 258);
        auto token = TokenOver(s);
        EXPECT_EQ(CodeOf([&] { token->selectApplet(0x2202); }), c.code);
        EXPECT_TRUE(s.done());
    }
    ScriptedSender s;
    s.expect(kSelectGost, "90 00");
    s.expect("80 15 10 00 01 01", "6D 82");
    auto token = TokenOver(s);
    EXPECT_EQ(CodeOf([&] { token->selectApplet(0x2202); }), 0x6A82);
}

TEST(Gost2Applet, InitChecksTheRecordOfItsVersion) {
    struct Case {
        TBytes data;
        unsigned short code;
    };
    const Case cases[] = {
        {Concat(Hex("02 07"), TBytes(31, 0)), 0},      {Concat(Hex("02 07"), TBytes(30, 0)), 0x6281},
        {Concat(Hex("02 06"), TBytes(30, 0)), 0},      {Concat(Hex("02 06"), TBytes(29, 0)), 0x6281},
        {Hex("01"), 0},                                {Concat(Hex("01 07"), TBytes(3, 0)), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_card::ToHex(c.data));
        ScriptedSender s;
        s.expect(kSelectGost2, "90 00");
        s.expect(Hex("80 38 20 00 00"), Concat(c.data, Hex("90 00")), 35);
        auto token = TokenOver(s);
        EXPECT_EQ(CodeOf([&] { token->selectApplet(0x2206); }), c.code);
        EXPECT_TRUE(s.done());
    }
}

TEST(GostApplets, FacetsOfEachFamily) {
    ScriptedSender s;
    s.expect(kSelectGost, "90 00");
    s.expect(kSelectGost2, "90 00");
    auto token = TokenOver(s);
    token->switchToApplet(0x2202);
    EXPECT_EQ(CodeOf([&] { token->session()->endSession(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { token->crypto()->list(1); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { token->bio(); }), 0);
    EXPECT_EQ(token->label()->encoding(), 2);

    token->switchToApplet(0x2206);
    token->session()->endSession();  // the applet's own session facet: nothing open, nothing sent
    // Gost2 keeps its keys behind its own crypto facet; Gost has none.
    EXPECT_NE(dynamic_cast<CCryGost2*>(token->crypto()), nullptr);
    EXPECT_EQ(token->label()->encoding(), 2);
    EXPECT_TRUE(s.done());
}

}  // namespace
