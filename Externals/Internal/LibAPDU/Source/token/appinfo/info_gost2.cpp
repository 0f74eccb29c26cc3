#include "info_gost2.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_gost2");

const unsigned char kRecordKind = 0x02;
// Record 0 grew one byte with applet version 7.
const unsigned char kLastShortVersion = 0x06;
const size_t kRecord0Long = 33, kRecord0Short = 32;
const size_t kRecord4Long = 16, kRecord4Short = 13;
const size_t kVersionSize = 3, kSerialSize = 8, kFreeFromEnd = 26;
const unsigned char kSmSupport = 0x04;
const size_t kRandomSize = 32, kSmInfoSize = 29;

// Data length of each kind; 0 for a kind that is not asked with this command.
const size_t kKindLength[12] = {kRecord0Long, 0, 64, 32, kRecord4Long, 2, 1, 1, 0, 6, 0, 32};
}  // namespace

CInfoGost2::CInfoGost2(IApplet* applet) : CInfoCommon(applet) {}

TBytes CInfoGost2::get_info(unsigned char kind) {
    if (kind >= sizeof kKindLength / sizeof kKindLength[0] || kKindLength[kind] == 0) LIBAPDU_RAISE(kSwBadArgument);
    size_t length = kKindLength[kind];
    if (kind == 4) {
        const TBytes r0 = get_info(0);
        if (r0[0] == kRecordKind && r0[1] <= kLastShortVersion) length = kRecord4Short;
    }
    const TBytes reply = exchange({0x80, 0x38, 0x20, kind, 0x00}, length + 2);
    if (kind == 0 && reply.size() >= 2 && reply[0] == kRecordKind)
        length = reply[1] <= kLastShortVersion ? kRecord0Short : kRecord0Long;
    if (ResponseDataSize(reply) != length) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(length);
}

TBytes CInfoGost2::version(unsigned char) {
    const TBytes r = get_info(0);
    return TBytes(r.begin(), r.begin() + kVersionSize);
}

TBytes CInfoGost2::id(unsigned char) {
    const TBytes r = get_info(0);
    return TBytes(r.end() - kSerialSize, r.end());
}

unsigned int CInfoGost2::memoryFree() {
    const TBytes r = get_info(0);
    CByteReader at(r.data() + r.size() - kFreeFromEnd, 4);
    return at.be32();
}

bool CInfoGost2::isZudezoZudSMSupport() {
    const TBytes r = get_info(4);
    return r.size() == kRecord4Long && (r[kRecord4Long - 1] & kSmSupport) != 0;
}

TBytes CInfoGost2::rnd(size_t) {
    const TBytes reply = exchange({0x80, 0x3E, 0xD0, 0x00, 0x00}, kRandomSize + 2);
    if (ResponseDataSize(reply) != kRandomSize) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(kRandomSize);
}

TBytes CInfoGost2::getZudezoZudSMInfo(unsigned char index) {
    if (index < 1 || index > 4) LIBAPDU_RAISE(kSwBadArgument);
    const TBytes reply = exchange({0x80, 0x38, 0x20, 0x08, 0x01, index, 0x00}, kSmInfoSize + 2);
    if (ResponseDataSize(reply) != kSmInfoSize) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(kSmInfoSize);
}

void CInfoGost2::setZudezoZudSMInfo(const TBytes& first, unsigned char number, const TBytes& second,
                                    const TBytes& third, unsigned char type) {
    if (first.size() != 4) LIBAPDU_RAISE(kSwBadArgument);
    if (number < 1 || number > 3) LIBAPDU_RAISE(kSwBadArgument);
    if (second.size() != 16) LIBAPDU_RAISE(kSwBadArgument);
    if (third.size() != 64) LIBAPDU_RAISE(kSwBadArgument);
    if (type != 2 && type != 4) LIBAPDU_RAISE(kSwBadArgument);
    TBytes command = type == 2 ? TBytes{0x80, 0x0A, 0x20, 0x01, 0x56} : TBytes{0x80, 0x3A, 0x30, 0x01, 0x56};
    command.reserve(5 + 0x56);
    command.push_back(type);
    command.insert(command.end(), first.begin(), first.end());
    command.push_back(number);
    command.insert(command.end(), second.begin(), second.end());
    command.insert(command.end(), third.begin(), third.end());
    exchange(command, 2);
}

}  // namespace libapdu
