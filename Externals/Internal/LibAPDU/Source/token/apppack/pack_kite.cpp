#include "apppack/pack_kite.h"

#include <openssl/crypto.h>

#include "appfs/fs_common.h"
#include "apppin/pin_common.h"
#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_kite");

const unsigned char kClaSecure = 0x0C;
const size_t kBlock = 8;
const size_t kMacSize = 8;
const size_t kAnswerCapacity = 257;
// Object 97 (3 bytes) and object 8E (10 bytes) follow object 87 in every command.
const size_t kTrailer = 13;

enum : unsigned char {
    kTagCryptogram = 0x87,
    kTagLe = 0x97,
    kTagMac = 0x8E,
    kPaddingIndicator = 0x01,
};

// Zero bytes up to the next multiple of the block: a full block when aligned.
void PadZeros(TBytes& m) { m.insert(m.end(), kBlock - m.size() % kBlock, 0x00); }

// The next element with this tag at or after the cursor; the cursor ends behind it.
bool FindNext(CByteReader& r, unsigned char wanted, CByteReader& value) {
    unsigned char tag = 0;
    while (r.nextEscapedElement(tag, value))
        if (tag == wanted) return true;
    return false;
}

TBytes RetailMac(const TBytes& key, const TBytes& input) {
    TBytes mac;
    crypto_sm_mac_kite(key, input, mac);
    return mac;
}
}  // namespace

CPackKite::CPackKite(IApplet* owner) : CPackCommon(owner) {}

void CPackKite::chain(const TBytes&, TBytes&) { LIBAPDU_RAISE(kErrNotSupported); }

void CPackKite::sm(const TBytes& command, TBytes& output) {
    TBytes header;
    TBytes data;
    unsigned short le = 0;
    parse_capdu(command, header, data, le);
    if (data.size() > kMaxData) LIBAPDU_RAISE(kSwBadArgument);
    header[0] = static_cast<unsigned char>(header[0] | kClaSecure);

    TBytes cryptogram;
    crypto_sm_enc(keyGet(kSlotEnc), data, cryptogram, TBytes());
    // The routine leaves its output empty for a key of the wrong size.
    if (cryptogram.empty()) LIBAPDU_RAISE(kSwRefused);
    TBytes do87 = {kTagCryptogram, static_cast<unsigned char>(cryptogram.size() + 1), kPaddingIndicator};
    do87.insert(do87.end(), cryptogram.begin(), cryptogram.end());

    TBytes m = header;
    m.insert(m.end(), 4, 0x00);
    m.insert(m.end(), do87.begin(), do87.end());
    PadZeros(m);
    m.insert(m.end(), {kTagLe, 0x01, 0xFF});
    PadZeros(m);
    const TBytes mac = RetailMac(keyGet(kSlotMac), m);
    if (mac.size() != kMacSize) LIBAPDU_RAISE(kSwRefused);

    TBytes wrapped = header;
    wrapped.push_back(static_cast<unsigned char>(do87.size() + kTrailer));
    wrapped.insert(wrapped.end(), do87.begin(), do87.end());
    wrapped.insert(wrapped.end(), {kTagLe, 0x01, 0xFF, kTagMac, static_cast<unsigned char>(kMacSize)});
    wrapped.insert(wrapped.end(), mac.begin(), mac.end());
    wrapped.push_back(0xFF);

    TBytes answer(kAnswerCapacity, 0);
    owner()->sender()->send(wrapped, answer);
    const unsigned short sw = owner()->error()->extractSW(answer);
    unwrap(answer, header, sw, output);
}

void CPackKite::unwrap(const TBytes& answer, const TBytes& header, unsigned short sw, TBytes& output) {
    const TBytes status = {static_cast<unsigned char>(sw >> 8), static_cast<unsigned char>(sw & 0xFF)};
    if (answer.size() == 2) {
        output = status;
        return;
    }
    TBytes plain;
    try {
        if (answer.size() < 2) LIBAPDU_RAISE(kSwBadAnswer);
        // 87 first, then 8E after it; anything else in between is skipped. The
        // walk never reads past the data.
        CByteReader r(answer.data(), ResponseDataSize(answer));
        CByteReader cryptogram(nullptr, 0), cardMac(nullptr, 0);
        if (!FindNext(r, kTagCryptogram, cryptogram)) LIBAPDU_RAISE(kSwBadAnswer);
        const TBytes do87 = cryptogram.take(cryptogram.remaining());
        // Without its padding-indicator byte there is nothing to decrypt.
        if (do87.empty()) LIBAPDU_RAISE(kSwBadAnswer);
        if (!FindNext(r, kTagMac, cardMac)) LIBAPDU_RAISE(kSwBadAnswer);
        const TBytes received = cardMac.take(cardMac.remaining());

        TBytes m = header;
        m.insert(m.end(), 4, 0x00);
        m.push_back(kTagCryptogram);
        m.push_back(static_cast<unsigned char>(do87.size() & 0xFF));
        m.insert(m.end(), do87.begin(), do87.end());
        const TBytes mac = RetailMac(keyGet(kSlotMac), m);
        if (mac.size() != kMacSize || received.size() != kMacSize ||
            CRYPTO_memcmp(mac.data(), received.data(), kMacSize) != 0)
            LIBAPDU_RAISE(kSwBadAnswer);

        crypto_sm_dec(keyGet(kSlotEnc), TBytes(do87.begin() + 1, do87.end()), plain, TBytes());
    } catch (const IException&) {
        LIBAPDU_RAISE(kSwBadAnswer);
    }
    plain.insert(plain.end(), status.begin(), status.end());
    output.swap(plain);
}

}  // namespace libapdu
