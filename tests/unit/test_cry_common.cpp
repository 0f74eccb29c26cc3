// The certificate walk that finds an RSA modulus, the data check before an RSA
// decipher, and the pairing of key and certificate objects into containers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "appcry/cry_common.h"
#include "cry_test_support.h"
#include "scripted_sender.h"
#include "sim_rsa.h"

using namespace libapdu;
using cry_test::Outcome;
using testing_card::Hex;

namespace {

// Where `part` starts inside `whole`; npos when it does not.
size_t Find(const TBytes& whole, const TBytes& part) {
    auto it = std::search(whole.begin(), whole.end(), part.begin(), part.end());
    return it == whole.end() ? std::string::npos : static_cast<size_t>(it - whole.begin());
}

struct CertCase {
    int bits;
    int version;
};

class CertificateModulus : public ::testing::TestWithParam<CertCase> {};

TEST_P(CertificateModulus, IsTheModulusOpenSslPutInTheCertificate) {
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(GetParam().bits);
    const TBytes cert = cardsim::MakeCertificate(key, GetParam().version, "modulus");
    const TBytes modulus = extractPublicKeyFromCert(cert);
    EXPECT_EQ(modulus, cardsim::RsaModulus(key));
    // 2047 bits still take 256 bytes: only a sign byte is dropped, never a digit.
    EXPECT_EQ(modulus.size(), static_cast<size_t>((GetParam().bits + 7) / 8));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CertificateModulus,
                         ::testing::Values(CertCase{1024, 1}, CertCase{1024, 3}, CertCase{2047, 1}, CertCase{2047, 3},
                                           CertCase{2048, 1}, CertCase{2048, 3}),
                         [](const ::testing::TestParamInfo<CertCase>& i) {
                             return "Bits" + std::to_string(i.param.bits) + "V" + std::to_string(i.param.version);
                         });

TEST(CertificateWalk, EveryCutCertificateThrowsThePlainZero) {
    const TBytes cert = cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "cut");
    for (size_t n = 0; n < cert.size(); ++n) {
        // Exactly sized copies, so that a read past the end shows under ASan.
        const TBytes prefix(cert.begin(), cert.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_EQ(Outcome([&] { extractPublicKeyFromCert(prefix); }), "int 0") << "prefix of " << n << " bytes";
    }
}

TEST(CertificateWalk, AnIndefiniteOrOverlongLengthOnThePathThrowsThePlainZero) {
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(2048);
    const TBytes cert = cardsim::MakeCertificate(key, 1, "lengths");
    const TBytes modulus = cardsim::RsaModulus(key);
    const size_t at = Find(cert, modulus);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(cert[at - 5], 0x02);  // 02 82 01 01 00, then the modulus
    ASSERT_EQ(cert[at - 4], 0x82);
    // The certificate, the to-be-signed part and the modulus INTEGER.
    for (size_t lengthByte : {size_t(1), size_t(5), at - 4}) {
        for (unsigned char patch : {0x80, 0x85}) {
            TBytes bad = cert;
            bad[lengthByte] = patch;
            EXPECT_EQ(Outcome([&] { extractPublicKeyFromCert(bad); }), "int 0")
                << "length byte at " << lengthByte << " set to " << int(patch);
        }
    }
    TBytes wide = cert;  // four length bytes are the most a length may take
    wide[1] = 0x84;
    EXPECT_EQ(Outcome([&] { extractPublicKeyFromCert(wide); }), "int 0");
}

// A SEQUENCE of short length around `body`.
TBytes Sequence(const TBytes& body) {
    TBytes out;
    out.reserve(body.size() + 2);
    out.push_back(0x30);
    out.push_back(static_cast<unsigned char>(body.size()));
    for (unsigned char b : body) out.push_back(b);
    return out;
}

// A certificate skeleton: the fields the walk counts, around a chosen key.
TBytes Skeleton(const std::string& beforeKeyHex, const std::string& keyInfoHex) {
    return Sequence(Sequence(Hex(beforeKeyHex + " 30 00 30 00 30 00 30 00" + keyInfoHex)));
}

TEST(CertificateWalk, TagsAndLengthsByTheDerRules) {
    // SubjectPublicKeyInfo with the modulus 00 C1 C2 (or as given) and exponent 03.
    const std::string key = " 30 0D 30 00 03 09 00 30 06 02 03 00 C1 C2 02 01 03";
    struct Case {
        const char* what;
        std::string before, keyInfo, expected;
    } cases[] = {
        {"plain", "", key, "C1 C2"},
        {"version and serial are no SEQUENCEs and are not counted", "A0 03 02 01 02 02 01 07", key, "C1 C2"},
        {"a two-byte tag is skipped", "1F 21 01 AA", key, "C1 C2"},
        {"a three-byte tag is skipped", "1F 81 01 01 AA", key, "C1 C2"},
        {"two-byte tag with no number", "1F 80 01 AA", key, "int 0"},
        {"two-byte tag 1E", "1F 1E 01 AA", key, "int 0"},
        {"three-byte tag whose last byte goes on", "1F 81 81 01 AA", key, "int 0"},
        {"long-form length", "04 81 01 AA", key, "C1 C2"},
        {"four length bytes", "04 84 00 00 00 01 AA", key, "C1 C2"},
        {"indefinite length", "04 80 AA 00 00", key, "int 0"},
        {"a skipped element runs past its parent", "04 7F AA", key, "int 0"},
        {"a modulus without sign byte is whole", "", " 30 0C 30 00 03 08 00 30 05 02 02 41 42 02 01 03", "41 42"},
        {"an empty key SEQUENCE", "", " 30 00", "int 0"},
        {"a bit string with only the unused-bits byte", "", " 30 04 30 00 03 01 00 ", "int 0"},
        {"no INTEGER in the key", "", " 30 0B 30 00 03 07 00 30 04 04 02 C1 C2", "int 0"},
        {"an empty modulus", "", " 30 0A 30 00 03 06 00 30 03 02 00 05", "int 0"},
        {"a key SEQUENCE missing: only four SEQUENCEs", "", " 04 00", "int 0"},
    };
    for (const Case& c : cases) {
        const TBytes cert = Skeleton(c.before, c.keyInfo);
        TBytes got;
        const std::string outcome = Outcome([&] { got = extractPublicKeyFromCert(cert); });
        EXPECT_EQ(outcome == "ok" ? testing_card::ToHex(got) : outcome, c.expected) << c.what;
    }
}

TEST(RsaData, MustBeOfTheModulusLengthAndBelowIt) {
    struct Case {
        const char* modulus;
        const char* data;
        bool valid;
    } cases[] = {
        {"C1 C2 C3", "C1 C2 C2", true},   // one below
        {"C1 C2 C3", "C1 C2 C3", false},  // equal
        {"C1 C2 C3", "C1 C3 00", false},  // above at the second byte
        {"C1 C2 C3", "00 00 00", true},
        {"C1 C2 C3", "C1 C2", false},     // shorter
        {"C1 C2", "00 C1 C2", false},     // longer, though smaller as a number
        {"", "", false},                  // nothing selected
        {"", "01", false},                // a key without certificate
    };
    for (const Case& c : cases) EXPECT_EQ(isValidDataForRSA(Hex(c.modulus), Hex(c.data)), c.valid) << c.modulus << " / " << c.data;
}

// ---------------------------------------------------------------- unite

class TableFinder : public CCryFinder {
public:
    void getcerts() override {}
    void getkeys() override {}
};

CCryptoInfo KeyObject(const std::string& name, unsigned short fid, unsigned short length = 128) {
    CCryptoInfo k;
    k.provider = 0x1001;
    k.keyLength = length;
    k.pinReference = 0x11;
    k.name.assign(name.begin(), name.end());
    k.flags = 2;
    k.path = {0x3F00, fid};
    return k;
}

CCryptoInfo CertObject(const std::string& name, unsigned short fid, const TBytes& der) {
    CCryptoInfo c;
    c.provider = 0x1001;
    c.name.assign(name.begin(), name.end());
    c.flags = 3;
    c.path = {0x3F00, fid};
    c.certificate = der;
    return c;
}

// One container as "path name key/cert keyLength pin flags modulus-size private-size".
std::string Describe(const CCryptoInfo& c) {
    char b[96];
    std::snprintf(b, sizeof b, "%04X %s %s%s %u %02X %u %zu %zu", c.path.empty() ? 0 : c.path.back(),
                  std::string(c.name.begin(), c.name.end()).c_str(), c.privateKey.empty() ? "-" : "k",
                  c.certificate.empty() ? "-" : "c", c.keyLength, c.pinReference, c.flags, c.modulus.size(),
                  c.privateKey.size());
    return b;
}

TEST(Unite, PairsByNameThenListsLoneKeysThenLoneCertificates) {
    const TBytes certA = cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "a");
    const TBytes certB = cardsim::MakeCertificate(cardsim::SharedRsaKey(2048), 1, "b");
    TableFinder f;
    f.keys = {KeyObject("A", 0x3001), KeyObject("lone", 0x3002, 256), KeyObject("", 0x3003)};
    f.certs = {CertObject("A", 0x1001, certA), CertObject("B", 0x1002, certB), CertObject("A", 0x1003, certB),
               CertObject("", 0x1004, certA)};
    f.unite();
    std::vector<std::string> got;
    for (const CCryptoInfo& c : f.containers()) got.push_back(Describe(c));
    const std::vector<std::string> expected = {
        "3001 A kc 128 11 2 128 128",  // one key, two certificates of its name: two containers
        "3001 A kc 128 11 2 256 128",
        "3003  kc 128 11 2 128 128",   // empty names pair too
        "3002 lone k- 256 11 2 0 256",
        "1002 B -c 256 00 3 256 0",    // a lone certificate: its modulus gives the length, PIN 0
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(f.containers()[0].certificate, certA);
    EXPECT_EQ(f.containers()[1].certificate, certB);
    EXPECT_TRUE(f.containers()[0].keyPart1.empty());
}

TEST(Unite, ACertificateItCannotParseEndsItWithThePlainZeroKeepingWhatCameBefore) {
    const TBytes good = cardsim::MakeCertificate(cardsim::SharedRsaKey(1024), 3, "good");
    TableFinder f;
    f.keys = {KeyObject("one", 0x3001), KeyObject("two", 0x3002), KeyObject("three", 0x3003)};
    f.certs = {CertObject("one", 0x1001, good), CertObject("two", 0x1002, Hex("30 03 02 01 00")),
               CertObject("three", 0x1003, good)};
    EXPECT_EQ(Outcome([&] { f.unite(); }), "int 0");
    ASSERT_EQ(f.containers().size(), 1u);
    EXPECT_EQ(f.containers()[0].path.back(), 0x3001);
}

}  // namespace
