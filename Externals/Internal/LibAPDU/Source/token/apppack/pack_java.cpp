#include "apppack/pack_java.h"

#include <openssl/crypto.h>

#include "apppin/pin_common.h"
#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_java");
const unsigned char kJavaChallengeIns = 0x17;

const size_t kChallengeCapacity = 10;
const size_t kChallengeSize = 8;
const size_t kBlock = 8;
const size_t kMacSize = 8;
// 0D 08, the card's MAC, SW1 SW2: the fixed tail of every protected answer.
const size_t kAnswerTail = 12;
// An answer body of exactly this size carries a status and no data.
const size_t kNoDataBody = 4;
// The card adds this much around the data it returns under protection.
const unsigned short kLeOverhead = 32;

enum : unsigned char {
    kClaSecure = 0x04,
    kTagCryptogram = 0x32,
    kTagIv = 0x22,
    kTagAnswerForm = 0x34,
    kTagNonce = 0x33,
    kTagChallenge = 0x0D,
    kLengthEscape = 0xFF,
};

// The card's one-byte lengths stop at FE: FF escapes a two-byte length.
const size_t kMaxShortLength = 254;

void PutLength(TBytes& out, size_t n) {
    if (n <= kMaxShortLength) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        out.push_back(kLengthEscape);
        PutBE16(out, static_cast<unsigned short>(n));
    }
}

void PutElement(TBytes& out, unsigned char tag, const TBytes& value) {
    out.push_back(tag);
    PutLength(out, value.size());
    out.insert(out.end(), value.begin(), value.end());
}

TBytes RandomBlock() {
    TBytes b(kBlock);
    crypto_random(b.data(), b.size());
    return b;
}
}  // namespace

TBytes JavaTlvFind(const TBytes& data, unsigned char tag, const wchar_t* source) {
    // An absent element and a malformed list are both a bad answer here.
    CByteReader value(nullptr, 0);
    if (!CByteReader(data).findEscapedElement(tag, value)) ExternalRaise(kSwBadAnswer, source, __LINE__);
    return value.take(value.remaining());
}

CPackJavaFamily::CPackJavaFamily(IApplet* owner, unsigned char challengeIns, const wchar_t* source)
    : CPackCommon(owner), m_challengeIns(challengeIns), m_source(source) {}

void CPackJavaFamily::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, m_source, line); }

TBytes CPackJavaFamily::challengeGet() {
    const TBytes command = {0x80, m_challengeIns, 0x01, 0x00, static_cast<unsigned char>(kChallengeSize)};
    TBytes answer(kChallengeCapacity, 0);
    owner()->sender()->send(command, answer);
    checkSW(answer);
    if (ResponseDataSize(answer) != kChallengeSize) raise(kSwBadAnswer, __LINE__);
    answer.resize(kChallengeSize);
    return answer;
}

void CPackJavaFamily::chain(const TBytes&, TBytes&) { raise(0xFACE, __LINE__); }

void CPackJavaFamily::sm(const TBytes& command, TBytes& output) {
    TBytes header;
    TBytes data;
    unsigned short le = 0;
    parse_capdu(command, header, data, le);
    header[0] |= kClaSecure;

    // Padding method 2 always adds a byte, so even empty data gives one block.
    const size_t cryptogramSize = (data.size() / kBlock + 1) * kBlock;
    const size_t bodySize = 1 + (cryptogramSize <= kMaxShortLength ? 1 : 3) + cryptogramSize +
                            (2 + kBlock) + 4 + (2 + kBlock) + (2 + kBlock);
    // Neither the cryptogram's length nor Lc can say more than 16 bits:
    // refuse before any card traffic instead of sending a truncated length.
    if (bodySize > 0xFFFF) raise(kSwBadArgument, __LINE__);

    const TBytes iv = RandomBlock();
    const TBytes nonce = RandomBlock();
    TBytes challenge = challengeGet();
    challenge[kChallengeSize - 1] = static_cast<unsigned char>(challenge[kChallengeSize - 1] + 1);

    TBytes cryptogram;
    crypto_sm_enc(keyGet(kSlotCommandEnc), data, cryptogram, iv);

    TBytes body;
    body.reserve(bodySize);
    PutElement(body, kTagCryptogram, cryptogram);
    PutElement(body, kTagIv, iv);
    PutElement(body, kTagAnswerForm, TBytes{0x01, 0x3E});
    PutElement(body, kTagNonce, nonce);
    PutElement(body, kTagChallenge, challenge);

    TBytes wrapped = header;
    if (body.size() <= kMaxShortLength) {
        wrapped.push_back(static_cast<unsigned char>(body.size()));
    } else {
        wrapped.push_back(0x00);
        PutBE16(wrapped, static_cast<unsigned short>(body.size()));
    }
    wrapped.insert(wrapped.end(), body.begin(), body.end());

    // The MAC covers the increased challenge and then takes its place.
    TBytes mac;
    crypto_sm_mac(keyGet(kSlotCommandMac), wrapped, mac);
    if (mac.size() != kMacSize) raise(kSwBadAnswer, __LINE__);
    wrapped.resize(wrapped.size() - kChallengeSize);
    wrapped.insert(wrapped.end(), mac.begin(), mac.end());
    // Two bytes whatever form Lc took: the transport rewrites the form the JDK refuses.
    const unsigned short expected = static_cast<unsigned short>(le + kLeOverhead);
    PutBE16(wrapped, expected);

    TBytes answer(static_cast<size_t>(expected) + 2, 0);
    owner()->sender()->send(wrapped, answer);
    checkSW(answer);
    unwrap(answer, nonce, output);
}

void CPackJavaFamily::unwrap(const TBytes& answer, const TBytes& nonce, TBytes& output) {
    if (answer.size() < kAnswerTail) raise(kSwBadAnswer, __LINE__);
    CByteReader r(answer);
    const TBytes body = r.take(answer.size() - kAnswerTail);
    r.skip(2);  // 0D 08: the card's own framing, not checked
    const TBytes cardMac = r.take(kMacSize);
    const unsigned char sw1 = r.u8();
    const unsigned char sw2 = r.u8();

    TBytes macInput = body;
    macInput.insert(macInput.end(), nonce.begin(), nonce.end());
    macInput.insert(macInput.end(), {sw1, sw2, kTagChallenge, static_cast<unsigned char>(kMacSize)});
    TBytes mac;
    crypto_sm_mac(keyGet(kSlotAnswerMac), macInput, mac);
    if (mac.size() != cardMac.size() || CRYPTO_memcmp(mac.data(), cardMac.data(), mac.size()) != 0)
        raise(kSwBadAnswer, __LINE__);

    if (body.size() == kNoDataBody) {
        output = {sw1, sw2};
        return;
    }

    TBytes plain;
    try {
        const TBytes answerIv = JavaTlvFind(body, kTagIv, m_source);
        const TBytes cryptogram = JavaTlvFind(body, kTagCryptogram, m_source);
        // An empty IV element stands for a zero IV, as the decryption takes it;
        // any other length but one block, or a cryptogram of no whole blocks, is
        // refused here rather than handed on.
        if ((!answerIv.empty() && answerIv.size() != kBlock) || cryptogram.empty() || cryptogram.size() % kBlock != 0)
            raise(kSwBadAnswer, __LINE__);
        crypto_sm_dec(keyGet(kSlotAnswerDec), cryptogram, plain, answerIv);
    } catch (const IException&) {
        raise(kSwBadAnswer, __LINE__);
    }
    plain.push_back(sw1);
    plain.push_back(sw2);
    output.swap(plain);
}

CPackJava::CPackJava(IApplet* owner) : CPackJavaFamily(owner, kJavaChallengeIns, kSource) {}

}  // namespace libapdu
