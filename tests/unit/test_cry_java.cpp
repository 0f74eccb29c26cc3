// The Java and Heron crypto facets against an in-memory file system and a
// scripted card: the objects their finders keep, the bytes of the key commands
// and the walks over the card's answers.
#include <gtest/gtest.h>

#include <memory>

#include "appcry/cry_heron.h"
#include "appcry/cry_java.h"
#include "apperror/apperror.h"
#include "cry_test_support.h"
#include "sim_rsa.h"

using namespace libapdu;
using cry_test::CryApplet;
using cry_test::Outcome;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;
using testing_card::ToHex;

namespace {

const path kObjects = {0x3F00, 0x6666, 0x5000, 0x0220};

path Object(unsigned short fid, std::initializer_list<unsigned short> rest = {}) {
    path p = kObjects;
    p.push_back(fid);
    p.insert(p.end(), rest);
    return p;
}

// What each family sends; written from the command tables, not from the facet.
struct Family {
    const char* name;
    bool java;
    const char* keyInfo;    // the whole command
    const char* decipher;   // CLA INS P1 P2
    const char* source;     // where the facet's own errors come from
};
void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

const Family kJava = {"Java", true, "80 07 00 31 03 10 01 1A 00", "80 0C 03 31", "token/appcry/cry_java"};
const Family kHeron = {"Heron", false, "80 14 00 31 03 10 01 1A 00", "80 19 03 31", "token/appcry/cry_heron"};

class CryJavaFamily : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override { build(false); }
    void build(bool fips) {
        applet.reset(new CryApplet(&card, GetParam().java ? static_cast<IAppError*>(new CErrorJava)
                                                          : static_cast<IAppError*>(new CErrorHeron),
                                   fips));
        if (GetParam().java)
            applet->setCrypto(new CCryJava(applet.get()));
        else
            applet->setCrypto(new CCryHeron(applet.get()));
        fs().addDir({0x3F00});
        fs().addDir(kObjects);
    }
    FakeFS& fs() { return *applet->fs; }
    IAppCrypto& cry() { return *applet->crypto(); }
    CAdapter adapter() { return AppletToAdapter(applet.get()); }
    std::unique_ptr<CCryFinder> finder() {
        if (GetParam().java) return std::unique_ptr<CCryFinder>(new CJavaFinder(adapter()));
        return std::unique_ptr<CCryFinder>(new CHeronFinder(adapter()));
    }
    void certObject(unsigned short fid, const std::string& descriptor, const TBytes& der) {
        fs().addDir(Object(fid));
        if (!descriptor.empty()) fs().addFile(Object(fid, {0x0001}), Hex(descriptor));
        if (!der.empty()) fs().addFile(Object(fid, {0x0002}), der);
    }
    void keyObject(unsigned short fid, const std::string& descriptor) {
        fs().addDir(Object(fid));
        if (!descriptor.empty()) fs().addFile(Object(fid, {0x0001}), Hex(descriptor));
    }
    std::string keyInfo() const { return GetParam().keyInfo; }
    // Selects a key container: the key-information exchange and, on Java, the key data.
    void expectKeySelect(const std::string& infoAnswer = "1A 03 05 00 01 90 00") {
        card.expect(keyInfo(), infoAnswer, 258);
        if (GetParam().java) card.expect("80 08 00 31 00 00 00", "28 02 AA BB 90 00", 1026);
    }

    ScriptedSender card;
    std::unique_ptr<CryApplet> applet;
};

// "fid name flags pin" for each object a finder kept.
std::vector<std::string> Objects(const std::vector<CCryptoInfo>& v) {
    std::vector<std::string> out;
    for (const CCryptoInfo& c : v) {
        char b[64];
        std::snprintf(b, sizeof b, "%04X '%s' %u %02X", c.path.back(), std::string(c.name.begin(), c.name.end()).c_str(),
                      c.flags, c.pinReference);
        out.push_back(b);
        EXPECT_EQ(c.provider, 0x1001);
        EXPECT_EQ(c.path.size(), kObjects.size() + 1);
    }
    return out;
}

TEST_P(CryJavaFamily, FindersKeepObjectsByKindWithTheNameOfTheThirdField) {
    const TBytes der = Hex("30 01 00");  // the finders do not parse certificates
    certObject(0x1001, "01 AA 02 BB CC 03 41 42 43", der);
    certObject(0x1002, "01 AA 05 BB", der);  // the second field overruns: no name, object kept
    certObject(0x1003, "", der);             // no descriptor: no name
    certObject(0x1004, "01 AA 02 BB CC 01 44", TBytes());  // no certificate: dropped
    certObject(0x2000, "01 AA 02 BB CC 01 44", der);       // neither kind
    keyObject(0x4001, "80 00 00 00 00 00 01 AA 02 BB CC 01 44");
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 03 41 42 43");
    keyObject(0x3002, "7F 00 00 00 00 00 01 AA 01 BB 01 4B");
    keyObject(0x3003, "80 00 00 00 00");  // under six bytes
    keyObject(0x3004, "");
    keyObject(0x3005, "80 00 00 00 00 00 01 AA 05 BB");
    std::unique_ptr<CCryFinder> f = finder();
    f->getcerts();
    f->getkeys();
    EXPECT_EQ(Objects(f->certs),
              (std::vector<std::string>{"1001 'ABC' 3 FF", "1002 '' 3 FF", "1003 '' 3 FF"}));
    const std::vector<std::string> javaKeys = {"3001 'ABC' 2 11", "3002 'K' 1 11", "3003 '' 0 11", "3004 '' 0 11",
                                               "3005 '' 2 11"};
    const std::vector<std::string> heronKeys = {"3001 'ABC' 3 11", "3002 'K' 3 11", "3003 '' 3 11", "3004 '' 3 11",
                                                "3005 '' 3 11"};
    EXPECT_EQ(Objects(f->keys), GetParam().java ? javaKeys : heronKeys);
    for (const CCryptoInfo& c : f->certs) EXPECT_EQ(c.certificate, der);
    EXPECT_TRUE(card.sent.empty());
}

TEST_P(CryJavaFamily, AMissingObjectFolderOrPinDesignatorLeavesTheFindersEmpty) {
    fs().nodes.erase(kObjects);
    std::unique_ptr<CCryFinder> f = finder();
    f->getcerts();
    f->getkeys();
    EXPECT_TRUE(f->certs.empty());
    EXPECT_TRUE(f->keys.empty());

    fs().addDir(kObjects);
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 03 41 42 43");
    applet->setPin(new FakePin({}));  // an empty designator names no PIN: the key is dropped
    std::unique_ptr<CCryFinder> g = finder();
    g->getkeys();
    EXPECT_TRUE(g->keys.empty());
}

TEST_P(CryJavaFamily, DiscoversOnceListsByPathAndIgnoresTheListArgument) {
    const TBytes der = cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "one");
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    certObject(0x1001, "01 AA 02 BB CC 01 41", der);
    certObject(0x1002, "01 AA 02 BB CC 01 42", der);
    const std::vector<path> paths = cry().list(0);
    EXPECT_EQ(paths, (std::vector<path>{Object(0x3001), Object(0x1002)}));
    const size_t calls = fs().calls.size();
    EXPECT_EQ(cry().list(7), paths);
    EXPECT_EQ(fs().calls.size(), calls);  // no second search
    EXPECT_TRUE(card.sent.empty());
}

TEST_P(CryJavaFamily, ACertificateItCannotParseFailsTheFirstCallAndTheSearchIsNotRepeated) {
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    certObject(0x1001, "01 AA 02 BB CC 01 41", Hex("30 03 02 01 00"));
    EXPECT_EQ(Outcome([&] { cry().list(0); }), "int 0");
    const size_t calls = fs().calls.size();
    EXPECT_TRUE(cry().list(0).empty());
    EXPECT_EQ(Outcome([&] { cry().select(Object(0x3001)); }), "code 6A82");
    EXPECT_EQ(fs().calls.size(), calls);
}

TEST_P(CryJavaFamily, SelectionFindsTheContainerByPathAndTheLastOneWins) {
    const TBytes der1 = cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "first");
    const TBytes der2 = cardsim::MakeCertificate(cardsim::SharedRsaKey(2048), 1, "second");
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    certObject(0x1001, "01 AA 02 BB CC 01 41", der1);
    certObject(0x1002, "01 AA 02 BB CC 01 41", der2);
    certObject(0x1003, "01 AA 02 BB CC 01 43", der1);

    // A lone certificate needs no card traffic.
    cry().select(Object(0x1003));
    EXPECT_EQ(cry().info().certificate, der1);
    EXPECT_EQ(cry().info().pinReference, 0x00);
    EXPECT_TRUE(card.sent.empty());

    // Empty path: refused, the selection stays.
    EXPECT_EQ(Outcome([&] { cry().select({}); }), "code 6A82");
    EXPECT_EQ(cry().info().path, Object(0x1003));
    // Unknown path: refused, nothing selected any more.
    EXPECT_EQ(Outcome([&] { cry().select(Object(0x1009)); }), "code 6A82");
    EXPECT_TRUE(cry().info().path.empty());
    EXPECT_EQ(cry().info().pinReference, 0xFF);

    // One key paired with two certificates: two containers with its path, the later one counts.
    expectKeySelect("1A 03 05 04 01 90 00");
    cry().select(Object(0x3001));
    const CCryptoInfo c = cry().info();
    EXPECT_EQ(c.certificate, der2);
    EXPECT_EQ(c.keyLength, 256);
    EXPECT_EQ(c.privateKey, TBytes(256, 0));
    EXPECT_EQ(c.pinReference, 0x11);
    EXPECT_EQ(c.keyPart1, GetParam().java ? Hex("AA BB") : TBytes());
    EXPECT_TRUE(card.done());
    EXPECT_EQ(fs().calls.back(), "select 3F00/6666/5000/0220/3001");
}

TEST_P(CryJavaFamily, KeyInformationAnswers) {
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    struct Case {
        const char* answer;
        const char* outcome;
        unsigned short keyLength;
    } cases[] = {
        {"1A 03 05 04 01 90 00", "ok", 256},
        {"1A 03 05 FB 01 90 00", "ok", 128},  // only bit 04 counts
        {"00 00 05 00 00 90 00", "ok", 128},  // the bytes are read where they stand
        {"1A 02 05 04 90 00", "code 6281", 0},  // six bytes with the status word
        {"1A 03 06 04 01 90 00", "code 6283", 0},
        {"6A 82", "code 6A82", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        card.expect(keyInfo(), c.answer, 258);
        if (GetParam().java && std::string(c.outcome) == "ok") card.expect("80 08 00 31 00 00 00", "28 00 90 00", 1026);
        EXPECT_EQ(Outcome([&] { cry().select(Object(0x3001)); }), c.outcome);
        EXPECT_EQ(cry().info().keyLength, c.keyLength);
        EXPECT_EQ(cry().info().privateKey.size(), c.keyLength);
        EXPECT_TRUE(card.done());
    }
}

TEST_P(CryJavaFamily, KeyDataAnswersOfTheJavaApplet) {
    if (!GetParam().java) GTEST_SKIP() << "Heron reads no key data";
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    struct Case {
        const char* answer;
        const char* outcome;
        const char* keyPart1;
    } cases[] = {
        {"27 01 03 28 02 AA BB 90 00", "ok", "AA BB"},
        {"28 FF 00 02 AA BB 90 00", "ok", "AA BB"},
        {"27 01 03 90 00", "int 0", ""},        // no tag 28 before the status word
        {"00 01 03 28 02 AA BB 90 00", "int 0", ""},
        {"FF 01 03 28 02 AA BB 90 00", "int 0", ""},
        {"28 03 AA 90 00", "int 0", ""},        // the value would take the status word
        {"28 FF 00 90 00", "int 0", ""},        // the long length runs into it
        {"28 90 00", "int 0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        card.expect(keyInfo(), "1A 03 05 04 01 90 00", 258);
        card.expect("80 08 00 31 00 00 00", c.answer, 1026);
        EXPECT_EQ(Outcome([&] { cry().select(Object(0x3001)); }), c.outcome);
        EXPECT_EQ(ToHex(cry().info().keyPart1), c.keyPart1);
        EXPECT_EQ(cry().info().keyLength, 256);  // set before the key data is read
    }
}

TEST_P(CryJavaFamily, DecipherCommandAndAnswerWalk) {
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(1024);
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    certObject(0x1001, "01 AA 02 BB CC 01 41", cardsim::MakeCertificate(key, 3, "k"));
    expectKeySelect();
    cry().select(Object(0x3001));
    const TBytes data(128, 0x01);
    const TBytes command = Concat(Hex(std::string(GetParam().decipher) + " 00 00 84 10 FF 00 80"), data);
    struct Case {
        const char* answer;
        const char* outcome;
    } cases[] = {
        {"20 01 00 10 02 AA BB 90 00", "AA BB"},
        {"10 03 AA BB CC 00 00 90 00", "AA BB CC"},
        {"10 FF 00 01 AA 00 00 90 00", "AA"},
        {"20 01 00 10 00 90 00", "int 0"},  // tag 10 in the last two bytes
        {"00 01 00 10 02 AA BB 90 00", "int 0"},
        {"FF 01 00 10 02 AA BB 90 00", "int 0"},
        {"10 05 AA BB 90 00", "int 0"},      // value past the data
        {"10 FF 01 AA BB 90 00", "int 0"},   // long length past the data
        {"20 09 00 10 02 AA BB 90 00", "int 0"},
        {"90 00", "int 0"},
        {"6A 82", "code 6A82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        card.expect(Concat(command, Hex("04 00")), Hex(c.answer), 1026);
        TBytes plain;
        const std::string outcome = Outcome([&] { plain = cry().decrypt(data); });
        EXPECT_EQ(outcome == "ok" ? ToHex(plain) : outcome, c.outcome);
    }
    EXPECT_TRUE(card.done());
}

TEST_P(CryJavaFamily, OnAFipsTokenOnlyTheDecipherGoesThroughSecureMessaging) {
    build(true);
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    certObject(0x1001, "01 AA 02 BB CC 01 41", cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "k"));
    expectKeySelect();
    cry().select(Object(0x3001));
    const TBytes data(128, 0x02);
    applet->pack->expect(Concat(Concat(Hex(std::string(GetParam().decipher) + " 00 00 84 10 FF 00 80"), data), Hex("04 00")),
                         Hex("10 01 5A 00 00 90 00"), 1026);
    EXPECT_EQ(cry().decrypt(data), Hex("5A"));
    EXPECT_TRUE(applet->pack->done());
    EXPECT_EQ(applet->pack->calls.size(), 1u);
    EXPECT_TRUE(card.done());
}

TEST_P(CryJavaFamily, ChecksBeforeTheDecipher) {
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(1024);
    const TBytes modulus = cardsim::RsaModulus(key);
    keyObject(0x3001, "80 00 00 00 00 00 01 AA 02 BB CC 01 41");
    certObject(0x1001, "01 AA 02 BB CC 01 41", cardsim::MakeCertificate(key, 3, "k"));
    keyObject(0x3002, "80 00 00 00 00 00 01 AA 02 BB CC 01 4C");       // a key alone
    certObject(0x1002, "01 AA 02 BB CC 01 43", cardsim::MakeCertificate(key, 3, "c"));  // a certificate alone
    TBytes below = modulus;
    below.back()--;

    if (GetParam().java) {
        // Java checks nothing of its own; it refuses only what its lengths cannot carry.
        EXPECT_EQ(Outcome([&] { cry().decrypt(TBytes(65532, 1)); }), "code 6B00");
        EXPECT_TRUE(card.sent.empty());
        card.expectPrefix("80 0C 03 31 00 FF FF 10 FF FF FB", 65531 + 13, "10 01 01 00 00 90 00");
        EXPECT_EQ(cry().decrypt(TBytes(65531, 1)), Hex("01"));
        return;
    }
    struct Case {
        const char* what;
        unsigned short fid;  // 0: nothing selected
        TBytes data;
        const char* outcome;
    } cases[] = {
        {"nothing selected", 0, below, "code 6281"},
        {"a certificate alone", 0x1002, below, "code 6A82"},
        {"a key alone: no modulus", 0x3002, below, "code 6281"},
        {"data equal to the modulus", 0x3001, modulus, "code 6281"},
        {"data shorter than the modulus", 0x3001, TBytes(127, 0), "code 6281"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.fid) {
            if ((c.fid & 0xF000) == 0x3000) expectKeySelect();
            cry().select(Object(c.fid));
        }
        card.sent.clear();
        EXPECT_EQ(Outcome([&] { cry().decrypt(c.data); }), c.outcome);
        EXPECT_TRUE(card.sent.empty());
    }
    // A key whose size exchange failed has no private key: nothing to decipher with.
    card.expect(keyInfo(), "1A 03 06 04 01 90 00");
    EXPECT_EQ(Outcome([&] { cry().select(Object(0x3001)); }), "code 6283");
    EXPECT_EQ(Outcome([&] { cry().decrypt(below); }), "code 6A82");
}

TEST_P(CryJavaFamily, ProviderEncryptAndSourceOfTheirErrors) {
    const CProviderInfo p = cry().provider(0x1001);
    EXPECT_EQ(p.id, 0x1001);
    EXPECT_EQ(p.keySizes, (std::vector<unsigned short>{128, 256}));
    EXPECT_EQ(p.flags, 3);
    for (const std::function<void()>& call :
         {std::function<void()>([&] { cry().provider(0x1002); }), std::function<void()>([&] { cry().encrypt(Hex("01")); })}) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const CSCardException& e) {
            EXPECT_EQ(e.code(), 0xFACE);
            EXPECT_EQ(e.file(), std::string("Externals/Internal/LibAPDU/Source/") + GetParam().source);
        }
    }
    EXPECT_EQ(Outcome([&] { cry().genKeyPair(1, false); }), "code FACE");
    EXPECT_EQ(cry().info().pinReference, 0xFF);  // nothing selected yet
}

TEST_P(CryJavaFamily, ReachesTheFileSystemTheAppletHoldsAtTheTimeOfUse) {
    // The crypto facet was built first; the applet now puts in a new file system
    // and PIN facet and deletes the ones the facet saw at construction.
    FakeFS* later = new FakeFS;
    later->addDir(kObjects);
    later->addDir(Object(0x3001));
    later->addFile(Object(0x3001, {0x0001}), Hex("80 00 00 00 00 00 01 AA 02 BB CC 01 41"));
    applet->setFs(later);
    applet->fs = later;
    applet->setPin(new FakePin({0x3F00, 0x12}));
    const std::vector<path> paths = cry().list(0);
    EXPECT_EQ(paths, std::vector<path>{Object(0x3001)});
    expectKeySelect();
    cry().select(Object(0x3001));
    EXPECT_EQ(cry().info().pinReference, 0x12);
}

INSTANTIATE_TEST_SUITE_P(Families, CryJavaFamily, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

}  // namespace
