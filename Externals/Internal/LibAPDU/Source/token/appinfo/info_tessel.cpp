#include "info_tessel.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_tessel");

const TBytes kGetVersion = {0x00, 0xCB, 0x00, 0x03, 0x00};
const TBytes kGetSerial = {0x80, 0xCB, 0x01, 0x14, 0x00};
const unsigned char kMemoryTotal = 0x10, kMemoryFree = 0x11;
const size_t kReply = 256;
const size_t kMaxChallenge = 8;
}  // namespace

CInfoTessel::CInfoTessel(IApplet* applet) : CInfoCommon(applet), m_fips(kFipsUnknown) {}

CInfoTessel::~CInfoTessel() = default;

TBytes CInfoTessel::rnd(size_t n) { return challenge(0x00, 0x84, n, kMaxChallenge, kSource); }

bool CInfoTessel::isFips() { return false; }

unsigned int CInfoTessel::color() { return 0xFFFFFFFFu; }

TBytes CInfoTessel::version(unsigned char) {
    const TBytes reply = exchange(kGetVersion, kReply);
    if (reply.size() != 6) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(4);
}

TBytes CInfoTessel::id(unsigned char) {
    const TBytes reply = exchange(kGetSerial, kReply);
    if (ResponseDataSize(reply) != 8) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(8);
}

unsigned int CInfoTessel::memory(unsigned char p2) {
    const TBytes reply = exchange({0x80, 0xCB, 0x01, p2, 0x00}, kReply);
    // Older applets answer the figure in two bytes, newer ones in four.
    CByteReader r(reply);
    if (reply.size() == 6) return r.be32();
    if (reply.size() == 4) return r.be16();
    LIBAPDU_RAISE(kSwBadAnswer);
}

unsigned int CInfoTessel::memoryTotal() { return memory(kMemoryTotal); }

unsigned int CInfoTessel::memoryFree() { return memory(kMemoryFree); }

}  // namespace libapdu
