#include "appcry/cry_gost2.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appcry/cry_gost2");
const size_t kReplySize = 258;
const unsigned char kClass = 0x80;
const unsigned char kInsKeys = 0x1C, kInsHash = 0x3E, kInsAgreement = 0x5C;
const unsigned char kKindPrivateList = 3, kKindPublicList = 4;
}  // namespace

CCryGost2::CCryGost2(IApplet* applet) : CCryCommon(applet) {}

void CCryGost2::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, kSource, line); }

TBytes CCryGost2::exchange(const TBytes& command) {
    TBytes reply(kReplySize, 0);
    applet()->sender()->send(command, reply);
    CheckSW(applet(), reply);
    reply.resize(ResponseDataSize(reply));
    return reply;
}

unsigned char CCryGost2::genKeyPair(const unsigned char& id, bool flag) {
    if (id != 1 && id != 2) raise(kSwBadArgument, __LINE__);
    const TBytes data = exchange({kClass, kInsKeys, 0x50, 0x00, 0x03, id, 0x01, static_cast<unsigned char>(flag ? 1 : 0), 0x00});
    if (data.size() != 1) raise(kSwBadAnswer, __LINE__);
    return data[0];
}

void CCryGost2::removeKeyPair(const unsigned char& id, unsigned char kind) {
    if (id == 0) raise(kSwBadArgument, __LINE__);
    if (kind != 3 && kind != 4) raise(kSwBadArgument, __LINE__);
    exchange({kClass, kInsKeys, 0x60, 0x00, 0x02, kind, id});
}

TBytes CCryGost2::getPublicKey(const unsigned char& kind, const unsigned char& id) {
    if (kind != 1 && kind != 3 && kind != 4) raise(kSwBadArgument, __LINE__);
    TBytes key = exchange({kClass, kInsKeys, 0x70, 0x00, 0x02, kind, id, 0x00});
    if (key.size() != kPublicKeySize) raise(kSwBadAnswer, __LINE__);
    return key;
}

TBytes CCryGost2::getListCryptObjects(const unsigned char& kind, const unsigned char& id) {
    if (kind < 1 || kind > 4) raise(kSwBadArgument, __LINE__);
    if (id == 0) raise(kSwBadArgument, __LINE__);
    TBytes list = exchange({kClass, kInsKeys, 0x10, 0x00, 0x02, kind, id, 0x00});
    // Records of three bytes in list 1, of four in list 3; the others are the card's business.
    const size_t record = kind == 1 ? 3 : kind == 3 ? 4 : 1;
    if (list.size() % record != 0) raise(kSwBadAnswer, __LINE__);
    return list;
}

void CCryGost2::startHash(const unsigned char& algorithm) {
    if (algorithm < 1 || algorithm > 3) raise(kSwBadArgument, __LINE__);
    exchange({kClass, kInsHash, 0x30, algorithm});
}

void CCryGost2::continueHash(const TBytes& data) {
    if (data.empty() || data.size() > 0xFF) raise(kSwBadArgument, __LINE__);
    exchange(Join({kClass, kInsHash, 0x40, 0x00, static_cast<unsigned char>(data.size())}, data));
}

TBytes CCryGost2::finishHash() {
    TBytes hash = exchange({kClass, kInsHash, 0x50, 0x00, 0x00});
    if (hash.size() != 32 && hash.size() != 64) raise(kSwBadAnswer, __LINE__);
    return hash;
}

TBytes CCryGost2::signUseHashData(const unsigned char& id, const TBytes& extra, const TBytes& hash) {
    if (id == 0) raise(kSwBadArgument, __LINE__);
    if (hash.size() != kHashSize) raise(kSwBadArgument, __LINE__);
    // Its length and Lc are single bytes: a longer extra would be sent with lengths that wrapped.
    if (extra.size() > kMaxExtra) raise(kSwBadArgument, __LINE__);
    TBytes command = {kClass, kInsHash, 0x10, 0x01, static_cast<unsigned char>(extra.size() + 2 + kHashSize), id,
                      static_cast<unsigned char>(extra.size())};
    command.insert(command.end(), extra.begin(), extra.end());
    command.insert(command.end(), hash.begin(), hash.end());
    command.push_back(0x00);
    TBytes signature = exchange(command);
    if (signature.size() != kPublicKeySize) raise(kSwBadAnswer, __LINE__);
    return signature;
}

TBytes CCryGost2::genAgreementKey(const TBytes& publicKey, const TBytes& ukm, const unsigned char& id,
                                  const unsigned char& mode, bool flag) {
    if (publicKey.size() != kPublicKeySize) raise(kSwBadArgument, __LINE__);
    if (ukm.size() != kUkmSize) raise(kSwBadArgument, __LINE__);
    if (id == 0) raise(kSwBadArgument, __LINE__);
    if (mode > 2) raise(kSwBadArgument, __LINE__);
    unsigned char keyId = id, second = mode;
    if (mode == 0) {
        // The key's own list entry gives the parameter byte; an entry too short
        // to carry it is refused like one for another key.
        const unsigned char kind = flag ? kKindPublicList : kKindPrivateList;
        const TBytes entry = getListCryptObjects(kind, id);
        if (entry.size() < 2 || entry[0] != id) raise(kSwBadArgument, __LINE__);
        keyId = entry[0];
        second = entry[1];
    }
    TBytes command = {kClass, kInsAgreement, 0x10, 0x04, 0x4B, keyId, second, 0x01};
    command.insert(command.end(), publicKey.begin(), publicKey.end());
    command.insert(command.end(), ukm.begin(), ukm.end());
    TBytes key = exchange(command);
    if (key.size() != kPublicKeySize) raise(kSwBadAnswer, __LINE__);
    SecureWipe(key.data() + kHashSize, key.size() - kHashSize);
    key.resize(kHashSize);
    return key;
}

}  // namespace libapdu
