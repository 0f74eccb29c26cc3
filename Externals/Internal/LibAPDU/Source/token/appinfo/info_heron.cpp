#include "info_heron.h"

namespace libapdu {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_heron");

const unsigned char kGetDataCla = 0x80, kGetDataIns = 0x02;
const unsigned char kChallengeCla = 0x80, kChallengeIns = 0x12;
const size_t kMaxChallenge = 32;

// GET DATA objects; the answer carries each under its own number as tag.
enum : unsigned char { kTokenInfo = 0x07, kVersion = 0x11, kMemoryTotal = 0x13, kMemoryFree = 0x14 };
// Sub-objects of the token information.
enum : int { kNone = -1, kSerial = 0x01, kManufactured = 0x04, kColor = 0x05 };

// Relative to the application directory of the FIPS layout; its second byte is the flag.
const path kFipsFile = {0x000A};
}  // namespace

CInfoHeron::CInfoHeron(IApplet* applet) : CInfoCommon(applet), m_fips(kFipsUnknown) {}

CInfoHeron::~CInfoHeron() = default;

TBytes CInfoHeron::getData(unsigned char object, int subTag) {
    const TBytes reply = exchange({kGetDataCla, kGetDataIns, 0x01, object, 0x00}, 256);
    return objectValue(reply, object, subTag, kSource);
}

TBytes CInfoHeron::rnd(size_t n) { return challenge(kChallengeCla, kChallengeIns, n, kMaxChallenge, kSource); }

bool CInfoHeron::isFips() {
    if (m_fips != kFipsUnknown) return m_fips == kFipsOn;
    try {
        IAppFS* fs = m_applet->fs();
        fs->select(kFipsFile);
        TBytes flag(2, 0);
        fs->read(flag, 0);
        CByteReader r(flag);
        r.skip(1);
        m_fips = r.u8() != 0 ? kFipsOn : kFipsOff;
    } catch (const IException&) {
        m_fips = kFipsOff;
    }
    return m_fips == kFipsOn;
}

TBytes CInfoHeron::version(unsigned char) { return getData(kVersion, kNone); }

TBytes CInfoHeron::id(unsigned char) { return getData(kTokenInfo, kSerial); }

TBytes CInfoHeron::ManufacturingDate() { return getData(kTokenInfo, kManufactured); }

TBytes CInfoHeron::value(unsigned char kind) { return kind == 1 ? ManufacturingDate() : TBytes(); }

unsigned int CInfoHeron::color() {
    const TBytes v = getData(kTokenInfo, kColor);
    return leadingNumber(CByteReader(v));
}

unsigned int CInfoHeron::memoryTotal() {
    const TBytes v = getData(kMemoryTotal, kNone);
    return leadingNumber(CByteReader(v));
}

unsigned int CInfoHeron::memoryFree() {
    const TBytes v = getData(kMemoryFree, kNone);
    return leadingNumber(CByteReader(v));
}

}  // namespace libapdu
