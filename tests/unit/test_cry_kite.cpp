// The Kite family's crypto facets against an in-memory file system and a
// scripted card: what the two finders make of the Kite layouts, the commands
// that put a key into the security environment, and the two decipher forms.
#include <gtest/gtest.h>

#include <memory>

#include "appcry/cry_kite.h"
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

const path kCertDir = {0x3F00, 0x6666, 0x1002};
const path kKeyDir = {0x3F00, 0x6666, 0x6000};
const path kFallbackDir = {0x3F00, 0x6666, 0x5000, 0x0201};
const path kObjects = {0x3F00, 0x6666, 0x5000, 0x0220};

path At(path p, std::initializer_list<unsigned short> rest) {
    p.insert(p.end(), rest);
    return p;
}

TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

// A certificate record: two bytes, the length up to the end of the
// certificate (little-endian), the certificate, then `tail`.
TBytes Record(const TBytes& der, const TBytes& tail) {
    const size_t length = der.size() + 4;
    TBytes r = {0xC0, 0xDE, static_cast<unsigned char>(length & 0xFF), static_cast<unsigned char>(length >> 8)};
    r.insert(r.end(), der.begin(), der.end());
    r.insert(r.end(), tail.begin(), tail.end());
    return r;
}
TBytes NamedTail(const std::string& name) { return Concat(Concat(Hex("01 02 03 04 05 06 00"), Text(name)), Hex("00 FF")); }

// A name as text, its unprintable bytes as <NN>.
std::string Name(const TBytes& name) {
    std::string s;
    for (unsigned char ch : name) {
        char b[8];
        std::snprintf(b, sizeof b, ch >= 0x20 && ch < 0x7F ? "%c" : "<%02X>", ch);
        s += b;
    }
    return s;
}

// "last-two-elements name length pin" of each object.
std::vector<std::string> Objects(const std::vector<CCryptoInfo>& v) {
    std::vector<std::string> out;
    for (const CCryptoInfo& c : v) {
        char b[96];
        const size_t n = c.path.size();
        std::snprintf(b, sizeof b, "%04X/%04X '%s' %u %02X", n > 1 ? c.path[n - 2] : 0, c.path.back(),
                      Name(c.name).c_str(), c.keyLength, c.pinReference);
        out.push_back(b);
        EXPECT_EQ(c.provider, 0x1001);
        EXPECT_EQ(c.flags, 3);
    }
    return out;
}

class CryKite : public ::testing::Test {
protected:
    void SetUp() override {
        applet.reset(new CryApplet(&card, new CErrorKite, false, {0x3F00, 0x0001}));
        fs().addDir({0x3F00});
        fs().addDir({0x3F00, 0x6666});
        fs().addDir(kCertDir);
        fs().addDir(kKeyDir);
        fs().addDir({0x3F00, 0x6666, 0x1001});
    }
    FakeFS& fs() { return *applet->fs; }
    CAdapter adapter() { return AppletToAdapter(applet.get()); }
    void sizeTable(const std::string& hex) { fs().addFile({0x3F00, 0x6666, 0x1001, 0x1001}, Hex(hex)); }
    void index(const std::string& text) { fs().addFile(At(kKeyDir, {0xECEC}), Text(text)); }

    ScriptedSender card;
    std::unique_ptr<CryApplet> applet;
};

TEST_F(CryKite, CertificateRecordsAndTheirNames) {
    const TBytes der = Hex("30 03 02 01 05");
    fs().addFile(At(kCertDir, {0x0001}), Record(der, NamedTail("NAME")));
    fs().addFile(At(kCertDir, {0x0002}), Record(der, Hex("01 02 03")));  // short tail: the FID's low byte
    fs().addFile(At(kCertDir, {0x0003}), Record(der, Hex("01 02 03 04 05 06 41 42")));  // no zero: no name
    fs().addFile(At(kCertDir, {0x0004}), Record(der, Hex("01 02 03 04 05 06 00 41 42")));  // name to the end
    fs().addFile(At(kCertDir, {0x0005}), Hex("C0 DE 09"));                        // under four bytes
    fs().addFile(At(kCertDir, {0x0006}), Hex("C0 DE 03 00 01 02 03 04 05 06"));   // length inside the header
    fs().addFile(At(kCertDir, {0x0007}), Hex("C0 DE 40 00 30 03 02 01 05"));      // length past the file
    fs().addFile(At(kCertDir, {0x0008}), Record(TBytes(), NamedTail("E")));       // empty certificate, kept
    fs().addFile(At(kCertDir, {0x1001}), Record(der, NamedTail("X")));            // not a certificate file
    fs().addDir(At(kCertDir, {0x0009}));                                          // a folder is no file
    CKite4Finder f(adapter());
    f.getcerts();
    EXPECT_EQ(Objects(f.certs), (std::vector<std::string>{"1002/0001 'NAME' 0 FF", "1002/0002 '<02>' 0 FF",
                                                          "1002/0003 '' 0 FF", "1002/0004 'AB' 0 FF",
                                                          "1002/0008 'E' 0 FF"}));
    EXPECT_EQ(f.certs[0].certificate, der);
    EXPECT_TRUE(f.certs[4].certificate.empty());
}

TEST_F(CryKite, KeysNamedByTheIndexSizedByTheTable) {
    index("&1003 x=alpha&1001 y=be&ta&2002");
    // Entries by key number: 0080, 4010, 0000, (3) 0000, 0040, 4020.
    sizeTable("80 00 10 40 00 00 00 00 40 00 20 41");
    fs().addFile(At(kKeyDir, {0x1001}), Hex("00 AA"));
    fs().addFile(At(kKeyDir, {0x2002}), Hex("01"));
    fs().addFile(At(kKeyDir, {0x1003}), Hex("05"));  // no "=" before its tag: no name
    fs().addFile(At(kKeyDir, {0x1004}), Hex("04"));  // not in the index: no name
    fs().addFile(At(kKeyDir, {0x1005}), Hex("02"));  // length 0: not listed
    fs().addFile(At(kKeyDir, {0x2006}), Hex("09"));  // past the size table: dropped
    fs().addFile(At(kKeyDir, {0x3001}), Hex("00"));  // neither 1xxx nor 2xxx
    CKite4Finder f(adapter());
    f.getkeys();
    EXPECT_EQ(Objects(f.keys), (std::vector<std::string>{"1001/0000 'alpha' 128 01", "1003/0005 '' 256 01",
                                                         "1004/0004 '' 64 01", "2002/0001 'be' 128 01"}));
    EXPECT_EQ(f.keys[0].path, At(kKeyDir, {0x1001, 0x0000}));
}

TEST_F(CryKite, AnEmptyIndexSendsTheFinderToTheFallbackFolder) {
    index("");
    sizeTable("80 00 80 00 00 00");
    fs().addDir(kFallbackDir);
    TBytes named(12, 0);
    named[0x0B] = 0x40;
    fs().addFile(At(kFallbackDir, {0x0501}), named);        // key 0, name 41
    fs().addFile(At(kFallbackDir, {0x0502}), TBytes(12, 0xFF));  // key 1, name FF + 1 = 00
    fs().addFile(At(kFallbackDir, {0x0503}), named);        // key 2: length 0
    fs().addFile(At(kFallbackDir, {0x0601}), named);        // not 05xx
    fs().addFile(At(kKeyDir, {0x1001}), Hex("00"));         // not looked at
    CKite4Finder f(adapter());
    f.getkeys();
    EXPECT_EQ(Objects(f.keys), (std::vector<std::string>{"0501/0000 'A' 128 01", "0502/0001 '<00>' 128 01"}));
}

TEST_F(CryKite, WithoutSizeTableNoKeys) {
    index("x=alpha&1001");
    fs().addFile(At(kKeyDir, {0x1001}), Hex("00"));
    fs().addFile(At(kCertDir, {0x0001}), Record(Hex("30 00"), NamedTail("alpha")));
    CKite4Finder f(adapter());
    f.getcerts();
    f.getkeys();
    EXPECT_TRUE(f.keys.empty());
    EXPECT_EQ(f.certs.size(), 1u);
}

// A card with one 1024-bit and one 2048-bit key, each with its certificate.
class CryKiteFacet : public CryKite {
protected:
    void SetUp() override {
        CryKite::SetUp();
        index("a=small&1001 b=large&1002");
        sizeTable("80 00 20 40");
        fs().addFile(At(kKeyDir, {0x1001}), Hex("00"));
        fs().addFile(At(kKeyDir, {0x1002}), Hex("01"));
        small = cardsim::SharedRsaKey(1024);
        large = cardsim::SharedRsaKey(2048);
        fs().addFile(At(kCertDir, {0x0001}), Record(cardsim::MakeCertificate(small, 3, "s"), NamedTail("small")));
        fs().addFile(At(kCertDir, {0x0002}), Record(cardsim::MakeCertificate(large, 1, "l"), NamedTail("large")));
        fs().addFile(At(kCertDir, {0x0003}), Record(cardsim::MakeCertificate(small, 1, "c"), NamedTail("alone")));
    }
    cardsim::SimRsaKey small, large;
};

TEST_F(CryKiteFacet, SelectionPutsTheKeyIntoTheEnvironmentAndDecipherTakesTheFormItsLengthNeeds) {
    applet->setCrypto(new CCryKite4(applet.get()));
    IAppCrypto& cry = *applet->crypto();
    EXPECT_EQ(cry.list(0), (std::vector<path>{At(kKeyDir, {0x1001, 0}), At(kKeyDir, {0x1002, 1}), At(kCertDir, {0x0003})}));
    EXPECT_EQ(cry.list(9), cry.list(0));
    EXPECT_EQ(cry.provider(0x1001).keySizes, (std::vector<unsigned short>{128, 256}));

    card.expect("00 22 03 FE 00", "90 00", 258).expect("00 22 01 B8 03 83 01 03 00", "90 00", 258);
    cry.select(At(kKeyDir, {0x1001, 0}));
    EXPECT_EQ(fs().calls.back(), "select 3F00/6666/1001");
    EXPECT_EQ(cry.info().keyLength, 128);
    const TBytes c128(128, 0x01);
    card.expect(Concat(Concat(Hex("00 2A 80 86 81 00"), c128), Hex("00")), Hex("AB CD 90 00"), 1026);
    EXPECT_EQ(cry.decrypt(c128), Hex("AB CD"));

    card.expect("00 22 03 FE 00", "90 00").expect("00 22 01 B8 03 83 01 05 00", "90 00");
    cry.select(At(kKeyDir, {0x1002, 1}));
    const TBytes c256(256, 0x02);
    card.expect(Concat(Concat(Hex("00 2A 80 86 00 01 01 00"), c256), Hex("04 00")), Hex("EF 90 00"), 1026);
    EXPECT_EQ(cry.decrypt(c256), Hex("EF"));
    EXPECT_TRUE(card.done());
}

TEST_F(CryKiteFacet, DecipherNeedsAKeyAndDataBelowItsModulus) {
    applet->setCrypto(new CCryKite(applet.get()));
    IAppCrypto& cry = *applet->crypto();
    EXPECT_EQ(cry.provider(0x1001).keySizes, (std::vector<unsigned short>{128}));
    EXPECT_EQ(Outcome([&] { cry.decrypt(TBytes(128, 1)); }), "code 6281");  // nothing selected
    cry.select(At(kCertDir, {0x0003}));                                     // a certificate alone: no command
    EXPECT_TRUE(card.sent.empty());
    EXPECT_EQ(Outcome([&] { cry.decrypt(TBytes(128, 1)); }), "code 6A82");
    card.expect("00 22 03 FE 00", "90 00").expect("00 22 01 B8 03 83 01 03 00", "90 00");
    cry.select(At(kKeyDir, {0x1001, 0}));
    EXPECT_EQ(Outcome([&] { cry.decrypt(cardsim::RsaModulus(small)); }), "code 6281");
    EXPECT_EQ(Outcome([&] { cry.decrypt(TBytes(127, 1)); }), "code 6281");
    EXPECT_TRUE(card.done());
    EXPECT_EQ(Outcome([&] { cry.select({}); }), "code 6A82");
    EXPECT_EQ(Outcome([&] { cry.select(At(kKeyDir, {0x1001})); }), "code 6A82");
    EXPECT_TRUE(cry.info().path.empty());
    EXPECT_EQ(Outcome([&] { cry.encrypt(Hex("01")); }), "code FACE");
    EXPECT_EQ(Outcome([&] { cry.provider(0x1002); }), "code FACE");
}

TEST_F(CryKiteFacet, ASelectionTheCardRefusesLeavesNothingSelected) {
    applet->setCrypto(new CCryKite(applet.get()));
    IAppCrypto& cry = *applet->crypto();
    card.expect("00 22 03 FE 00", "90 00").expect("00 22 01 B8 03 83 01 03 00", "90 00");
    cry.select(At(kKeyDir, {0x1001, 0}));
    // The second key: the environment is cleared, then its key is refused.
    card.expect("00 22 03 FE 00", "90 00").expect("00 22 01 B8 03 83 01 05 00", "6A 88");
    EXPECT_NE(Outcome([&] { cry.select(At(kKeyDir, {0x1002, 1})); }), "ok");
    EXPECT_TRUE(cry.info().path.empty());
    EXPECT_TRUE(cry.info().privateKey.empty());
    // So no decipher runs under what the card holds now.
    EXPECT_EQ(Outcome([&] { cry.decrypt(TBytes(256, 1)); }), "code 6281");
    EXPECT_EQ(Outcome([&] { cry.decrypt(TBytes(128, 1)); }), "code 6281");
    EXPECT_TRUE(card.done());
}

TEST_F(CryKiteFacet, AnUnparsableCertificateEndsTheOneSearch) {
    fs().addFile(At(kCertDir, {0x0004}), Record(Hex("30 80 00 00"), NamedTail("bad")));
    applet->setCrypto(new CCryKite(applet.get()));
    EXPECT_EQ(Outcome([&] { applet->crypto()->list(0); }), "int 0");
    const size_t calls = fs().calls.size();
    EXPECT_TRUE(applet->crypto()->list(0).empty());
    EXPECT_EQ(fs().calls.size(), calls);
}

// ---------------------------------------------------------------- Kite4 FIPS

class CryKiteFips : public ::testing::Test {
protected:
    void SetUp() override {
        applet.reset(new CryApplet(&card, new CErrorKite, true, {0x3F00, 0x0001}));
        fs().addDir({0x3F00});
        fs().addDir(kObjects);
    }
    FakeFS& fs() { return *applet->fs; }
    void object(unsigned short fid, const std::string& descriptor, const TBytes& der) {
        fs().addDir(At(kObjects, {fid}));
        fs().addFile(At(kObjects, {fid, 0x0001}), Hex(descriptor));
        if (!der.empty()) fs().addFile(At(kObjects, {fid, 0x0002}), der);
    }
    ScriptedSender card;
    std::unique_ptr<CryApplet> applet;
};

TEST_F(CryKiteFips, FinderReadsTagLengthValueDescriptors) {
    const TBytes der = Hex("30 00");
    object(0x1001, "AA 01 01 BB 02 02 41 42", der);
    object(0x1002, "", der);                 // empty descriptor: no name, nothing read past it
    object(0x1003, "AA 01 05 BB", der);      // first field overruns
    object(0x1004, "AA 01 01 BB 02 01 41", TBytes());  // no certificate: dropped
    object(0x3001, "00 00 00 00 00 00 01 00 02 00 03 00 04 01 FF 05 01 4B", TBytes());
    object(0x3002, "00 00 00 00 00", TBytes());        // under six bytes
    object(0x3003, "00 00 00 00 00 00 01 00 02 00 03 00", TBytes());  // a field missing
    object(0x2001, "AA 01 01 BB 02 02 41 42", der);
    CKite4FipsFinder f(AppletToAdapter(applet.get()));
    f.getcerts();
    f.getkeys();
    EXPECT_EQ(Objects(f.certs),
              (std::vector<std::string>{"0220/1001 'AB' 0 FF", "0220/1002 '' 0 FF", "0220/1003 '' 0 FF"}));
    EXPECT_EQ(Objects(f.keys),
              (std::vector<std::string>{"0220/3001 'K' 128 01", "0220/3002 '' 128 01", "0220/3003 '' 128 01"}));
}

TEST_F(CryKiteFips, SelectsTheObjectAndDeciphersUnderSecureMessaging) {
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(1024);
    object(0x3001, "00 00 00 00 00 00 01 00 02 00 03 00 04 00 05 01 4B", TBytes());
    object(0x1001, "AA 01 01 BB 05 01 4B", cardsim::MakeCertificate(key, 3, "k"));
    applet->setCrypto(new CCryKite4Fips(applet.get()));
    IAppCrypto& cry = *applet->crypto();
    EXPECT_EQ(cry.provider(0x1001).keySizes, (std::vector<unsigned short>{128}));
    card.expect("00 22 03 33 00", "90 00", 258);
    cry.select(At(kObjects, {0x3001}));
    EXPECT_EQ(fs().calls.back(), "select 3F00/6666/5000/0220/3001");
    const TBytes data(128, 0x03);
    applet->pack->expect(Concat(Concat(Hex("00 2A 80 86 81 00"), data), Hex("00")), Hex("11 22 90 00"), 1026);
    EXPECT_EQ(cry.decrypt(data), Hex("11 22"));
    EXPECT_TRUE(card.done());
    EXPECT_TRUE(applet->pack->done());
    // A refused environment leaves nothing selected.
    card.expect("00 22 03 33 00", "6A 88");
    EXPECT_NE(Outcome([&] { cry.select(At(kObjects, {0x3001})); }), "ok");
    EXPECT_EQ(Outcome([&] { cry.decrypt(data); }), "code 6281");
}

TEST(CryKiteAdapter, FindersReachTheFileSystemTheAppletHoldsWhenTheSearchRuns) {
    ScriptedSender card;
    CryApplet applet(&card, new CErrorKite);
    applet.setCrypto(new CCryKite4(&applet));  // built first, as an applet's init does
    FakeFS* later = new FakeFS;
    later->addDir({0x3F00, 0x6666, 0x1002});
    later->addFile({0x3F00, 0x6666, 0x1002, 0x0001}, Record(cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "x"), NamedTail("x")));
    applet.setFs(later);
    EXPECT_EQ(applet.crypto()->list(0).size(), 1u);
}

}  // namespace
