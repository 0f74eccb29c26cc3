#include "info_common.h"

namespace libapdu LIBAPDU_API {

namespace {
const unsigned char kSelectPlatform[] = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x04, 0x48, 0xFF, 0x00, 0x00};
const unsigned char kPlatformMemory[] = {0x80, 0xEC, 0xA2, 0x10};
const size_t kPlatformReply = 258;

unsigned int LittleEndian32(const TBytes& b, size_t at) {
    CByteReader r(b.data() + at, 4);
    const unsigned int lo = r.le16();
    return lo | (static_cast<unsigned int>(r.le16()) << 16);
}
}  // namespace

CInfoCommon::CInfoCommon(IApplet* applet) : m_applet(applet) {}

CInfoCommon::~CInfoCommon() = default;

TBytes CInfoCommon::exchange(const TBytes& apdu, size_t replySize) {
    TBytes reply(replySize, 0);
    m_applet->sender()->send(apdu, reply);
    CheckSW(m_applet, reply);
    return reply;
}

TBytes CInfoCommon::challenge(unsigned char cla, unsigned char ins, size_t n, size_t maxPiece,
                              const wchar_t* source) {
    TBytes out;
    size_t remaining = n;
    while (remaining > 0) {
        const size_t piece = remaining < maxPiece ? remaining : maxPiece;
        const TBytes apdu = {cla, ins, 0x00, 0x00, static_cast<unsigned char>(piece)};
        const TBytes reply = exchange(apdu, piece + 2);
        if (ResponseDataSize(reply) != piece) ExternalRaise(kSwBadAnswer, source, __LINE__);
        const TBytes part = CByteReader(reply).take(piece);
        out.insert(out.end(), part.begin(), part.end());
        remaining -= piece;
    }
    return out;
}

bool CInfoCommon::findObject(CByteReader data, unsigned char tag, CByteReader& value) {
    return data.findEscapedElement(tag, value);
}

TBytes CInfoCommon::objectValue(const TBytes& reply, unsigned char tag, int subTag, const wchar_t* source) {
    CByteReader value(nullptr, 0);
    if (!findObject(AnswerData(reply), tag, value)) ExternalRaise(kSwBadAnswer, source, __LINE__);
    if (subTag >= 0 && !findObject(value, static_cast<unsigned char>(subTag), value))
        ExternalRaise(kSwBadAnswer, source, __LINE__);
    return value.take(value.remaining());
}

unsigned int CInfoCommon::leadingNumber(CByteReader value) { return value.leadingNumber(); }

int CInfoCommon::Pellar3GetMemoryInternal(unsigned int* total, unsigned int* free) {
    try {
        exchange(TBytes(std::begin(kSelectPlatform), std::end(kSelectPlatform)), kPlatformReply);
    } catch (...) {
        return -1;
    }
    TBytes reply;
    try {
        reply = exchange(TBytes(std::begin(kPlatformMemory), std::end(kPlatformMemory)), kPlatformReply);
    } catch (...) {
        return -2;
    }
    // "Incorrect response size": the two layouts the platform applet answers with.
    if (reply.size() != 46 && reply.size() != 58) return -2;
    if (total) {
        const unsigned int a = LittleEndian32(reply, 16);
        const unsigned int b = LittleEndian32(reply, 20);
        *total = a * 512u * b;  // wraps in 32 bits, as the figure always has
    }
    if (free) *free = LittleEndian32(reply, reply.size() - 6);
    return 0;
}

bool CInfoCommon::Pellar3GetMemory(unsigned int* total, unsigned int* free) {
    const int r = Pellar3GetMemoryInternal(total, free);
    if (r == -1) return false;
    // The platform applet was selected: the token's own applet must be again.
    m_applet->selectTokenApp();
    return r == 0;
}

}  // namespace libapdu
