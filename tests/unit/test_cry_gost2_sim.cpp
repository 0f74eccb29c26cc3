// Every Gost2 key operation through the token the library opens on a simulated
// Gost2 token: key pairs, lists, public keys, hashing on the card, a signature
// that verifies and a shared key both sides agree on (with the simulator's
// stand-in algorithms, see sim_gost2.h), and the card's refusals.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "appcry/cry_gost2.h"
#include "cry_test_support.h"
#include "sim_crypto.h"
#include "sim_gost2.h"
#include "sim_rsa.h"
#include "sim_tokens.h"

using namespace libapdu;
using cry_test::Outcome;
using testing_card::Concat;
using testing_card::Hex;

namespace {

TBytes Digest(const EVP_MD* md, const TBytes& data) { return cardsim::Digest(md, {&data}); }

class CryGost2Sim : public ::testing::Test {
protected:
    void SetUp() override {
        std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeGost2Token();
        card = sim.get();
        applet = card->find<cardsim::SimGost2Applet>();
        std::unique_ptr<ISender> sender(std::move(sim));
        token = IToken::create(sender);
        token->selectApplet(0x2206);
        EXPECT_EQ(card->count(0x80, 0x1C) + card->count(0x80, 0x5C), 0u);  // opening sends no key command
    }
    IAppCrypto& cry() { return *token->crypto(); }
    void login() {
        token->pin()->select(token->pin()->pathUser());
        token->pin()->login(TBytes(cardsim::SimGost2Applet::kDefaultUserPin));
    }
    cardsim::CardSim* card = nullptr;
    cardsim::SimGost2Applet* applet = nullptr;
    std::unique_ptr<IToken> token;
};

TEST_F(CryGost2Sim, KeyPairsListsAndPublicKeys) {
    EXPECT_NE(dynamic_cast<CCryGost2*>(&cry()), nullptr);
    EXPECT_NE(Outcome([&] { cry().genKeyPair(1, false); }), "ok");  // not logged in
    login();
    EXPECT_EQ(cry().genKeyPair(1, false), 1);
    EXPECT_EQ(cry().genKeyPair(2, true), 2);
    EXPECT_EQ(cry().getListCryptObjects(1, 1), Hex("01 01 00 02 01 00"));
    EXPECT_EQ(cry().getListCryptObjects(2, 1), Hex("01 02"));
    EXPECT_EQ(cry().getListCryptObjects(3, 2), Hex("02 01 00 00"));
    const TBytes pub = cry().getPublicKey(1, 2);
    EXPECT_EQ(pub, applet->publicKey(2));
    EXPECT_EQ(cry().getPublicKey(4, 2), pub);
    cry().removeKeyPair(2, 3);
    EXPECT_EQ(applet->keyCount(), 1u);
    EXPECT_TRUE(cry().getListCryptObjects(3, 2).empty());
    EXPECT_NE(Outcome([&] { cry().getPublicKey(1, 2); }), "ok");
    EXPECT_NE(Outcome([&] { cry().removeKeyPair(2, 4); }), "ok");
}

TEST_F(CryGost2Sim, HashingOnTheCardAndASignatureThatVerifies) {
    const TBytes part1(255, 0x61), part2 = Hex("62 63 64");
    struct Alg {
        unsigned char number;
        const EVP_MD* md;
    } algs[] = {{1, EVP_sha256()}, {2, EVP_sha512()}, {3, EVP_sha3_256()}};
    for (const Alg& a : algs) {
        cry().startHash(a.number);
        cry().continueHash(part1);
        cry().continueHash(part2);
        EXPECT_EQ(cry().finishHash(), Digest(a.md, Concat(part1, part2))) << int(a.number);
    }
    EXPECT_NE(Outcome([&] { cry().finishHash(); }), "ok");  // nothing begun

    login();
    cry().genKeyPair(1, false);
    const TBytes hash = Digest(EVP_sha256(), Hex("48 45 4C 4C 4F"));
    const TBytes signature = cry().signUseHashData(1, Hex("01 02 03"), hash);
    ASSERT_EQ(signature.size(), 64u);
    EXPECT_TRUE(cardsim::EcVerifyRaw(cry().getPublicKey(1, 1), hash, signature));
    EXPECT_NE(Outcome([&] { cry().signUseHashData(2, TBytes(), hash); }), "ok");  // no key 2
}

TEST_F(CryGost2Sim, BothSidesAgreeOnTheKeyInEveryMode) {
    login();
    cry().genKeyPair(1, false);
    const cardsim::SimEcKey peer = cardsim::MakeEcKey();
    const TBytes ukm = Hex("01 23 45 67 89 AB CD EF");
    TBytes shared;
    ASSERT_TRUE(cardsim::EcShared(peer, cry().getPublicKey(1, 1), shared));
    const TBytes full = Digest(EVP_sha512(), Concat(shared, ukm));
    const TBytes expected(full.begin(), full.begin() + 32);
    for (unsigned char mode : {0, 1, 2}) {
        for (bool flag : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (flag ? " flag" : ""));
            card->resetCounters();
            EXPECT_EQ(cry().genAgreementKey(cardsim::EcPublicXY(peer), ukm, 1, mode, flag), expected);
            EXPECT_EQ(card->count(0x80, 0x1C), mode == 0 ? 1u : 0u);
        }
    }
    // A point off the curve is the card's refusal; a key it lacks too, after the list in mode 0.
    EXPECT_NE(Outcome([&] { cry().genAgreementKey(TBytes(64, 0x01), ukm, 1, 1, false); }), "ok");
    EXPECT_EQ(Outcome([&] { cry().genAgreementKey(cardsim::EcPublicXY(peer), ukm, 2, 0, false); }), "code 6B00");
}

TEST_F(CryGost2Sim, AnswersOfTheWrongLengthAndRefusals) {
    login();
    cry().genKeyPair(1, false);
    const TBytes peer = cardsim::EcPublicXY(cardsim::MakeEcKey());
    struct Fault {
        const char* what;
        std::function<void()> call;
        unsigned char ins;
        int cut;  // bytes taken off (negative: added)
    } faults[] = {
        {"public key one short", [&] { cry().getPublicKey(1, 1); }, 0x1C, 1},
        {"public key one long", [&] { cry().getPublicKey(1, 1); }, 0x1C, -1},
        {"key pair answer of two bytes", [&] { cry().genKeyPair(1, false); }, 0x1C, -1},
        {"signature cut", [&] { cry().signUseHashData(1, TBytes(), TBytes(32, 0x11)); }, 0x3E, 8},
        {"hash of 48 bytes", [&] { cry().startHash(2); cry().finishHash(); }, 0x3E, 16},
        {"list 1 not of records of three", [&] { cry().getListCryptObjects(1, 1); }, 0x1C, 1},
        {"agreement cut", [&] { cry().genAgreementKey(peer, TBytes(8, 0), 1, 1, false); }, 0x5C, 1},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        const cardsim::CommandMatch m = [&](const cardsim::Bytes& c) {
            // Only the exchange that answers data: 80 3E 30 and 80 3E 40 have none.
            return c.size() >= 3 && c[1] == f.ins && !(c[1] == 0x3E && (c[2] == 0x30 || c[2] == 0x40));
        };
        if (f.cut > 0)
            card->truncateNext(m, static_cast<size_t>(f.cut));
        else
            card->extendNext(m, static_cast<size_t>(-f.cut));
        EXPECT_EQ(Outcome(f.call), "code 6281");
        card->clearFaults();
    }
    card->failNext(cardsim::MatchIns(0x3E), 0x6A86);
    EXPECT_NE(Outcome([&] { cry().startHash(1); }), "ok");
}

}  // namespace
