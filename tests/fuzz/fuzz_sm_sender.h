// A fuzzed card that answers the Java and Heron protected commands with
// authentic-looking answers, so the fuzzer gets past the answer MAC into the
// parsing and decryption behind it.
//
// Every command that is not protected is answered as FuzzSender does (length,
// then bytes). A protected command (CLA bit 04, a body carrying the response
// nonce under tag 33) first takes a mode byte from the input:
//   mode % 3 == 0: a raw answer, as for any other command (no valid MAC);
//   mode % 3 == 1: D (length, bytes) and SW1 SW2 from the input; the card MACs
//                  D || nonce || SW || 0D 08 under the slot-4 key and answers
//                  D || 0D 08 || MAC || SW;
//   mode % 3 == 2: a plaintext (length, bytes), a shape byte, and as the shape
//                  asks an 8-byte IV and one extra element (tag, length,
//                  value); then SW1 SW2. The plaintext is encrypted under the
//                  slot-3 key into D = IV element and cryptogram element (in
//                  either order), the extra element before or after them; then
//                  D is MACed as in mode 1.
// The keys are read from the applet's pack facet at the moment of the answer,
// as the facet itself reads them; an empty slot MACs (or encrypts) under no key.
#ifndef KEYSHELF_FUZZ_SM_SENDER_H
#define KEYSHELF_FUZZ_SM_SENDER_H

#include "crypto/crypto.h"
#include "fuzz_sender.h"
#include "libapdu.internal.h"

// What the card last did with a protected command, for the target's checks.
struct SmAnswer {
    bool made = false;     // a mode 2 answer: the plaintext below is what sm must give back
    bool clean = false;    // ...and nothing in its shape should make the unwrap fail
    libapdu::TBytes plain;
    unsigned char sw1 = 0, sw2 = 0;
};

class SmFuzzSender : public FuzzSender {
public:
    SmFuzzSender(const uint8_t* data, size_t size) : FuzzSender(data, size) {}

    void attach(libapdu::IAppPack* pack) { m_pack = pack; }
    const SmAnswer& lastAnswer() const { return m_last; }
    size_t protectedCommands() const { return m_protected; }

    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        libapdu::TBytes nonce;
        if (!ResponseNonce(command, nonce)) {
            FuzzSender::send(command, response);
            return;
        }
        ++m_protected;
        m_last = SmAnswer();
        FuzzInput& in = input();
        const uint8_t mode = in.u8() % 3;
        if (mode == 0) {
            FuzzSender::send(command, response);
            return;
        }
        libapdu::TBytes d;
        if (mode == 1) {
            d = in.take(in.be16() % 0x600);
        } else {
            d = MadeBody(in);
        }
        m_last.sw1 = in.u8();
        m_last.sw2 = in.u8();
        response = d;
        libapdu::TBytes macInput = d;
        macInput.insert(macInput.end(), nonce.begin(), nonce.end());
        macInput.insert(macInput.end(), {m_last.sw1, m_last.sw2, 0x0D, 0x08});
        libapdu::TBytes mac;
        libapdu::crypto_sm_mac(key(4), macInput, mac);
        mac.resize(8, 0);
        response.insert(response.end(), {0x0D, 0x08});
        response.insert(response.end(), mac.begin(), mac.end());
        response.insert(response.end(), {m_last.sw1, m_last.sw2});
    }

private:
    libapdu::TBytes key(size_t slot) {
        if (!m_pack) return {};
        try {
            return m_pack->keyGet(slot);
        } catch (const libapdu::IException&) {
            return {};
        }
    }

    static void PutElement(libapdu::TBytes& out, uint8_t tag, const libapdu::TBytes& value, bool longForm) {
        out.push_back(tag);
        if (longForm || value.size() > 0xFE) {
            out.push_back(0xFF);
            out.push_back(static_cast<uint8_t>(value.size() >> 8));
            out.push_back(static_cast<uint8_t>(value.size()));
        } else {
            out.push_back(static_cast<uint8_t>(value.size()));
        }
        out.insert(out.end(), value.begin(), value.end());
    }

    libapdu::TBytes MadeBody(FuzzInput& in) {
        m_last.made = true;
        m_last.plain = in.take(in.be16() % 0x500);
        const uint8_t shape = in.u8();
        const libapdu::TBytes iv = (shape & 0x01) ? libapdu::TBytes() : in.take(8);
        libapdu::TBytes cryptogram;
        libapdu::crypto_sm_enc(key(3), m_last.plain, cryptogram, iv);
        libapdu::TBytes ivElement, cryptogramElement, extra;
        PutElement(ivElement, 0x22, iv, shape & 0x04);
        PutElement(cryptogramElement, 0x32, cryptogram, shape & 0x08);
        uint8_t extraTag = 0;
        if (shape & 0x10) {
            extraTag = in.u8();
            const libapdu::TBytes value = in.take(in.u8());
            PutElement(extra, extraTag, value, shape & 0x40);
        }
        const bool extraFirst = shape & 0x20;
        libapdu::TBytes d;
        if (extraFirst) d = extra;
        const libapdu::TBytes& a = (shape & 0x02) ? ivElement : cryptogramElement;
        const libapdu::TBytes& b = (shape & 0x02) ? cryptogramElement : ivElement;
        d.insert(d.end(), a.begin(), a.end());
        d.insert(d.end(), b.begin(), b.end());
        if (!extraFirst) d.insert(d.end(), extra.begin(), extra.end());
        // An IV cut short by the end of the input, a missing key, or a leading
        // element that is invalid or hides the real IV or cryptogram makes the
        // answer one the facet may refuse; anything else must come back intact.
        const bool leadingTrouble = extraFirst && (shape & 0x10) &&
                                    (extraTag == 0x00 || extraTag == 0xFF || extraTag == 0x22 || extraTag == 0x32);
        const size_t macKey = key(4).size();
        m_last.clean = !cryptogram.empty() && !leadingTrouble && (macKey == 16 || macKey == 24);
        return d;
    }

    // The nonce of a protected command: header, Lc (one byte, or 00 H L), a body
    // of escaped-length elements that holds tag 33 with 8 bytes, then Le' (2 bytes).
    static bool ResponseNonce(const libapdu::TBytes& c, libapdu::TBytes& nonce) {
        if (c.size() < 5 || !(c[0] & 0x04)) return false;
        size_t pos = 4;
        size_t lc = c[pos++];
        if (lc == 0) {
            if (c.size() < pos + 2) return false;
            lc = (static_cast<size_t>(c[pos]) << 8) | c[pos + 1];
            pos += 2;
        }
        if (c.size() != pos + lc + 2) return false;
        const size_t end = pos + lc;
        while (pos < end) {
            const uint8_t tag = c[pos++];
            if (pos >= end) return false;
            size_t n = c[pos++];
            if (n == 0xFF) {
                if (end - pos < 2) return false;
                n = (static_cast<size_t>(c[pos]) << 8) | c[pos + 1];
                pos += 2;
            }
            if (end - pos < n) return false;
            if (tag == 0x33 && n == 8) {
                nonce.assign(c.begin() + pos, c.begin() + pos + n);
                return true;
            }
            pos += n;
        }
        return false;
    }

    libapdu::IAppPack* m_pack = nullptr;
    SmAnswer m_last;
    size_t m_protected = 0;
};

#endif
