// Keys and certificates on a simulated Tessel token through the token the
// library opens: listing, selection with the public key read back, deciphering
// and signing in chained pieces (long answers by 61xx), key pairs the card
// generates and OpenSSL keys imported under secure messaging.
#include <gtest/gtest.h>

#include "appcry/cry_tessel.h"
#include "apppin/pin_tessel.h"
#include "cry_test_support.h"
#include "sim_rsa.h"
#include "sim_tessel.h"
#include "sim_tokens.h"
#include "tessel_sim_token.h"

using namespace libapdu;
using cry_test::Outcome;
using testing_card::Hex;

namespace {

const path& kKeyDir = cry_test::kTesselKeyDir;
const path& kCertDir = cry_test::kTesselCertDir;

// What an import of the key carries: its public exponent, modulus and private exponent.
CCryptoInfo ImportInfo(const cardsim::SimRsaKey& key) {
    CCryptoInfo info;
    info.keyLength = 128;
    info.keyPart1 = cardsim::RsaPublicExponent(key);
    info.keyPart2 = cardsim::RsaModulus(key);
    info.keyPart3 = cardsim::RsaPrivatePart(key, "d");
    return info;
}
using cry_test::At;

class CryTesselSim : public ::testing::Test {
protected:
    void SetUp() override {
        std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeTesselToken();
        card = sim.get();
        applet = card->find<cardsim::SimTesselApplet>();
        small = cardsim::SharedRsaKey(1024);
        large = cardsim::SharedRsaKey(2048);
        applet->addKey(0x01, small, cardsim::MakeCertificate(small, 3, "small"));
        applet->addKey(0x02, large, cardsim::MakeCertificate(large, 1, "large"));
        applet->addCertificate(0x8441, cardsim::MakeCertificate(large, 3, "alone"));
        std::unique_ptr<ISender> sender(std::move(sim));
        token = IToken::create(sender);
        token->selectApplet(0x2101);
        EXPECT_EQ(card->count(0x80, 0x48) + card->count(0x00, 0x2A) + card->count(0x00, 0x47), 0u);
    }
    IAppCrypto& cry() { return *token->crypto(); }
    void login() {
        token->pin()->select(token->pin()->pathUser());
        token->pin()->login(Hex("31 32 33 34"));
    }
    cardsim::CardSim* card = nullptr;
    cardsim::SimTesselApplet* applet = nullptr;
    std::unique_ptr<IToken> token;
    cardsim::SimRsaKey small, large;
};

TEST_F(CryTesselSim, ListsSelectsDeciphersAndSignsWithBothKeySizes) {
    EXPECT_NE(dynamic_cast<CCryTessel*>(&cry()), nullptr);
    EXPECT_EQ(cry().list(0), (std::vector<path>{At(kKeyDir, 0x0201), At(kKeyDir, 0x0202), At(kCertDir, 0x8441)}));
    login();
    const TBytes secret = Hex("54 45 53 53 45 4C");
    const TBytes hash(32, 0x68);
    struct Key {
        unsigned char nn;
        cardsim::SimRsaKey key;
        unsigned short length;
    } keys[] = {{0x01, small, 128}, {0x02, large, 256}};
    for (const Key& k : keys) {
        SCOPED_TRACE(k.length);
        cry().select(At(kKeyDir, 0x0200 | k.nn));
        const CCryptoInfo info = cry().info();
        EXPECT_EQ(info.keyLength, k.length);
        EXPECT_EQ(info.modulus, cardsim::RsaModulus(k.key));
        EXPECT_EQ(info.keyPart2, cardsim::RsaModulus(k.key));
        EXPECT_EQ(info.keyPart1, cardsim::RsaPublicExponent(k.key));
        EXPECT_EQ(info.name, TBytes{k.nn});
        EXPECT_EQ(cry().decrypt(cardsim::RsaEncrypt(k.key, secret)), secret);
        EXPECT_TRUE(cardsim::RsaVerifyRaw(k.key, hash, cry().signUseHashData(k.nn, TBytes(), hash)));
    }
    // The 256-byte ciphertext took two pieces.
    EXPECT_EQ(card->count(0x10, 0x2A), 1u);
    EXPECT_EQ(applet->keyOperations, 4u);

    cry().select(At(kCertDir, 0x8441));
    EXPECT_EQ(cry().info().keyLength, 256);
    EXPECT_EQ(cry().info().pinReference, 0);
}

TEST_F(CryTesselSim, LongAnswersComeByGetResponse) {
    login();
    applet->splitAnswers(100);
    const TBytes hash(32, 0x01);
    const TBytes signature = cry().signUseHashData(2, TBytes(), hash);
    EXPECT_TRUE(cardsim::RsaVerifyRaw(large, hash, signature));
    EXPECT_GE(card->count(0x00, 0xC0), 2u);
}

TEST_F(CryTesselSim, GeneratedAndImportedKeys) {
    login();
    EXPECT_EQ(cry().genKeyPair(5, false), 0);
    cry().select(At(kKeyDir, 0x0205));
    EXPECT_EQ(cry().info().keyPart2, cardsim::RsaModulus(applet->key(5)));
    EXPECT_TRUE(cry().info().certificate.empty());
    const TBytes hash(32, 0x02);
    EXPECT_TRUE(cardsim::RsaVerifyRaw(applet->key(5), hash, cry().signUseHashData(5, TBytes(), hash)));

    const cardsim::SimRsaKey imported = cardsim::MakeRsaKey(1024);
    const CCryptoInfo info = ImportInfo(imported);
    token->fs()->select(kKeyDir);
    cry().create(0x0203, info);
    cry().select(At(kKeyDir, 0x0203));
    EXPECT_EQ(cry().info().keyPart2, cardsim::RsaModulus(imported));  // 7F 49 gives it back
    EXPECT_TRUE(cardsim::RsaVerifyRaw(imported, hash, cry().signUseHashData(3, TBytes(), hash)));
    EXPECT_EQ(cry().decrypt(cardsim::RsaEncrypt(imported, Hex("0A 0B"))), Hex("0A 0B"));
}

TEST_F(CryTesselSim, RefusalsBeforeAndFromTheCard) {
    const size_t before = card->commandCount();
    EXPECT_EQ(Outcome([&] { cry().select({}); }), "code 6A82");
    EXPECT_EQ(Outcome([&] { cry().create(0x3F00, CCryptoInfo()); }), "code 6900");
    CCryptoInfo odd;
    odd.keyLength = 64;
    EXPECT_EQ(Outcome([&] { cry().create(0x0207, odd); }), "code 6900");
    EXPECT_EQ(card->commandCount(), before);
    // Without the user PIN the card refuses the key operations.
    cry().select(At(kKeyDir, 0x0201));
    EXPECT_NE(Outcome([&] { cry().decrypt(cardsim::RsaEncrypt(small, Hex("01"))); }), "ok");
    EXPECT_EQ(applet->keyOperations, 0u);
    // A public-key answer cut inside its template.
    card->truncateNext(cardsim::MatchClaIns(0x80, 0x48), 3);
    EXPECT_EQ(Outcome([&] { cry().select(At(kKeyDir, 0x0201)); }), "int 0");
    EXPECT_EQ(cry().info().path, At(kKeyDir, 0x0201));  // the earlier selection stays
}

// Reading the user PIN's designator for the first time selects 3F00/3000/3002 on
// the card: an import made before that read (after an external login, or with
// no login where the directory lets anyone create) still lands in the directory
// the file system selected, once the designators are known nothing is selected
// on the way, and with no selection to come back to the import is refused.
TEST(CryTesselSimImport, AKeyLandsInTheSelectedDirectoryWhetherOrNotTheDesignatorsWereRead) {
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(1024);
    const CCryptoInfo info = ImportInfo(key);
    struct Case {
        const char* name;
        std::function<void(TesselSimToken&)> login;
        path directory;
        bool designatorsRead;
    } const cases[] = {
        {"after an external login",
         [](TesselSimToken& t) {
             t.pin()->select({0x3F00, 0x0024});
             t.pin()->externalLogin(Hex("31 32 33 34"));
         },
         kCertDir, false},
        {"with no login, in the container", [](TesselSimToken&) {}, cardsim::SimTesselApplet::kContainer, false},
        {"after a PIN login", [](TesselSimToken& t) { t.login(); }, kCertDir, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TesselSimToken t;
        c.login(t);
        const CPinTessel* pins = dynamic_cast<const CPinTessel*>(t.pin());
        ASSERT_NE(pins, nullptr);
        ASSERT_EQ(pins->designatorsRead(), c.designatorsRead);
        t.fs()->select(c.directory);
        t.card->clearLog();
        t.token->crypto()->create(0x0203, info);
        ASSERT_NE(t.sim->find(At(c.directory, 0x0203)), nullptr);
        EXPECT_EQ(t.sim->find(At(kKeyDir, 0x0203)), nullptr);
        // Selections by path: the designator's read and the directory again, or none.
        EXPECT_EQ(t.count("80 A4 08 0C"), c.designatorsRead ? 0u : 2u);
    }
    // A designator read whose answer is broken, after the card has moved: the
    // directory is selected again before the failure is reported, and the next
    // import lands there.
    {
        TesselSimToken t;
        cases[0].login(t);
        t.card->clearLog();
        t.fs()->select(kCertDir);
        TBytes directorySelect;
        for (const auto& e : t.card->log())
            if (e.command.size() > 4 && e.command[0] == 0x80 && e.command[1] == 0xA4) directorySelect = e.command;
        ASSERT_FALSE(directorySelect.empty());
        t.card->replaceNext(cardsim::MatchPrefix(Hex("80 A4 08 0C 06 3F 00 30 00 30 02")), Hex("90 00"));
        t.card->clearLog();
        EXPECT_EQ(Outcome([&] { t.token->crypto()->create(0x0203, info); }), "int 0");  // the answer walk's failure
        const auto log = t.card->log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().command, directorySelect) << "the directory selected again last";
        EXPECT_EQ(Outcome([&] { t.token->crypto()->create(0x0203, info); }), "ok");
        EXPECT_NE(t.sim->find(At(kCertDir, 0x0203)), nullptr);
    }
    // With nothing selected by the file system there is no place to come back to:
    // refused before anything is sent.
    TesselSimToken t;
    t.card->clearLog();
    EXPECT_EQ(Outcome([&] { t.token->crypto()->create(0x0203, info); }), "code 6900");
    EXPECT_TRUE(t.card->log().empty());
}

}  // namespace
