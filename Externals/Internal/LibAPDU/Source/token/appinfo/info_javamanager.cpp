#include "info_javamanager.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_javamanager");

const TBytes kGetIdentity = {0x80, 0xCA, 0x00, 0x46, 0x00};
const TBytes kGetObject01 = {0x00, 0xCA, 0x00, 0x01, 0x00};
// Card production life-cycle data, answered with its tag 9F 7F and length in front.
const TBytes kGetLifeCycle = {0x80, 0xCA, 0x9F, 0x7F, 0x00};
const size_t kReply = 256;

// Bytes 11 and 12 of the life-cycle answer hold the operating-system release
// level. A shorter answer must fail: a version made of bytes that were never
// sent would let a token through the acceptance check.
const size_t kLifeCycleMinimum = 13;
}  // namespace

CInfoJavaManager::CInfoJavaManager(IApplet* applet) : CInfoCommon(applet) {}

CInfoJavaManager::~CInfoJavaManager() = default;

TBytes CInfoJavaManager::id(unsigned char) { return objectValue(exchange(kGetIdentity, kReply), 0x46, -1, kSource); }

TBytes CInfoJavaManager::value(unsigned char kind) {
    if (kind != 2) return TBytes();
    return objectValue(exchange(kGetObject01, kReply), 0x01, -1, kSource);
}

TBytes CInfoJavaManager::version(unsigned char) {
    const TBytes reply = exchange(kGetLifeCycle, kReply);
    if (ResponseDataSize(reply) < kLifeCycleMinimum) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader r(reply);
    r.skip(11);
    const unsigned char b11 = r.u8();
    const unsigned char b12 = r.u8();
    return TBytes{b12, b11};
}

}  // namespace libapdu
