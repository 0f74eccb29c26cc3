#include "info_gost.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_gost");

const size_t kStatusReply = 258;
const size_t kVersionAt = 1, kVersionSize = 4, kFreeAt = 9, kSerialAt = 16, kSerialSize = 8;
const size_t kHostOrderFields[] = {5, 7, 9};
// One command carries the whole request; the count is 16 bits wide.
const size_t kMaxRandomReply = 0x10000;

unsigned short HostField(const TBytes& record, size_t at) {
    unsigned short v;
    std::memcpy(&v, record.data() + at, sizeof v);
    return v;
}
}  // namespace

CInfoGost::CInfoGost(IApplet* applet) : CInfoCommon(applet) {}

TBytes CInfoGost::get_status() {
    const TBytes reply = exchange({0x80, 0x15, 0x10, 0x00, 0x01, 0x01}, kStatusReply);
    CByteReader r = AnswerData(reply);
    if (r.remaining() < kStatusSize) LIBAPDU_RAISE(kSwBadAnswer);
    TBytes record = r.take(kStatusSize);
    for (size_t at : kHostOrderFields) {
        const unsigned short v = CByteReader(record.data() + at, 2).be16();
        std::memcpy(record.data() + at, &v, sizeof v);
    }
    return record;
}

TBytes CInfoGost::version(unsigned char) {
    const TBytes s = get_status();
    return TBytes(s.begin() + kVersionAt, s.begin() + kVersionAt + kVersionSize);
}

TBytes CInfoGost::id(unsigned char) {
    const TBytes s = get_status();
    return TBytes(s.begin() + kSerialAt, s.begin() + kSerialAt + kSerialSize);
}

unsigned int CInfoGost::memoryFree() { return HostField(get_status(), kFreeAt); }

TBytes CInfoGost::rnd(size_t n) {
    TBytes command = {0x80, 0x14, 0x40, 0x00, 0x02};
    PutBE16(command, static_cast<unsigned short>(n & 0xFFFF));
    command.push_back(0x00);
    // No answer can be longer than the count allows, so no larger buffer is made.
    const TBytes reply = exchange(command, (n < kMaxRandomReply ? n : kMaxRandomReply) + 2);
    if (ResponseDataSize(reply) != n) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(n);
}

}  // namespace libapdu
