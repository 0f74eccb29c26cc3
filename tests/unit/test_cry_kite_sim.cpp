// Keys and certificates on simulated Kite tokens through the token the library
// opens: Kite16 and Kite32 with the facet their applet is built with, every
// model with the facet its init installs for its mode, and deciphering what
// OpenSSL encrypted for the card's keys, under secure messaging on FIPS tokens.
#include <gtest/gtest.h>

#include "appcry/cry_kite.h"
#include "cry_test_support.h"
#include "sim_rsa.h"
#include "sim_tokens.h"

using namespace libapdu;
using cry_test::Outcome;
using testing_card::Hex;

namespace {

const unsigned short kKite = 0x1002;
const TBytes kSecret = Hex("C0 FF EE 00 01 02 03 04 05 06 07 08");

struct Case {
    const char* model;
    bool fips;
    bool init;  // selectApplet (init) or, as the token module does, switchToApplet
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.model << (c.fips ? " FIPS" : "") << (c.init ? " init" : ""); }

class CryKiteSim : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        cardsim::SimTokenOptions o;
        o.fips = GetParam().fips;
        std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeKiteToken(GetParam().model, o);
        card = sim.get();
        applet = card->find<cardsim::SimKiteApplet>();
        small = cardsim::SharedRsaKey(1024);
        large = cardsim::SharedRsaKey(2048);
        if (GetParam().fips) {
            applet->addFipsKey(0x3001, "small", small, cardsim::MakeCertificate(small, 3, "small"));
            applet->addFipsKey(0x3002, "large", large, cardsim::MakeCertificate(large, 1, "large"));
        } else {
            applet->addKey(0x1001, 0, "small", small, cardsim::MakeCertificate(small, 3, "small"));
            applet->addKey(0x2002, 1, "large", large, cardsim::MakeCertificate(large, 1, "large"));
        }
        std::unique_ptr<ISender> sender(std::move(sim));
        token = IToken::create(sender);
        if (GetParam().init)
            token->selectApplet(kKite);
        else
            token->switchToApplet(kKite);
    }
    IAppCrypto& cry() { return *token->crypto(); }
    void login() {
        token->pin()->select(token->pin()->pathUser());
        token->pin()->login(Hex("31 32 33 34"));
    }
    path keyPath(int which) const {
        if (GetParam().fips) return {0x3F00, 0x6666, 0x5000, 0x0220, static_cast<unsigned short>(0x3001 + which)};
        return {0x3F00, 0x6666, 0x6000, static_cast<unsigned short>(which ? 0x2002 : 0x1001), static_cast<unsigned short>(which)};
    }

    cardsim::CardSim* card = nullptr;
    cardsim::SimKiteApplet* applet = nullptr;
    std::unique_ptr<IToken> token;
    cardsim::SimRsaKey small, large;
};

TEST_P(CryKiteSim, TheFacetOfTheTokensRoadListsSelectsAndDeciphers) {
    // Opening the token sent no key command.
    EXPECT_EQ(card->count(0x00, 0x22) + card->count(0x00, 0x2A), 0u);
    IAppCrypto* c = &cry();
    if (GetParam().init) {
        EXPECT_EQ(dynamic_cast<CCryKite4Fips*>(c) != nullptr, GetParam().fips);
        EXPECT_EQ(dynamic_cast<CCryKite4*>(c) != nullptr, !GetParam().fips);
        EXPECT_EQ(c->provider(0x1001).keySizes.size(), GetParam().fips ? 1u : 2u);
    } else {
        EXPECT_NE(dynamic_cast<CCryKite*>(c), nullptr);
        EXPECT_EQ(dynamic_cast<CCryKite4*>(c), nullptr);
        EXPECT_EQ(c->provider(0x1001).keySizes, std::vector<unsigned short>{128});
    }
    EXPECT_EQ(c->list(0), (std::vector<path>{keyPath(0), keyPath(1)}));
    login();

    c->select(keyPath(0));
    EXPECT_EQ(c->info().modulus, cardsim::RsaModulus(small));
    EXPECT_EQ(c->info().keyLength, 128);
    EXPECT_EQ(c->decrypt(cardsim::RsaEncrypt(small, kSecret)), kSecret);
    const size_t protectedBefore = applet->protectedCount;

    c->select(keyPath(1));
    EXPECT_EQ(c->info().modulus, cardsim::RsaModulus(large));
    const TBytes cipher = cardsim::RsaEncrypt(large, kSecret);
    if (GetParam().fips) {
        // 257 bytes do not fit the one-byte length of the protected data: refused before sending.
        EXPECT_NE(Outcome([&] { c->decrypt(cipher); }), "ok");
        EXPECT_EQ(applet->protectedCount, protectedBefore);
        EXPECT_EQ(applet->decipherCount, 1u);
    } else {
        EXPECT_EQ(c->info().keyLength, 256);
        EXPECT_EQ(c->decrypt(cipher), kSecret);
        EXPECT_EQ(applet->decipherCount, 2u);
    }
    // Plain deciphers on plain tokens only.
    EXPECT_EQ(card->count(0x00, 0x2A), GetParam().fips ? 0u : 2u);
}

TEST_P(CryKiteSim, ARefusedEnvironmentLeavesNothingToDecipherWith) {
    login();
    cry().select(keyPath(0));
    card->failNext(cardsim::MatchClaIns(0x00, 0x22), 0x6A88);
    EXPECT_NE(Outcome([&] { cry().select(keyPath(0)); }), "ok");
    EXPECT_TRUE(cry().info().path.empty());
    EXPECT_EQ(Outcome([&] { cry().decrypt(cardsim::RsaEncrypt(small, kSecret)); }), "code 6281");
    EXPECT_EQ(applet->decipherCount, 0u);
}

TEST_P(CryKiteSim, DecipherNeedsTheUserPin) {
    cry().select(keyPath(0));
    EXPECT_NE(Outcome([&] { cry().decrypt(cardsim::RsaEncrypt(small, kSecret)); }), "ok");
    EXPECT_EQ(applet->decipherCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(Tokens, CryKiteSim,
                         ::testing::Values(Case{"kite16", false, false}, Case{"kite32", false, false},
                                           Case{"kite16", false, true}, Case{"kite32", false, true},
                                           Case{"kite42", false, true}, Case{"kite42", true, true},
                                           Case{"kite42b", false, true}, Case{"kite42b", true, true}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::string(i.param.model) + (i.param.fips ? "Fips" : "") +
                                    (i.param.init ? "Init" : "Plain");
                         });

}  // namespace
