#include "info_wren.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_wren");

const TBytes kGetConfig = {0x00, 0xDA, 0x00, 0x00, 0x01, 0x00, 0x00};
const size_t kReply = 258;
const size_t kMinRecord = 19;  // the colour byte is the last one every record has
const size_t kSerialAt = 0, kSerialLength = 4;
const size_t kVersionAt = 4, kVersionLength = 2;
const size_t kTotalAt = 6, kFreeAt = 16, kColorAt = 18;

// One little-endian figure of the record.
unsigned int Figure16(const TBytes& record, size_t at) {
    CByteReader r(record);
    r.skip(at);
    return r.le16();
}
}  // namespace

CInfoWren::CInfoWren(IApplet* applet) : CInfoCommon(applet) {}

CInfoWren::~CInfoWren() = default;

TBytes CInfoWren::config() {
    const TBytes reply = exchange(kGetConfig, kReply);
    // Checked on the data alone: the status word's two bytes are not part of the record.
    const size_t n = ResponseDataSize(reply);
    if (n < kMinRecord) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(n);
}

TBytes CInfoWren::rnd(size_t) { LIBAPDU_RAISE(kErrNotSupported); }

bool CInfoWren::isFips() { return false; }

TBytes CInfoWren::version(unsigned char) {
    const TBytes record = config();
    CByteReader r(record);
    r.skip(kVersionAt);
    return r.take(kVersionLength);
}

TBytes CInfoWren::id(unsigned char) {
    const TBytes record = config();
    CByteReader r(record);
    r.skip(kSerialAt);
    return r.take(kSerialLength);
}

unsigned int CInfoWren::color() {
    const TBytes record = config();
    CByteReader r(record);
    r.skip(kColorAt);
    return r.u8();
}

unsigned int CInfoWren::memoryTotal() { return Figure16(config(), kTotalAt); }

unsigned int CInfoWren::memoryFree() { return Figure16(config(), kFreeAt); }

}  // namespace libapdu
