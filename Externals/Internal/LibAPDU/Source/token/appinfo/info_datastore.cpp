#include "info_datastore.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_datastore");

const TBytes kGetStatus = {0x80, 0x30, 0x30, 0x00, 0x00};
const size_t kReply = 258;
const size_t kShortRecord = 30, kLongRecord = 34;
const size_t kVersionAt = 0, kVersionLength = 3;
const size_t kFree16At = 5;
const size_t kSerialAt = 22, kSerialLength = 8;
const size_t kFree32At = 30;
}  // namespace

CInfoDataStore::CInfoDataStore(IApplet* applet) : CInfoCommon(applet) {}

CInfoDataStore::~CInfoDataStore() = default;

TBytes CInfoDataStore::get_status() {
    const TBytes reply = exchange(kGetStatus, kReply);
    const size_t n = ResponseDataSize(reply);
    if (n != kShortRecord && n != kLongRecord) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(n);
}

TBytes CInfoDataStore::rnd(size_t) { LIBAPDU_RAISE(kErrNotSupported); }

bool CInfoDataStore::isFips() { return false; }

unsigned int CInfoDataStore::color() { return 0xFFFFFFFFu; }

TBytes CInfoDataStore::version(unsigned char) {
    const TBytes record = get_status();
    CByteReader r(record);
    r.skip(kVersionAt);
    return r.take(kVersionLength);
}

TBytes CInfoDataStore::id(unsigned char) {
    const TBytes record = get_status();
    CByteReader r(record);
    r.skip(kSerialAt);
    return r.take(kSerialLength);
}

unsigned int CInfoDataStore::memoryFree() {
    unsigned int free = 0;
    if (Pellar3GetMemory(nullptr, &free)) return free;
    const TBytes record = get_status();
    CByteReader r(record);
    if (record.size() == kShortRecord) {
        r.skip(kFree16At);
        return r.be16();
    }
    r.skip(kFree32At);
    return r.be32();
}

unsigned int CInfoDataStore::memoryTotal() {
    unsigned int total = 0;
    return Pellar3GetMemory(&total, nullptr) ? total : 0xFFFFFFFFu;
}

}  // namespace libapdu
