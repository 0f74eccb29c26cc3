#include "apppin/pin_datastore.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_datastore");

const size_t kStatusCapacity = 258;
const size_t kStatusShort = 30;
const size_t kStatusLong = 34;

}  // namespace

PinInfo ParseDataStorePinStatus(const TBytes& record, unsigned short pinId) {
    if (record.size() != kStatusShort && record.size() != kStatusLong) LIBAPDU_RAISE(kSwBadAnswer);
    if (pinId < 1 || pinId > 3) LIBAPDU_RAISE(kSwBadArgument);

    // Five tables of three bytes from offset 7, one entry per PIN.
    auto entry = [&](size_t table) {
        CByteReader r(record);
        r.skip(7 + 3 * table + (pinId - 1));
        return r.u8();
    };
    const unsigned char verified = entry(0);
    const unsigned char failures = entry(1);
    const unsigned char limit = entry(2);

    PinInfo p;
    p.triesMax = limit;
    // A card that counts more failures than its limit has blocked the PIN:
    // report no tries left rather than a count wrapped round to near 255.
    p.triesLeft = failures > limit ? 0 : static_cast<unsigned char>(limit - failures);
    p.loginState = verified ? kLoginVerified : kLoginNotVerified;
    p.minLength = entry(3);
    p.maxLength = entry(4);
    return p;
}

CPinDataStore::CPinDataStore(IApplet* owner) : CPinCommon(owner), m_info(UnknownPinInfo()) {}

void CPinDataStore::NamesInitProc() {
    m_pathUser.push_back(1);
    m_pathAdmin.push_back(2);
    m_pathGlobal.push_back(3);
}

int CPinDataStore::encoding() { return kPinEncodingLocale; }

PinInfo CPinDataStore::info() { return m_info; }

bool CPinDataStore::tooLong(const TBytes& pin) const {
    // No record read: nothing is known of the PIN, and nothing is sent for it.
    if (!m_recordRead) return true;
    // A maximum of 0 in the record means the card states none.
    return m_info.maxLength != 0 && pin.size() > m_info.maxLength;
}

void CPinDataStore::select(const path& designator) {
    m_info = UnknownPinInfo();
    m_recordRead = false;
    if (designator.empty()) LIBAPDU_RAISE(kSwBadArgument);
    const unsigned short id = designator.back();
    m_reference = static_cast<unsigned short>(id - 1);

    const TBytes record = exchange({0x80, 0x30, 0x30, 0x00, 0x00}, kStatusCapacity);
    m_info = ParseDataStorePinStatus(record, id);
    m_recordRead = true;
}

void CPinDataStore::login(const TBytes& pin) {
    if (tooLong(pin)) LIBAPDU_RAISE(kSwBadArgument);
    CPinCommand c(0x80, 0x10, 0x10, 0x00);
    c.byte(static_cast<unsigned char>(m_reference)).lengthOf(pin).bytes(pin);
    const TBytes command = c.build();
    verify(command, m_info);
}

void CPinDataStore::change(const TBytes& newPin) {
    if (tooLong(newPin)) LIBAPDU_RAISE(kSwBadArgument);
    CPinCommand c(0x80, 0x10, 0x20, 0x00);
    c.byte(static_cast<unsigned char>(m_reference)).lengthOf(newPin).bytes(newPin);
    const TBytes command = c.build(true);
    exchange(command);
}

void CPinDataStore::logout() {
    m_info.loginState = kLoginNotVerified;
    // Six bytes as the applet has always been sent them; the transport drops the
    // empty Lc, so the card sees 80 10 30 00 00.
    exchange({0x80, 0x10, 0x30, 0x00, 0x00, 0x00});
}

}  // namespace libapdu
