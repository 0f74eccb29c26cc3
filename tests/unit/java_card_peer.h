// The card side of the Java and Heron secure messaging for unit tests, built on
// OpenSSL alone so that it checks the library instead of repeating it: a scripted
// transport that answers plain commands from a script and, for a protected step,
// hands out a challenge, then checks the protected command (class byte, body
// order, MAC, challenge, cryptogram, expected length) and answers under the
// response keys.
#ifndef TEST_JAVA_CARD_PEER_H
#define TEST_JAVA_CARD_PEER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "scripted_sender.h"
#include "sim_crypto.h"

namespace testing_card {

// ---------------------------------------------------------------- reference crypto

using simcrypto::JavaKey;
using simcrypto::Pad2;
using simcrypto::PinKey24;
using simcrypto::SmMac;
using simcrypto::TdesCbc;
using simcrypto::Unpad2;

// Three-key TDEA encryption of one block (the login answer to an 8-byte challenge).
inline TBytes TdesBlock(const TBytes& key24, const TBytes& block) { return TdesCbc(key24, block, {}, true); }

inline std::vector<TBytes> JavaKeys(const TBytes& pin, const TBytes& salt) {
    std::vector<TBytes> k;
    for (int i = 0; i < 5; ++i) k.push_back(JavaKey(i, pin, salt));
    return k;
}

// ---------------------------------------------------------------- the card peer

// One protected command: what the card must find inside, and how it answers.
struct ProtectedStep {
    enum Form { kData, kNoData, kBareStatus, kRawBody };
    TBytes inner;                // the plain command the library was asked to wrap
    std::vector<TBytes> keys;    // slots 0 to 4 as the card knows them
    TBytes challenge = Hex("01 02 03 04 05 06 07 FF");
    TBytes answerData;           // plaintext of the answer (Form kData)
    TBytes sw = {0x90, 0x00};
    Form form = kData;
    bool ivFirst = false;        // 22 before 32 in the answer
    bool spoilMac = false;       // a wrong answer MAC
    bool zeroMac = false;        // an answer MAC of eight zero bytes
    TBytes extraLeading;         // elements put before 32 and 22 in the answer
    TBytes rawBody;              // the answer body as it stands (Form kRawBody), MAC made to check
    // When set, the plain command's data is only known by its start (random keys):
    // the decrypted data must begin with it and be as long as the inner data.
    bool innerDataPrefix = false;
    size_t innerPrefixSize = 0;
};

class JavaCardPeer : public libapdu::ISender {
public:
    explicit JavaCardPeer(unsigned char challengeIns) : m_challengeIns(challengeIns) {}

    JavaCardPeer& expect(const TBytes& command, const TBytes& answer) {
        Step s;
        s.command = {command, command.size()};
        s.answer = answer;
        m_script.push_back(s);
        return *this;
    }
    JavaCardPeer& expect(const std::string& command, const std::string& answer) {
        return expect(Hex(command), Hex(answer));
    }
    JavaCardPeer& expectPrefix(const std::string& prefix, size_t length, const std::string& answer) {
        Step s;
        s.command = {Hex(prefix), length};
        s.answer = Hex(answer);
        m_script.push_back(s);
        return *this;
    }
    JavaCardPeer& expectProtected(const ProtectedStep& p) {
        Step s;
        s.isProtected = true;
        s.prot = p;
        m_script.push_back(s);
        return *this;
    }

    void send(const TBytes& command, TBytes& response) override {
        sent.push_back(command);
        capacities.push_back(response.size());
        if (m_script.empty()) {
            RefuseCommand("unexpected command " + ToHex(command), response);
            return;
        }
        Step& s = m_script.front();
        if (s.isProtected) {
            if (!s.challengeSent) {
                const TBytes want = {0x80, m_challengeIns, 0x01, 0x00, 0x08};
                EXPECT_EQ(ToHex(command), ToHex(want)) << "the secure-messaging challenge";
                EXPECT_EQ(response.size(), 10u);
                response = Concat(s.prot.challenge, {0x90, 0x00});
                s.challengeSent = true;
                return;
            }
            const ProtectedStep p = s.prot;
            m_script.pop_front();
            response = answerProtected(command, p);
            return;
        }
        const Step step = s;
        m_script.pop_front();
        if (!PlayExpected(step.command, command, response)) return;
        response = step.answer;
    }
    TBytes atr() override { return {}; }

    size_t unconsumed() const { return m_script.size(); }

    std::vector<TBytes> sent;
    std::vector<size_t> capacities;
    std::vector<TBytes> protectedSent;  // every protected command as it arrived
    std::vector<TBytes> plaintexts;     // the data each protected command carried, decrypted

private:
    struct Step {
        bool isProtected = false;
        bool challengeSent = false;
        ExpectedCommand command;
        TBytes answer;
        ProtectedStep prot;
    };

    // Splits a plain command: data and Le (0 when absent, Le 00 read as 0).
    static void Split(const TBytes& c, TBytes& data, unsigned& le) {
        data.clear();
        le = 0;
        if (c.size() <= 4) return;
        if (c.size() == 5) {
            le = c[4];
            return;
        }
        size_t pos = 5, lc = c[4];
        if (c[4] == 0 && c.size() >= 7) {
            lc = (c[5] << 8) | c[6];
            pos = 7;
        }
        data.assign(c.begin() + pos, c.begin() + pos + lc);
        for (size_t i = pos + lc; i < c.size(); ++i) le = (le << 8) | c[i];
    }

    TBytes answerProtected(const TBytes& w, const ProtectedStep& p) {
        protectedSent.push_back(w);
        const TBytes& k1 = p.keys.at(1);
        const TBytes& k2 = p.keys.at(2);
        const TBytes& k3 = p.keys.at(3);
        const TBytes& k4 = p.keys.at(4);
        const TBytes fail = {0x69, 0x88};
        if (w.size() < 7) {
            ADD_FAILURE() << "protected command too short: " << ToHex(w);
            return fail;
        }
        EXPECT_EQ(w[0], p.inner[0] | 0x04) << "class byte";
        EXPECT_EQ(ToHex(TBytes(w.begin() + 1, w.begin() + 4)), ToHex(TBytes(p.inner.begin() + 1, p.inner.begin() + 4)));
        size_t pos = 5, lc = w[4];
        if (w[4] == 0) {
            lc = (w[5] << 8) | w[6];
            pos = 7;
        }
        if (w.size() != pos + lc + 2) {
            ADD_FAILURE() << "Lc " << lc << " and Le' do not add up to " << w.size() << " bytes";
            return fail;
        }
        libapdu::CByteReader r(w.data() + pos, lc);
        EXPECT_EQ(r.u8(), 0x32);
        size_t n = r.u8();
        if (n == 0xFF) n = r.be16();
        const TBytes cryptogram = r.take(n);
        EXPECT_EQ(ToHex(r.take(2)), "22 08");
        const TBytes iv = r.take(8);
        EXPECT_EQ(ToHex(r.take(4)), "34 02 01 3E");
        EXPECT_EQ(ToHex(r.take(2)), "33 08");
        const TBytes nonce = r.take(8);
        EXPECT_EQ(ToHex(r.take(2)), "0D 08");
        const TBytes mac = r.take(8);
        EXPECT_TRUE(r.empty()) << "bytes after the MAC element";

        TBytes macInput(w.begin(), w.begin() + pos + lc - 8);
        TBytes challenge = p.challenge;
        challenge[7] = static_cast<unsigned char>(challenge[7] + 1);
        macInput.insert(macInput.end(), challenge.begin(), challenge.end());
        if (ToHex(SmMac(k2, macInput)) != ToHex(mac)) {
            ADD_FAILURE() << "command MAC does not check";
            return fail;
        }
        TBytes plain = TdesCbc(k1, cryptogram, iv, false);
        EXPECT_TRUE(Unpad2(plain)) << "command padding";
        TBytes innerData;
        unsigned innerLe = 0;
        Split(p.inner, innerData, innerLe);
        plaintexts.push_back(plain);
        if (p.innerDataPrefix) {
            EXPECT_EQ(plain.size(), innerData.size()) << "command plaintext length";
            EXPECT_EQ(ToHex(TBytes(plain.begin(), plain.begin() + std::min(plain.size(), p.innerPrefixSize))),
                      ToHex(TBytes(innerData.begin(), innerData.begin() + std::min(innerData.size(), p.innerPrefixSize))));
        } else {
            EXPECT_EQ(ToHex(plain), ToHex(innerData)) << "command plaintext";
        }
        const unsigned lePrime = (w[w.size() - 2] << 8) | w[w.size() - 1];
        EXPECT_EQ(lePrime, (innerLe + 32) & 0xFFFF) << "Le'";
        EXPECT_EQ(capacities.back(), lePrime + 2) << "answer buffer";

        if (p.form == ProtectedStep::kBareStatus) return p.sw;
        TBytes body = p.extraLeading;
        if (p.form == ProtectedStep::kRawBody) {
            body = p.rawBody;
        } else if (p.form == ProtectedStep::kNoData) {
            body = Concat(body, Hex("99 02"));
            body = Concat(body, p.sw);
        } else {
            const TBytes answerIv = Hex("A1 A2 A3 A4 A5 A6 A7 A8");
            const TBytes c = TdesCbc(k3, Pad2(p.answerData), answerIv, true);
            TBytes e32 = {0x32};
            if (c.size() > 254) {
                e32.push_back(0xFF);
                e32.push_back(static_cast<unsigned char>(c.size() >> 8));
            }
            e32.push_back(static_cast<unsigned char>(c.size() & 0xFF));
            e32 = Concat(e32, c);
            const TBytes e22 = Concat(Hex("22 08"), answerIv);
            body = p.ivFirst ? Concat(Concat(body, e22), e32) : Concat(Concat(body, e32), e22);
        }
        TBytes answerMac = SmMac(k4, Concat(Concat(Concat(body, nonce), p.sw), Hex("0D 08")));
        if (p.spoilMac) answerMac[0] ^= 0x01;
        if (p.zeroMac) answerMac.assign(8, 0x00);
        return Concat(Concat(Concat(body, Hex("0D 08")), answerMac), p.sw);
    }

    unsigned char m_challengeIns;
    std::deque<Step> m_script;
};

}  // namespace testing_card

#endif
