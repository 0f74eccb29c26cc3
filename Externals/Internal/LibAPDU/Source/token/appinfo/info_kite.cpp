#include "info_kite.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_kite");

const TBytes kGetVersion = {0x00, 0xCA, 0x01, 0x82, 0x00};
const TBytes kGetSerial = {0x00, 0xCA, 0x01, 0x81, 0x00};
const TBytes kGetMemoryTotal = {0x00, 0xCA, 0x01, 0x89, 0x00};
const TBytes kGetMemoryFree = {0x00, 0xCA, 0x01, 0x8A, 0x00};
const size_t kMaxChallenge = 240;

const unsigned int kControlCode = 0x9C41264C;
const TBytes kBasicInfoRequest = {0x02, 0x00, 0x00, 0x00};
const TBytes kCfgLengthRequest = {0x01, 0x00, 0x00, 0x00, 0xC0, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00};
const TBytes kCfgBlockRequest = {0x01, 0x00, 0x00, 0x00, 0xC0, 0xAA, 0x00, 0x00, 0x01, 0x00};  // + n+1, low first

// The FIPS application directory holds this file; other Kite tokens lack it.
const path kFipsProbe = {0x3F00, 0x6666, 0x5000, 0x0002};
const path kColorFips = {0x3F00, 0x6666, 0x5000, 0x000A};
const path kColorOther = {0x3F00, 0x6666, 0x1000, 0x0006};
}  // namespace

CInfoKite::CInfoKite(IApplet* applet) : CInfoCommon(applet), m_fips(kFipsUnknown) {}

CInfoKite::~CInfoKite() = default;

TBytes CInfoKite::rnd(size_t n) { return challenge(0x00, 0x84, n, kMaxChallenge, kSource); }

bool CInfoKite::isFips() {
    if (m_fips != kFipsUnknown) return m_fips == kFipsOn;
    try {
        m_applet->fs()->select(kFipsProbe);
        m_fips = kFipsOn;
    } catch (const IException&) {
        m_fips = kFipsOff;
    }
    return m_fips == kFipsOn;
}

TBytes CInfoKite::version(unsigned char) {
    const TBytes reply = exchange(kGetVersion, 258);
    if (reply.size() < 4) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(2);
}

TBytes CInfoKite::id(unsigned char kind) {
    if (kind == 1) return corvidID();
    const TBytes reply = exchange(kGetSerial, 258);
    if (reply.size() < 18) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader r(reply);
    r.skip(10);
    return r.take(6);
}

unsigned int CInfoKite::color() {
    try {
        const bool fips = isFips();
        IAppFS* fs = m_applet->fs();
        fs->select(fips ? kColorFips : kColorOther);
        TBytes b(1, 0);
        fs->read(b, fips ? 2 : 0);
        return CByteReader(b).u8();
    } catch (const IException&) {
        return 0xFFFFFFFFu;
    }
}

unsigned int CInfoKite::memoryFree() {
    // The figures belong to the application directory, which the empty path selects.
    m_applet->fs()->select(path());
    const TBytes reply = exchange(kGetMemoryFree, 256);
    if (reply.size() != 4) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).be16();
}

unsigned int CInfoKite::memoryTotal() {
    m_applet->fs()->select(path());
    const TBytes reply = exchange(kGetMemoryTotal, 256);
    if (reply.size() < 6) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader r(reply);
    r.skip(2);
    return static_cast<unsigned int>(r.be16()) << 10;
}

TBytes CInfoKite::readBasicInfo() {
    // The reply starts empty: a reader without a control channel leaves it so,
    // and that must never pass for a block of zeroes.
    TBytes reply;
    m_applet->sender()->control(kControlCode, kBasicInfoRequest, reply);
    if (reply.size() != 8) LIBAPDU_RAISE(kSwBadAnswer);
    return reply;
}

TBytes CInfoKite::corvidID() {
    TBytes info;
    try {
        info = readBasicInfo();
    } catch (...) {
        LIBAPDU_RAISE(kErrNotSupported);
    }
    CByteReader r(info);
    r.skip(4);
    TBytes number = r.take(4);
    reverseBuf(number);  // the block holds it low byte first
    return number;
}

TBytes CInfoKite::readCfg() {
    TBytes head;
    m_applet->sender()->control(kControlCode, kCfgLengthRequest, head);
    if (head.size() != 3) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader h(head);
    const size_t n = h.be16();
    if (h.u8() != 0x00) LIBAPDU_RAISE(kSwBadAnswer);
    // n + 1 must fit the two-byte length of the request.
    if (n == 0xFFFF) LIBAPDU_RAISE(kSwBadAnswer);
    const size_t want = n + 1;

    TBytes request = kCfgBlockRequest;
    request.push_back(static_cast<unsigned char>(want & 0xFF));
    request.push_back(static_cast<unsigned char>(want >> 8));
    TBytes block;
    m_applet->sender()->control(kControlCode, request, block);
    if (block.size() != want) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader b(block);
    TBytes cfg = b.take(n);
    if (b.u8() != 0x00) LIBAPDU_RAISE(kSwBadAnswer);
    return cfg;
}

}  // namespace libapdu
