#include "apppack/pack_tessel.h"

#include <algorithm>

#include "appfs/fs_common.h"
#include "apppin/pin_common.h"
#include "crypto/crypto.h"
#include "crypto/vlong.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_tessel");

const TBytes kAskParameters = {0x80, 0x48, 0x00, 0x80, 0x00};
const TBytes kCloseSession = {0x80, 0x86, 0xFF, 0xFF};
const size_t kPieceAnswer = 1024;
const size_t kAgreeAnswer = 258;
const size_t kExponentSize = 20;
const size_t kRandomSize = 32;
const size_t kKeySize = 16;
// The MAC key is taken from Z[24..39]: a shorter shared secret gives no key.
const size_t kMinSecret = 40;
// The host's public value goes out behind a one-byte Lc.
const size_t kMaxPublic = 255;

enum : unsigned char {
    kClaSecure = 0x0C,
    kClaChained = 0x10,
    kTagGenerator = 0x80,
    kTagModulus = 0x81,
    kTagCardPublic = 0x82,
    kTagCryptogram = 0x87,
    kTagMac = 0x8E,
};

TBytes Value(const CBERTLV& answer, unsigned char tag) {
    const CBERTLV e = answer.getChild(tag);
    return e.length ? TBytes(e.value, e.value + e.length) : TBytes();
}

// A big integer's bytes at the length the arithmetic gives it (whole 32-bit words).
TBytes Bytes(const vlong& v) {
    TBytes out(v.size(), 0);
    if (!out.empty()) v.to_hex(out.data(), static_cast<unsigned>(out.size()));
    return out;
}
}  // namespace

struct CPackTessel::Keys {
    TBytes enc;
    TBytes mac;
};

CPackTessel::CPackTessel(IApplet* owner) : CPackCommon(owner) {}

CPackTessel::~CPackTessel() = default;

void CPackTessel::exchange(const TBytes& piece, TBytes& output, unsigned char& sw1, unsigned char& sw2) {
    const TBytes* command = &piece;
    TBytes getResponse;
    for (size_t round = 0;; ++round) {
        TBytes answer(kPieceAnswer, 0);
        owner()->sender()->send(*command, answer);
        const size_t n = ResponseDataSize(answer);
        if (output.size() + n > kMaxAnswer) LIBAPDU_RAISE(kSwBadAnswer);
        output.insert(output.end(), answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(n));
        if (answer.size() >= 2 && (answer[n] == 0x61 || answer[n] == 0x6D)) {
            // A card that keeps asking for more is not answering.
            if (round + 1 >= kMaxRounds) LIBAPDU_RAISE(kSwBadAnswer);
            getResponse = {0x00, 0xC0, 0x00, 0x00, answer[n + 1]};
            command = &getResponse;
            continue;
        }
        checkSW(answer);
        sw1 = answer[n];
        sw2 = answer[n + 1];
        return;
    }
}

void CPackTessel::chain(const TBytes& command, TBytes& output) {
    TBytes header;
    TBytes data;
    unsigned short le = 0;
    parse_capdu(command, header, data, le);
    output.clear();

    unsigned char sw1 = 0, sw2 = 0;
    if (data.empty()) {
        exchange(command, output, sw1, sw2);
    } else {
        // One buffer for every piece.
        TBytes piece;
        piece.reserve(header.size() + 1 + std::min(data.size(), kPieceSize) + 1);
        for (size_t at = 0; at < data.size();) {
            const size_t rest = data.size() - at;
            const bool more = rest > kPieceSize;
            const size_t n = more ? kPieceSize : rest;
            piece.assign(header.begin(), header.end());
            if (more) piece[0] |= kClaChained;
            piece.push_back(static_cast<unsigned char>(n));
            piece.insert(piece.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                         data.begin() + static_cast<std::ptrdiff_t>(at + n));
            if (!more) piece.push_back(0x00);
            exchange(piece, output, sw1, sw2);
            at += n;
        }
    }
    output.push_back(sw1);
    output.push_back(sw2);
}

void CPackTessel::agree(Keys& keys) {
    TBytes x(kExponentSize);
    crypto_random(x.data(), x.size());

    TBytes answer;
    chain(kAskParameters, answer);
    checkSW(answer);

    TBytes g, p, y;
    try {
        const CBERTLV parameters = CBERTLV::answer(answer);
        g = Value(parameters, kTagGenerator);
        p = Value(parameters, kTagModulus);
        y = Value(parameters, kTagCardPublic);
    } catch (int) {
        LIBAPDU_RAISE(kSwBadAnswer);
    }
    if (g.size() > p.size()) LIBAPDU_RAISE(kSwBadAnswer);

    TBytes publicValue, secret;
    try {
        const vlong modulus(p.data(), static_cast<unsigned>(p.size()));
        const vlong generator(g.data(), static_cast<unsigned>(g.size()));
        const vlong cardPublic(y.data(), static_cast<unsigned>(y.size()));
        const vlong two(2);
        // An even modulus has no Montgomery form, and a card value of 0, 1 or p-1
        // (or none below p) would pin the shared secret to a value anyone knows.
        if (modulus.is_even() || modulus <= two + two || cardPublic < two || cardPublic > modulus - two)
            LIBAPDU_RAISE(kSwBadAnswer);
        const vlong exponent(x.data(), static_cast<unsigned>(x.size()));
        publicValue = Bytes(modexp(generator, exponent, modulus));
        secret = Bytes(modexp(cardPublic, exponent, modulus));
    } catch (const IException&) {
        LIBAPDU_RAISE(kSwBadAnswer);
    }
    if (secret.size() < kMinSecret || publicValue.empty() || publicValue.size() > kMaxPublic)
        LIBAPDU_RAISE(kSwBadAnswer);

    TBytes send = {0x80, 0x86, 0x00, 0x00, static_cast<unsigned char>(publicValue.size())};
    send.insert(send.end(), publicValue.begin(), publicValue.end());
    send.push_back(0x00);
    TBytes reply(kAgreeAnswer, 0);
    owner()->sender()->send(send, reply);
    checkSW(reply);
    if (reply.size() < kRandomSize + 2) LIBAPDU_RAISE(kSwBadAnswer);

    keys.enc.resize(kKeySize);
    keys.mac.resize(kKeySize);
    for (size_t i = 0; i < kKeySize; ++i) {
        keys.enc[i] = static_cast<unsigned char>(secret[i] ^ reply[i]);
        keys.mac[i] = static_cast<unsigned char>(secret[24 + i] ^ reply[16 + i]);
    }
}

void CPackTessel::sm(const TBytes& command, TBytes& output) {
    TBytes header;
    TBytes data;
    unsigned short le = 0;
    parse_capdu(command, header, data, le);

    Keys keys;
    agree(keys);

    header[0] |= kClaSecure;
    output.clear();
    unsigned char sw1 = 0, sw2 = 0;
    if (data.empty()) {
        exchange(command, output, sw1, sw2);
    } else {
        unsigned char counter = 0;
        for (size_t at = 0; at < data.size();) {
            const size_t rest = data.size() - at;
            const bool more = rest > kPieceSize;
            const size_t n = more ? kPieceSize : rest;
            const unsigned char cla = static_cast<unsigned char>(more ? header[0] | kClaChained : header[0]);
            unsigned char macCounter;
            if (more) {
                macCounter = static_cast<unsigned char>(counter + 1);
                counter = static_cast<unsigned char>(counter + 2);
            } else {
                counter = static_cast<unsigned char>(counter + 1);
                macCounter = counter;
            }

            const TBytes plain(data.begin() + static_cast<std::ptrdiff_t>(at),
                               data.begin() + static_cast<std::ptrdiff_t>(at + n));
            TBytes cryptogram;
            crypto_sm_enc_mirel(keys.enc, plain, cryptogram, TBytes());
            TBytes object = {kTagCryptogram, 0x81, static_cast<unsigned char>(cryptogram.size() + 1), 0x01};
            object.insert(object.end(), cryptogram.begin(), cryptogram.end());

            TBytes macInput = {0, 0, 0, 0, 0, 0, 0, macCounter, cla, header[1], header[2], header[3], 0x80, 0, 0, 0};
            macInput.insert(macInput.end(), object.begin(), object.end());
            TBytes mac;
            crypto_sm_mac_mirel(keys.mac, macInput, mac);

            TBytes piece = {cla, header[1], header[2], header[3], static_cast<unsigned char>(object.size() + 10)};
            piece.insert(piece.end(), object.begin(), object.end());
            piece.push_back(kTagMac);
            piece.push_back(0x08);
            piece.insert(piece.end(), mac.begin(), mac.end());
            exchange(piece, output, sw1, sw2);
            at += n;
        }
    }
    output.push_back(sw1);
    output.push_back(sw2);

    TBytes closed(2, 0);
    owner()->sender()->send(kCloseSession, closed);
    checkSW(closed);
}

}  // namespace libapdu
