// The key objects of the Java and Heron card sides in raw APDUs: the PIN
// information command describing the selected key when P2 is 31, the key data,
// and the decipher with its PIN and secure-messaging conditions.
#include <gtest/gtest.h>

#include "cardsim_test_util.h"
#include "sim_rsa.h"
#include "sim_tokens.h"

using namespace cardsim;
using cardsim_test::H;
using cardsim_test::Sw;
using cardsim_test::Tx;

namespace {

struct Family {
    const char* name;
    std::unique_ptr<CardSim> (*make)(const SimTokenOptions&);
    const char* select;    // CLA INS of SELECT
    const char* info;      // CLA INS of the PIN and key information
    const char* decipher;  // CLA INS
    const char* keyData;   // CLA INS; empty: none
};
void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

const Family kFamilies[] = {
    {"Java", &MakeJavaToken, "00 A4", "80 07", "80 0C", "80 08"},
    {"Heron", &MakeHeronToken, "80 03", "80 14", "80 19", ""},
};

class JavaKeysSim : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        SimTokenOptions o;
        o.fips = fips;
        card = GetParam().make(o);
        applet = card->find<SimJavaApplet>();
        key = SharedRsaKey(1024);
        applet->addKeyObject(0x3001, H("00 00 00 00 00 00"), key);
        applet->addCertificateObject(0x1001, H("01 AA"), MakeCertificate(key, 3, "c"));
        const Bytes aid = applet->aid();
        Bytes select = {0x00, 0xA4, 0x04, 0x00, static_cast<unsigned char>(aid.size())};
        select.insert(select.end(), aid.begin(), aid.end());
        ASSERT_EQ(StatusOf(card->transmit(select)), kSwOk);
    }
    std::string F(const char* head, const std::string& rest) { return std::string(head) + " " + rest; }
    void selectPath(const std::string& path) {
        ASSERT_EQ(Sw(*card, F(GetParam().select, "08 0C " + path)), "9000") << path;
    }

    bool fips = false;
    std::unique_ptr<CardSim> card;
    SimJavaApplet* applet = nullptr;
    SimRsaKey key;
};

TEST_P(JavaKeysSim, KeyInformationKeyDataAndTheDecipher) {
    // P2 31: the key of the selected object; other P2 values stay PIN references.
    selectPath("08 6666 5000 0220 3001");
    EXPECT_EQ(Tx(*card, F(GetParam().info, "00 31 03 10 01 1A 00")), "1A 03 05 00 01 90 00");
    EXPECT_EQ(Sw(*card, F(GetParam().info, "00 31 03 10 01 1B 00")), "6A80");
    EXPECT_EQ(Sw(*card, F(GetParam().info, "00 11 05 10 03 23 06 20 00")), "9000");
    if (*GetParam().keyData) {
        const Bytes answer = card->transmit(H(F(GetParam().keyData, "00 31 00 00 00")));
        Bytes expected = {0x27, 0x03, 0x01, 0x00, 0x01, 0x28, 0x80};
        const Bytes modulus = RsaModulus(key);
        expected.insert(expected.end(), modulus.begin(), modulus.end());
        expected.insert(expected.end(), {0x90, 0x00});
        EXPECT_EQ(ToHex(answer), ToHex(expected));
    }
    // The decipher wants the user PIN.
    const Bytes cipher = RsaEncrypt(key, H("41 42"));
    Bytes command = H(F(GetParam().decipher, "03 31 00 00 84 10 FF 00 80"));
    command.insert(command.end(), cipher.begin(), cipher.end());
    command.insert(command.end(), {0x04, 0x00});
    EXPECT_EQ(StatusOf(card->transmit(command)), kSwSecurity);
    applet->pin(SimJavaApplet::kUserPin)->verified = true;
    EXPECT_EQ(ToHex(card->transmit(command)), "10 02 41 42 90 00");
    // A ciphertext of another key, and a folder without key.
    command[20] ^= 0x01;
    EXPECT_EQ(StatusOf(card->transmit(command)), kSwWrongData);
    selectPath("08 6666 5000 0220 1001");
    EXPECT_EQ(Sw(*card, F(GetParam().info, "00 31 03 10 01 1A 00")), "6A88");
}

TEST_P(JavaKeysSim, OnAFipsTokenThePlainDecipherIsRefused) {
    card.reset();
    fips = true;
    SetUp();
    selectPath("08 6666 5000 0220 3001");
    applet->pin(SimJavaApplet::kUserPin)->verified = true;
    Bytes command = H(F(GetParam().decipher, "03 31 00 00 84 10 FF 00 80"));
    const Bytes cipher = RsaEncrypt(key, H("41"));
    command.insert(command.end(), cipher.begin(), cipher.end());
    command.insert(command.end(), {0x04, 0x00});
    EXPECT_EQ(StatusOf(card->transmit(command)), kSwSecurity);
    EXPECT_EQ(applet->decipherCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, JavaKeysSim, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

}  // namespace
