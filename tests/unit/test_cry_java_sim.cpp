// Keys and certificates on simulated Java and Heron tokens, through the token
// the library opens: discovery, selection, and deciphering what OpenSSL
// encrypted for the card's keys, plain and, on FIPS tokens, under secure
// messaging; then the card's answers broken one way after another.
#include <gtest/gtest.h>

#include "cry_test_support.h"
#include "sim_rsa.h"
#include "sim_token_fixture.h"

using namespace libapdu;
using cry_test::Outcome;
using sim_token::Family;
using sim_token::SimToken;
using testing_card::Hex;

namespace {

struct Case {
    const Family* family;
    bool fips;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.family->name << (c.fips ? " FIPS" : ""); }

const path kObjects = {0x3F00, 0x6666, 0x5000, 0x0220};
path Object(unsigned short fid) {
    path p = kObjects;
    p.push_back(fid);
    return p;
}

// A descriptor naming the object `name` (the third field), after the six-byte
// header that key descriptors carry.
TBytes Descriptor(const std::string& name, bool key) {
    TBytes d = key ? Hex("80 01 02 03 04 05") : TBytes();
    d.insert(d.end(), {0x01, 0xAA, 0x02, 0xBB, 0xCC, static_cast<unsigned char>(name.size())});
    d.insert(d.end(), name.begin(), name.end());
    return d;
}

class CryJavaSim : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        cardsim::SimTokenOptions o;
        o.fips = GetParam().fips;
        t = sim_token::OpenSimToken(*GetParam().family, o);
        small = cardsim::SharedRsaKey(1024);
        large = cardsim::SharedRsaKey(2048);
        t.applet->addKeyObject(0x3001, Descriptor("small", true), small);
        t.applet->addCertificateObject(0x1001, Descriptor("small", false), cardsim::MakeCertificate(small, 3, "small"));
        t.applet->addKeyObject(0x3002, Descriptor("large", true), large);
        t.applet->addCertificateObject(0x1002, Descriptor("large", false), cardsim::MakeCertificate(large, 1, "large"));
    }
    IAppCrypto& cry() { return *t.token->crypto(); }
    void login() {
        t.token->pin()->select(t.token->pin()->pathUser());
        t.token->pin()->login(Hex("31 32 33 34"));
    }
    bool java() const { return GetParam().family->java; }
    // Commands with this CLA INS P1 P2 that the card saw.
    size_t seen(const TBytes& head) const {
        size_t n = 0;
        for (const auto& e : t.card->log())
            if (e.command.size() >= head.size() && std::equal(head.begin(), head.end(), e.command.begin())) ++n;
        return n;
    }
    TBytes keyInfoHead() const { return java() ? Hex("80 07 00 31") : Hex("80 14 00 31"); }
    TBytes decipherHead() const { return java() ? Hex("80 0C 03 31") : Hex("80 19 03 31"); }

    SimToken t;
    cardsim::SimRsaKey small, large;
};

TEST_P(CryJavaSim, ListsSelectsAndDeciphersWithBothKeySizes) {
    EXPECT_EQ(cry().list(0), (std::vector<path>{Object(0x3001), Object(0x3002)}));
    const CProviderInfo p = cry().provider(0x1001);
    EXPECT_EQ(p.keySizes, (std::vector<unsigned short>{128, 256}));
    login();
    struct Key {
        unsigned short fid;
        cardsim::SimRsaKey key;
        unsigned short length;
    } keys[] = {{0x3001, small, 128}, {0x3002, large, 256}};
    for (const Key& k : keys) {
        SCOPED_TRACE(k.length);
        cry().select(Object(k.fid));
        const CCryptoInfo info = cry().info();
        EXPECT_EQ(info.keyLength, k.length);
        EXPECT_EQ(info.privateKey.size(), k.length);
        EXPECT_EQ(info.modulus, cardsim::RsaModulus(k.key));
        EXPECT_EQ(info.pinReference, 0x11);
        EXPECT_EQ(info.flags, java() ? 2 : 3);
        EXPECT_EQ(info.keyPart1, java() ? cardsim::RsaModulus(k.key) : TBytes());
        const TBytes secret = Hex("0B AD CA FE 00 11 22 33 44 55 66 77 88 99");
        const size_t protectedBefore = t.applet->protectedCount();
        EXPECT_EQ(cry().decrypt(cardsim::RsaEncrypt(k.key, secret)), secret);
        EXPECT_EQ(t.applet->protectedCount() - protectedBefore, GetParam().fips ? 1u : 0u);
    }
    EXPECT_EQ(t.applet->decipherCount(), 2u);
    // The key commands themselves never travel under secure messaging.
    EXPECT_EQ(seen(keyInfoHead()), 2u);
    EXPECT_EQ(seen(Hex("80 08 00 31")), java() ? 2u : 0u);
    EXPECT_EQ(seen(decipherHead()), GetParam().fips ? 0u : 2u);
}

TEST_P(CryJavaSim, OpeningTheTokenSendsNoKeyCommandAndTheSearchRunsOnce) {
    std::unique_ptr<cardsim::CardSim> card =
        java() ? cardsim::MakeJavaToken(cardsim::SimTokenOptions()) : cardsim::MakeHeronToken(cardsim::SimTokenOptions());
    cardsim::CardSim* raw = card.get();
    std::unique_ptr<ISender> sender(std::move(card));
    std::unique_ptr<IToken> token = IToken::create(sender);
    token->selectApplet(GetParam().family->appletId);
    for (const auto& e : raw->log()) {
        const bool keyCommand = e.command.size() >= 4 && e.command[0] == 0x80 && e.command[3] == 0x31;
        EXPECT_FALSE(keyCommand) << cardsim::ToHex(e.command);
    }
    EXPECT_TRUE(token->crypto()->list(0).empty());  // an empty object folder: nothing found
    raw->clearLog();
    EXPECT_TRUE(token->crypto()->list(0).empty());
    EXPECT_EQ(Outcome([&] { token->crypto()->select(Object(0x3001)); }), "code 6A82");
    EXPECT_TRUE(raw->log().empty());
}

TEST_P(CryJavaSim, BrokenAnswersOfTheKeyCommands) {
    login();
    const TBytes cipher = cardsim::RsaEncrypt(small, Hex("01 02 03"));
    struct Fault {
        const char* what;
        bool onKeyInfo;  // else on the decipher
        std::function<void(cardsim::CardSim&, const cardsim::CommandMatch&)> inject;
        const char* outcome;
    } faults[] = {
        {"key information cut to six bytes", true, [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.truncateNext(m, 1); },
         "code 6281"},
        {"key information refused", true, [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.failNext(m, 0x6A82); },
         "code 6A82"},
        {"decipher answer with tag 00", false,
         [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.replaceNext(m, Hex("00 01 02 10 01 AA 90 00")); }, "int 0"},
        {"decipher answer with a length past its end", false,
         [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.replaceNext(m, Hex("10 09 01 02 03 90 00")); }, "int 0"},
        {"decipher answer cut inside its length", false,
         [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.replaceNext(m, Hex("10 FF 00 90 00")); }, "int 0"},
        {"decipher answer with a longer plaintext", false,
         [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.extendNext(m, 3, 0xEE); }, "ok"},
        {"decipher refused", false, [](cardsim::CardSim& c, const cardsim::CommandMatch& m) { c.failNext(m, 0x6A82); },
         "code 6A82"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        // Under secure messaging the card's answer is the wrapped one: break the plain ones only.
        if (GetParam().fips && !f.onKeyInfo) continue;
        f.inject(*t.card, cardsim::MatchPrefix(f.onKeyInfo ? keyInfoHead() : decipherHead()));
        std::string outcome = Outcome([&] {
            cry().select(Object(0x3001));
            cry().decrypt(cipher);
        });
        EXPECT_EQ(outcome, f.outcome);
        t.card->clearFaults();
    }
}

TEST_P(CryJavaSim, DecipherNeedsTheUserPin) {
    cry().select(Object(0x3001));
    EXPECT_NE(Outcome([&] { cry().decrypt(cardsim::RsaEncrypt(small, Hex("01"))); }), "ok");
    EXPECT_EQ(t.applet->decipherCount(), 0u);
}

TEST_P(CryJavaSim, ACertificateTheWalkCannotParseEndsTheSearchForGood) {
    t.applet->addCertificateObject(0x1003, Descriptor("broken", false), Hex("30 82 01 00 30 80"));
    EXPECT_EQ(Outcome([&] { cry().list(0); }), "int 0");
    EXPECT_TRUE(cry().list(0).empty());
}

INSTANTIATE_TEST_SUITE_P(Tokens, CryJavaSim,
                         ::testing::Values(Case{&sim_token::JavaFamily(), false}, Case{&sim_token::JavaFamily(), true},
                                           Case{&sim_token::HeronFamily(), false},
                                           Case{&sim_token::HeronFamily(), true}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::string(i.param.family->name) + (i.param.fips ? "Fips" : "Plain");
                         });

}  // namespace
