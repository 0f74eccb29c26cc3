// The Tessel crypto facet against an in-memory file system, a scripted card and
// a pack facet that records the plain commands it is handed: the attribute
// walk, the selection of keys and certificates, the key import template, the
// chained decipher and signature, and the BER walks over the answers.
#include <gtest/gtest.h>

#include <memory>

#include "appcry/cry_tessel.h"
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

const path& kKeyDir = cry_test::kTesselKeyDir;
const path& kCertDir = cry_test::kTesselCertDir;
using cry_test::At;

// An attribute file: seven header bytes, then the records as given.
TBytes Attributes(const TBytes& records) { return Concat(Hex("A0 A1 A2 A3 A4 A5 A6"), records); }
TBytes CertRecord(const TBytes& der) {
    TBytes r = {0x00, 0x11, 0x00};
    PutBE16(r, static_cast<unsigned short>(der.size()));
    return Concat(r, der);
}

TEST(AttributeFile, TheFirstCertificateRecordOrNothing) {
    struct Case {
        const char* what;
        const char* content;
        const char* value;
    } cases[] = {
        {"one record", "00 01 02 03 04 05 06  00 11 00 00 02 AA BB", "AA BB"},
        {"after another record and fillers", "00 01 02 03 04 05 06  00 12 00 00 01 CC FF FF  00 11 09 00 01 DD", "DD"},
        {"a record of another first byte", "00 01 02 03 04 05 06  01 11 00 00 01 CC  00 11 00 00 01 DD", "DD"},
        {"exactly the header", "00 01 02 03 04 05 06", ""},
        {"shorter than the header", "00 01 02", ""},
        {"nothing", "", ""},
        {"a record header cut", "00 01 02 03 04 05 06  00 11 00 00", ""},
        {"a value past the data", "00 01 02 03 04 05 06  00 11 00 00 03 AA BB", ""},
        {"a skipped value past the data", "00 01 02 03 04 05 06  00 12 00 00 09 AA", ""},
        {"fillers to the end", "00 01 02 03 04 05 06  00 12 00 00 01 CC FF FF FF", ""},
        {"an empty certificate record", "00 01 02 03 04 05 06  00 11 00 00 00", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ToHex(GetValueFromAtributeFile(Hex(c.content))), c.value) << c.what;
}

class CryTessel : public ::testing::Test {
protected:
    void SetUp() override {
        applet.reset(new CryApplet(&card, new CErrorTessel, false, {0x3F00, 0x0081}));
        applet->setCrypto(new CCryTessel(applet.get()));
        fs().addDir({0x3F00});
        fs().addDir({0x3F00, 0x3000});
        fs().addDir(kKeyDir);
        fs().addDir(kCertDir);
        key = cardsim::SharedRsaKey(1024);
        der = cardsim::MakeCertificate(key, 3, "tessel");
    }
    FakeFS& fs() { return *applet->fs; }
    IAppCrypto& cry() { return *applet->crypto(); }
    // Key 02nn: its key file and its attribute file (nn OR 40) + 1 of the key's size.
    void keyFiles(unsigned char nn, size_t size) {
        fs().addFile(At(kKeyDir, 0x0200 | nn), TBytes(4, 0));
        fs().addFile(At(kKeyDir, static_cast<unsigned short>((nn | 0x40) + 1)), TBytes(size, 0));
    }

    ScriptedSender card;
    std::unique_ptr<CryApplet> applet;
    cardsim::SimRsaKey key;
    TBytes der;
};

TEST_F(CryTessel, ListsKeysThenCertificatesWithTheirBit) {
    keyFiles(0x01, 128);
    fs().addFile(At(kCertDir, 0x8401), Attributes(CertRecord(der)));  // bit 40 clear: not listed
    fs().addFile(At(kCertDir, 0x8441), Attributes(CertRecord(der)));
    fs().addFile(At(kCertDir, 0x8541), Attributes(CertRecord(der)));
    fs().addFile(At(kKeyDir, 0x0302), TBytes(1));
    EXPECT_EQ(cry().list(0), (std::vector<path>{At(kKeyDir, 0x0201), At(kCertDir, 0x8441)}));
    EXPECT_EQ(cry().list(5), cry().list(0));
    EXPECT_TRUE(card.sent.empty());
}

TEST_F(CryTessel, SelectingAKeyReadsItsCertificateSizeAndPublicKey) {
    keyFiles(0x01, 128);
    fs().addFile(At(kCertDir, 0x8401), Attributes(CertRecord(der)));
    card.expect("80 48 00 00 00", "7F 49 0A 81 03 C1 C2 C3 82 03 01 00 01 90 00", 1026);
    cry().select(At(kKeyDir, 0x0201));
    const std::vector<std::string> reads(fs().calls.begin(), fs().calls.end());
    EXPECT_NE(std::find(reads.begin(), reads.end(), "select 3F00/3000/3001/8401"), reads.end());
    EXPECT_NE(std::find(reads.begin(), reads.end(), "select 3F00/3000/3002/0042"), reads.end());
    const CCryptoInfo c = cry().info();
    EXPECT_EQ(c.name, Hex("01"));
    EXPECT_EQ(c.keyLength, 128);
    EXPECT_EQ(c.privateKey, TBytes(128, 0));
    EXPECT_EQ(c.certificate, der);
    EXPECT_EQ(c.modulus, cardsim::RsaModulus(key));
    EXPECT_EQ(c.keyPart2, Hex("C1 C2 C3"));
    EXPECT_EQ(c.keyPart1, Hex("01 00 01"));
    EXPECT_EQ(c.pinReference, 0x81);
    EXPECT_EQ(c.flags, 3);
    EXPECT_TRUE(card.done());

    // Without its certificate attribute file the key is selected all the same.
    keyFiles(0x13, 256);
    card.expect("80 48 00 00 00", "90 00");
    cry().select(At(kKeyDir, 0x0213));
    EXPECT_TRUE(cry().info().certificate.empty());
    EXPECT_TRUE(cry().info().modulus.empty());
    EXPECT_EQ(cry().info().keyLength, 256);
    EXPECT_EQ(cry().info().name, Hex("03"));
    EXPECT_TRUE(cry().info().keyPart1.empty());
}

TEST_F(CryTessel, PublicKeyAnswers) {
    keyFiles(0x01, 128);
    struct Case {
        const char* answer;
        const char* outcome;  // "ok <keyPart2> / <keyPart1>"
    } cases[] = {
        {"7F 49 08 82 01 03 81 03 C1 C2 C3 90 00", "ok C1 C2 C3 / 03"},
        {"7F 49 81 08 81 03 C1 C2 C3 82 01 03 90 00", "ok C1 C2 C3 / 03"},
        {"7F 49 09 86 01 00 81 01 C1 82 01 03 90 00", "ok C1 / 03"},
        {"7F 49 0B 1F 21 01 00 81 02 C1 C2 82 01 03 90 00", "ok C1 C2 / 03"},
        {"04 02 AA BB 90 00", "ok  / "},       // not the public key: both empty
        {"7F 49 90 00", "int 0"},              // no length
        {"7F 49 05 81 03 C1 C2 C3 90 00", "int 0"},  // no 82
        {"7F 49 03 82 01 03 90 00", "int 0"},  // no 81
        {"7F 49 0A 81 03 C1 C2 C3 82 04 01 00 01 90 00", "int 0"},  // a child past its template
        {"7F 49 20 81 03 C1 C2 C3 82 03 01 00 01 90 00", "int 0"},  // the template past the answer
        {"7F 49 80 81 01 C1 82 01 03 00 00 90 00", "int 0"},        // indefinite length
        {"7F 49 06 1F 80 01 81 01 C1 90 00", "int 0"},              // a malformed child tag
        {"6A 82", "code 6A82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        card.expect("80 48 00 00 00", c.answer);
        const std::string outcome = Outcome([&] { cry().select(At(kKeyDir, 0x0201)); });
        EXPECT_EQ(outcome == "ok" ? "ok " + ToHex(cry().info().keyPart2) + " / " + ToHex(cry().info().keyPart1) : outcome,
                  c.outcome);
    }
}

TEST_F(CryTessel, SelectingACertificateAndWhatFailsASelection) {
    fs().addFile(At(kCertDir, 0x8441), Attributes(CertRecord(der)));
    cry().select(At(kCertDir, 0x8441));
    EXPECT_TRUE(card.sent.empty());
    EXPECT_EQ(cry().info().keyLength, 128);
    EXPECT_EQ(cry().info().pinReference, 0x00);
    EXPECT_EQ(cry().info().modulus, cardsim::RsaModulus(key));

    // Each failure leaves the selection as it was.
    fs().addFile(At(kCertDir, 0x8442), Attributes(TBytes()));  // no certificate record
    fs().addFile(At(kCertDir, 0x8402), Attributes(TBytes()));  // for key 0202
    keyFiles(0x02, 128);
    const struct {
        path p;
        const char* outcome;
    } cases[] = {
        {{}, "code 6A82"},
        {At(kCertDir, 0x8442), "int 0"},
        {At(kCertDir, 0x8443), "code 6A82"},  // no such file
        {At(kKeyDir, 0x0202), "int 0"},        // its attribute file holds no certificate
        {At(kKeyDir, 0x0303), "code 6A82"},
        {At(kKeyDir, 0x0209), "code 6A82"},    // no key attribute file
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome([&] { cry().select(c.p); }), c.outcome) << FakeFS::Hex(c.p);
        EXPECT_EQ(cry().info().path, At(kCertDir, 0x8441));
    }
    EXPECT_TRUE(card.sent.empty());
}

TEST_F(CryTessel, KeyPairGenerationAndProvider) {
    card.expect("00 47 00 00 0A AC 08 80 01 05 81 03 01 00 01 00", "90 00", 2);
    EXPECT_EQ(cry().genKeyPair(5, true), 0);
    EXPECT_TRUE(card.done());
    EXPECT_EQ(cry().provider(0x1001).keySizes, (std::vector<unsigned short>{128, 256}));
    EXPECT_EQ(Outcome([&] { cry().provider(0); }), "code FACE");
    EXPECT_EQ(Outcome([&] { cry().encrypt(Hex("01")); }), "code FACE");
    EXPECT_EQ(Outcome([&] { cry().remove(); }), "code FACE");
}

CCryptoInfo ImportInfo(unsigned short length, size_t part1, size_t part2) {
    CCryptoInfo i;
    i.keyLength = length;
    i.keyPart1.assign(part1, 0x11);
    i.keyPart2.assign(part2, 0x22);
    i.keyPart3 = Hex("33");
    i.keyPart4 = Hex("44");
    i.keyPart5 = Hex("55 55");
    i.keyPart6 = Hex("66");
    i.keyPart7 = Hex("77");
    i.keyPart8 = Hex("88");
    return i;
}

TEST_F(CryTessel, KeyImportTemplate) {
    const std::string inner = "8A 01 04 83 02 01 23 80 02 00 80 86 0E 00 00 00 FF 00 FF 00 81 00 81 00 00 00 81 "
                              "85 05 05 0C 20 00 A3";
    TBytes k = Hex("90 03 11 11 11 91 81 80");
    k.insert(k.end(), 128, 0x22);
    k = Concat(k, Hex("92 81 01 33 93 81 03 44 55 55 94 81 03 66 77 88"));
    const TBytes i = Hex(inner);
    TBytes command = Hex("00 E0 08 00 00");
    PutBE16(command, static_cast<unsigned short>(4 + i.size() + 4 + k.size()));
    command = Concat(command, Hex("62 82"));
    PutBE16(command, static_cast<unsigned short>(i.size() + 4 + k.size()));
    command = Concat(Concat(command, i), Hex("71 82"));
    PutBE16(command, static_cast<unsigned short>(k.size()));
    command = Concat(command, k);
    applet->pack->expect(command, Hex("90 00"), 1024);
    cry().create(0x0123, ImportInfo(128, 3, 128));
    EXPECT_TRUE(applet->pack->done());
    EXPECT_EQ(applet->pack->calls.size(), 1u);
    EXPECT_TRUE(card.sent.empty());
}

TEST_F(CryTessel, KeyImportLengthsAndRefusals) {
    // A 256-byte second part takes 82 and two length bytes.
    CCryptoInfo big = ImportInfo(256, 1, 256);
    struct Case {
        const char* what;
        unsigned short fid;
        CCryptoInfo info;
        const char* outcome;
    } cases[] = {
        {"fid 0000", 0x0000, ImportInfo(128, 1, 1), "code 6900"},
        {"fid 3F00", 0x3F00, ImportInfo(128, 1, 1), "code 6900"},
        {"fid 3FFF", 0x3FFF, ImportInfo(128, 1, 1), "code 6900"},
        {"fid FFFF", 0xFFFF, ImportInfo(128, 1, 1), "code 6900"},
        {"length 192", 0x0201, ImportInfo(192, 1, 1), "code 6900"},
        {"a first part too long for its byte", 0x0201, ImportInfo(128, 256, 1), "code 6B00"},
        {"parts too long for the command", 0x0201, ImportInfo(128, 1, 0xFFF0), "code 6B00"},
    };
    for (const Case& c : cases) EXPECT_EQ(Outcome([&] { cry().create(c.fid, c.info); }), c.outcome) << c.what;
    EXPECT_TRUE(applet->pack->calls.empty());

    applet->pack->answerAnything = true;
    cry().create(0x0201, big);
    ASSERT_EQ(applet->pack->calls.size(), 1u);
    EXPECT_NE(applet->pack->calls[0].find("90 01 11 91 82 01 00 22 22"), std::string::npos);
}

TEST_F(CryTessel, AFailedImportIsRaisedAgainFromTheFacet) {
    struct FailingPack : IAppPack {
        void sm(const TBytes&, TBytes&) override { ExternalRaise(0x6A84, L"elsewhere", 7); }
    };
    applet->setPack(new FailingPack);
    try {
        cry().create(0x0201, ImportInfo(128, 3, 128));
        ADD_FAILURE() << "no error";
    } catch (const CSCardException& e) {
        EXPECT_EQ(e.code(), 0x6A84);
        EXPECT_EQ(e.file(), "Externals/Internal/LibAPDU/Source/token/appcry/cry_tessel");
    }
}

TEST_F(CryTessel, ChainedDecipherAndItsAnswerWalk) {
    const TBytes data(128, 0x5C);
    const TBytes command = Concat(Concat(Hex("00 2A 80 0C 00 00 83 82 81 80"), data), Hex("00 00"));
    struct Case {
        const char* answer;
        const char* outcome;
    } cases[] = {
        {"80 03 AA BB CC 90 00", "AA BB CC"},
        {"99 01 00 80 02 AA BB 90 00", "AA BB"},
        {"80 82 00 01 AA 90 00", "AA"},
        {"99 01 00 90 00", "int 0"},       // no 80
        {"80 04 AA BB CC 90 00", "int 0"}, // value into the status word
        {"80 80 AA 00 00 90 00", "int 0"},
        {"80 85 00 00 00 00 01 AA 90 00", "int 0"},
        {"90 00", "int 0"},
        {"6A 82", "code 6A82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        applet->pack->expect(command, Hex(c.answer), 1024);
        TBytes plain;
        const std::string outcome = Outcome([&] { plain = cry().decrypt(data); });
        EXPECT_EQ(outcome == "ok" ? ToHex(plain) : outcome, c.outcome);
    }
    EXPECT_TRUE(applet->pack->done());
    // 256 bytes of data: the length takes 82 and two bytes.
    applet->pack->expect(Concat(Concat(Hex("00 2A 80 0C 00 01 04 82 82 01 00"), TBytes(256, 0x5C)), Hex("00 00")),
                         Hex("80 01 01 90 00"));
    EXPECT_EQ(cry().decrypt(TBytes(256, 0x5C)), Hex("01"));
    EXPECT_TRUE(card.sent.empty());
    // Data whose element no longer fits the two-byte Lc: refused before the chain.
    const size_t calls = applet->pack->calls.size();
    EXPECT_EQ(Outcome([&] { cry().decrypt(TBytes(0xFFFF - 3, 0x5C)); }), "code 6B00");
    EXPECT_EQ(Outcome([&] { cry().decrypt(TBytes(0x10000, 0x5C)); }), "code 6B00");
    EXPECT_EQ(Outcome([&] { cry().signUseHashData(1, TBytes(), TBytes(0xFFFF - 3, 0x48)); }), "code 6B00");
    EXPECT_EQ(applet->pack->calls.size(), calls);
}

TEST_F(CryTessel, SigningSelectsTheKeyAndChainsTheHash) {
    keyFiles(0x01, 128);
    const TBytes hash(20, 0x48);
    applet->pack->expect(Concat(Concat(Hex("00 2A 9E 8A 00 00 17 80 81 14"), hash), Hex("00 00")),
                         Hex("51 52 53 90 00"), 1024);
    EXPECT_EQ(cry().signUseHashData(1, Hex("FF"), hash), Hex("51 52 53"));
    const size_t n = fs().calls.size();
    EXPECT_EQ(fs().calls[n - 2], "select 3F00/3000/3002/0201");
    EXPECT_EQ(fs().calls[n - 1], "select 3F00/3000/3002/0042");
    applet->pack->expect(Concat(Concat(Hex("00 2A 9E 8A 00 00 17 80 81 14"), hash), Hex("00 00")), Hex("69 82"));
    EXPECT_NE(Outcome([&] { cry().signUseHashData(1, TBytes(), hash); }), "ok");
    EXPECT_TRUE(applet->pack->done());
}

TEST_F(CryTessel, ReachesTheFileSystemInstalledAfterIt) {
    // The facet is built before the applet's file system: it must find the one installed later.
    FakeFS* later = new FakeFS;
    later->addDir(kKeyDir);
    later->addDir(kCertDir);
    later->addFile(At(kKeyDir, 0x0207), TBytes(1));
    applet->setFs(later);
    EXPECT_EQ(cry().list(0), std::vector<path>{At(kKeyDir, 0x0207)});
}

}  // namespace

namespace {

// A Tessel key card in plain, behind a test pack facet that records the plain
// commands the facet hands it: keys generated or imported into the key folder
// of the in-memory file system, the key of the file selected last used for the
// public key, the decipher and the signature. It reads an import as the
// public exponent (90), the modulus (91) and the private exponent (92).
class TesselKeyCard : public ISender, public IAppPack {
public:
    explicit TesselKeyCard(FakeFS* fs) : m_fs(fs) {}

    void send(const TBytes& command, TBytes& response) override { response = answer(command); }
    TBytes atr() override { return TBytes(); }
    void sm(const TBytes& command, TBytes& output) override { record(command, output); }
    void chain(const TBytes& command, TBytes& output) override { record(command, output); }

    std::vector<TBytes> plain;  // what the pack facet was handed

private:
    void record(const TBytes& command, TBytes& output) {
        plain.push_back(command);
        output = answer(command);
    }
    // The key of the key or attribute file selected last.
    cardsim::SimRsaKey current() const {
        for (auto it = m_fs->calls.rbegin(); it != m_fs->calls.rend(); ++it) {
            if (it->compare(0, 22, "select 3F00/3000/3002/") != 0) continue;
            const unsigned fid = static_cast<unsigned>(std::stoul(it->substr(22), nullptr, 16));
            const unsigned char nn = (fid & 0xFF00) == 0x0200 ? fid & 0xFF : ((fid & 0xFF) - 1) & 0xBF;
            auto k = m_keys.find(nn);
            return k == m_keys.end() ? cardsim::SimRsaKey() : k->second;
        }
        return cardsim::SimRsaKey();
    }
    void install(unsigned char nn, const cardsim::SimRsaKey& key) {
        m_keys[nn] = key;
        m_fs->addFile(At(kKeyDir, 0x0200 | nn), TBytes(4, 0));
        m_fs->addFile(At(kKeyDir, static_cast<unsigned short>((nn | 0x40) + 1)),
                      TBytes(static_cast<size_t>(cardsim::RsaBits(key) / 8), 0));
    }
    // Values of the elements of a BER list of one-byte tags, lengths 81/82 as the facet writes them.
    static std::map<unsigned char, TBytes> Elements(const TBytes& d, size_t pos, size_t end) {
        std::map<unsigned char, TBytes> out;
        while (pos + 2 <= end) {
            const unsigned char tag = d[pos++];
            size_t n = d[pos++];
            if (n == 0x81) n = d[pos++];
            else if (n == 0x82) { n = (d[pos] << 8) | d[pos + 1]; pos += 2; }
            if (pos + n > end) break;
            out[tag] = TBytes(d.begin() + static_cast<std::ptrdiff_t>(pos), d.begin() + static_cast<std::ptrdiff_t>(pos + n));
            pos += n;
        }
        return out;
    }
    TBytes answer(const TBytes& c) {
        const TBytes head(c.begin(), c.begin() + 4);
        if (head == Hex("00 47 00 00")) {
            install(c[9], cardsim::MakeRsaKey(1024));
            return Hex("90 00");
        }
        if (head == Hex("80 48 00 00")) {
            const cardsim::SimRsaKey k = current();
            if (!k) return Hex("6A 88");
            TBytes inner;
            PutTlv(inner, 0x81, cardsim::RsaModulus(k));
            PutTlv(inner, 0x82, cardsim::RsaPublicExponent(k));
            TBytes out = Hex("7F 49");
            PutLength(out, inner.size());
            return Concat(Concat(out, inner), Hex("90 00"));
        }
        const size_t lc = (c[5] << 8) | c[6];
        if (head == Hex("00 E0 08 00")) {
            // 62 82 LL LL, then the inner part with 83 (the file) and 71 82 LL LL with the key.
            const std::map<unsigned char, TBytes> fcp = Elements(c, 11, 7 + lc);
            const size_t keyAt = 7 + lc - fcp.at(0x71).size();
            const std::map<unsigned char, TBytes> key = Elements(c, keyAt, 7 + lc);
            install(static_cast<unsigned char>(fcp.at(0x83)[1]), cardsim::RsaKeyFromParts(key.at(0x91), key.at(0x90), key.at(0x92)));
            return Hex("90 00");
        }
        const std::map<unsigned char, TBytes> data = Elements(c, 7, 7 + lc);
        const cardsim::SimRsaKey k = current();
        TBytes result;
        if (head == Hex("00 2A 80 0C") && k && cardsim::RsaDecrypt(k, data.at(0x82), result)) {
            TBytes out;
            PutTlv(out, 0x80, result);
            return Concat(out, Hex("90 00"));
        }
        if (head == Hex("00 2A 9E 8A") && k && cardsim::RsaSignRaw(k, data.at(0x80), result)) return Concat(result, Hex("90 00"));
        return Hex("6A 80");
    }
    static void PutLength(TBytes& out, size_t n) {
        if (n > 0xFF) out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
        else if (n > 0x7F) out.insert(out.end(), {0x81, static_cast<unsigned char>(n)});
        else out.push_back(static_cast<unsigned char>(n));
    }
    static void PutTlv(TBytes& out, unsigned char tag, const TBytes& v) {
        out.push_back(tag);
        PutLength(out, v.size());
        out.insert(out.end(), v.begin(), v.end());
    }

    FakeFS* m_fs;
    std::map<unsigned char, cardsim::SimRsaKey> m_keys;
};

TEST(CryTesselRoundTrip, GeneratedAndImportedKeysGiveBackTheirPublicKeySignAndDecipher) {
    FakeFS* fs = new FakeFS;
    fs->addDir(kKeyDir);
    fs->addDir(kCertDir);
    TesselKeyCard card(fs);
    CryApplet applet(&card, new CErrorTessel);
    applet.setCrypto(new CCryTessel(&applet));
    applet.setFs(fs);
    // The applet owns its pack facet; the card plays it through this one.
    struct Forward : IAppPack {
        explicit Forward(IAppPack* p) : to(p) {}
        void sm(const TBytes& c, TBytes& o) override { to->sm(c, o); }
        void chain(const TBytes& c, TBytes& o) override { to->chain(c, o); }
        IAppPack* to;
    };
    applet.setPack(new Forward(&card));
    IAppCrypto& cry = *applet.crypto();

    // An OpenSSL key imported as file 0203: its public key comes back through 7F 49.
    const cardsim::SimRsaKey imported = cardsim::SharedRsaKey(1024);
    CCryptoInfo info;
    info.keyLength = 128;
    info.keyPart1 = cardsim::RsaPublicExponent(imported);
    info.keyPart2 = cardsim::RsaModulus(imported);
    info.keyPart3 = cardsim::RsaPrivatePart(imported, "d");
    fs->select(kKeyDir);
    cry.create(0x0203, info);
    ASSERT_EQ(card.plain.size(), 1u);
    EXPECT_EQ(ToHex(TBytes(card.plain[0].begin(), card.plain[0].begin() + 5)), "00 E0 08 00 00");
    cry.select(At(kKeyDir, 0x0203));
    EXPECT_EQ(cry.info().keyPart2, cardsim::RsaModulus(imported));
    EXPECT_EQ(cry.info().keyPart1, cardsim::RsaPublicExponent(imported));
    EXPECT_EQ(cry.info().keyLength, 128);

    // A signature over a hash that OpenSSL verifies, and a decipher of what OpenSSL encrypted.
    const TBytes hash(32, 0x5A);
    EXPECT_TRUE(cardsim::RsaVerifyRaw(imported, hash, cry.signUseHashData(3, TBytes(), hash)));
    const TBytes secret = Hex("53 45 43 52 45 54");
    EXPECT_EQ(cry.decrypt(cardsim::RsaEncrypt(imported, secret)), secret);

    // A key pair the card generates, selected by its number.
    EXPECT_EQ(cry.genKeyPair(5, false), 0);
    cry.select(At(kKeyDir, 0x0205));
    const TBytes modulus = cry.info().keyPart2;
    ASSERT_EQ(modulus.size(), 128u);
    const TBytes signature = cry.signUseHashData(5, TBytes(), hash);
    EXPECT_FALSE(cardsim::RsaVerifyRaw(imported, hash, signature));
    EXPECT_EQ(cry.list(0), (std::vector<path>{At(kKeyDir, 0x0203), At(kKeyDir, 0x0205)}));
    // The plain commands the pack facet carried: the import, a decipher and two signatures.
    EXPECT_EQ(card.plain.size(), 4u);
}

}  // namespace
