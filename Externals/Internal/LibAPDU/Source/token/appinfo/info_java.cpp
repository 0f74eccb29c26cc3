#include "info_java.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_java");

const JavaInfoCommands kJavaCommands = {
    {0x00, 0xCA},  // GET DATA
    {0x80, 0x17},  // GET CHALLENGE
};

const size_t kMaxChallenge = 32;

// GET DATA objects; the answer carries each under its own number as tag.
enum : unsigned char { kTokenInfo = 0x07, kVersion = 0x11, kMemoryTotal = 0x13, kMemoryFree = 0x14 };
// Sub-objects of the token information.
enum : int { kNone = -1, kSerial = 0x01, kManufactured = 0x04, kColor = 0x05 };

// Relative to the application directory of the FIPS layout; its second byte is the flag.
const path kFipsFile = {0x000A};
}  // namespace

CInfoJavaFamily::CInfoJavaFamily(IApplet* applet, const JavaInfoCommands& commands, const wchar_t* source)
    : CInfoCommon(applet), m_cmd(commands), m_source(source), m_fips(kFipsUnknown) {}

CInfoJavaFamily::~CInfoJavaFamily() = default;

TBytes CInfoJavaFamily::getData(unsigned char object, int subTag) {
    const TBytes reply = exchange({m_cmd.getData.cla, m_cmd.getData.ins, 0x01, object, 0x00}, 256);
    return objectValue(reply, object, subTag, m_source);
}

TBytes CInfoJavaFamily::rnd(size_t n) {
    return challenge(m_cmd.challenge.cla, m_cmd.challenge.ins, n, kMaxChallenge, m_source);
}

bool CInfoJavaFamily::isFips() {
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

TBytes CInfoJavaFamily::version(unsigned char) { return getData(kVersion, kNone); }

TBytes CInfoJavaFamily::id(unsigned char) { return getData(kTokenInfo, kSerial); }

TBytes CInfoJavaFamily::ManufacturingDate() { return getData(kTokenInfo, kManufactured); }

TBytes CInfoJavaFamily::value(unsigned char kind) { return kind == 1 ? ManufacturingDate() : TBytes(); }

unsigned int CInfoJavaFamily::color() {
    const TBytes v = getData(kTokenInfo, kColor);
    return leadingNumber(CByteReader(v));
}

unsigned int CInfoJavaFamily::memoryTotal() {
    const TBytes v = getData(kMemoryTotal, kNone);
    return leadingNumber(CByteReader(v));
}

unsigned int CInfoJavaFamily::memoryFree() {
    const TBytes v = getData(kMemoryFree, kNone);
    return leadingNumber(CByteReader(v));
}

// ---------------------------------------------------------------- CInfoJava

CInfoJava::CInfoJava(IApplet* applet) : CInfoJavaFamily(applet, kJavaCommands, kSource) {}

}  // namespace libapdu
