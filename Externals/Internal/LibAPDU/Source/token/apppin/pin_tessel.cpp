#include "apppin/pin_tessel.h"

#include <openssl/crypto.h>

#include <cstring>

#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_tessel");

const TBytes kReadUserReference = {0x80, 0xA4, 0x08, 0x0C, 0x06, 0x3F, 0x00, 0x30, 0x00, 0x30, 0x02};
const TBytes kSelectCounter = {0x80, 0xA4, 0x08, 0x0C, 0x04, 0x3F, 0x00, 0x00, 0x20, 0x00};
const TBytes kLoginState = {0x80, 0xCE, 0x00, 0x00, 0x00};
const TBytes kChallenge = {0x00, 0x84, 0x00, 0x00, 0x08};
const TBytes kPrepareUnblock = {0x80, 0x2C, 0x00, 0x00, 0x00};

const size_t kSelectReply = 258;
const size_t kStateReply = 256;
const size_t kChallengeReply = 10;
const size_t kChallengeSize = 8;
const size_t kResponseSize = 16;
// Lc of a select by path is one byte: 127 identifiers at most.
const size_t kMaxPathElements = 127;

const unsigned short kRoot = 0x3F00;
const unsigned short kAdminReference = 0x10, kGlobalReference = 0x01, kCounterReference = 0x20;

enum : unsigned char {
    kTagFcp = 0x62,
    kTagPinAttributes = 0x85,
    kTagAccess = 0x86,
    kTagRecord = 0x01,
};

enum : unsigned int { kTicketPin = 0x20, kTicketBio = 0x23, kTicketEither = 0x24, kTicketBoth = 0x25 };

const size_t kTicketPinChars = 30;
const size_t kTicketPinOffset = 24;

[[noreturn]] void ParseFailure() { throw 0; }

void SplitTries(unsigned char b, PinInfo& info) {
    info.triesLeft = static_cast<unsigned char>(b >> 4);
    info.triesMax = static_cast<unsigned char>(b & 0x0F);
}
}  // namespace

// ---------------------------------------------------------------- compact TLV

TBytes TesselTlvFind(const TBytes& data, size_t from, size_t to, unsigned char tag, size_t* declared) {
    if (to > data.size() || from > to) ParseFailure();
    size_t at = from;
    for (;;) {
        if (at >= to) ParseFailure();
        const unsigned char t = data[at++];
        if (t == 0x00 || t == 0xFF || at >= to) ParseFailure();
        size_t n = data[at++];
        if (n == 0xFF) {
            if (to - at < 2) ParseFailure();
            n = static_cast<size_t>((data[at] << 8) | data[at + 1]);
            at += 2;
        }
        if (t == tag && declared) {
            *declared = n;
            const size_t present = std::min(n, to - at);
            return TBytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                          data.begin() + static_cast<std::ptrdiff_t>(at + present));
        }
        if (n > to - at) ParseFailure();
        if (t == tag)
            return TBytes(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
}

TBytes TesselFcpFind(const TBytes& response, unsigned char tag) {
    const TBytes fcp = TesselTlvFind(response, 0, ResponseDataSize(response), kTagFcp);
    return TesselTlvFind(fcp, 0, fcp.size(), tag);
}

// ---------------------------------------------------------------- tickets

CTesselTicket::CTesselTicket() { std::memset(record, 0, sizeof record); }

CTesselTicket::~CTesselTicket() { SecureWipe(record, sizeof record); }

void CTesselTicket::load(const TBytes& text) {
    const TBytes d = Base64DecodeText(text);
    std::memset(record, 0, sizeof record);
    size_t declared = 0;
    const TBytes value = TesselTlvFind(d, std::min(kCheckSize, d.size()), d.size(), kTagRecord, &declared);
    // A text with no record leaves it zero (an empty value has no storage to copy from).
    if (!value.empty()) std::memcpy(record, value.data(), std::min(value.size(), sizeof record));
}

bool CTesselTicket::parse(const TBytes& text) {
    if (text.size() != kTextSize) return false;
    const TBytes d = Base64DecodeText(text);
    if (d.size() < kCheckSize) return false;  // no check value to compare
    unsigned char check[kCheckSize];
    crypto_corvid_md5_24(d.data() + kCheckSize, d.size() - kCheckSize, nullptr, 0, check, sizeof check);
    const bool matches = CRYPTO_memcmp(check, d.data(), kCheckSize) == 0;
    SecureWipe(check, sizeof check);
    if (!matches) return false;

    size_t declared = 0;
    const TBytes value = TesselTlvFind(d, kCheckSize, d.size(), kTagRecord, &declared);
    if (declared != kRecordSize) return false;
    std::memset(record, 0, sizeof record);
    if (!value.empty()) std::memcpy(record, value.data(), std::min(value.size(), sizeof record));
    return true;
}

unsigned int CTesselTicket::type() const {
    return record[0] | (record[1] << 8) | (record[2] << 16) | (static_cast<unsigned int>(record[3]) << 24);
}

TBytes CTesselTicket::keyId() const { return TBytes(record + 4, record + 8); }

TBytes CTesselTicket::key() const { return TBytes(record + 8, record + 24); }

bool CTesselTicket::bioPresent() const { return !CPinTessel::isZeroes(record + 4, 20); }

bool CTesselTicket::pinPresent() const {
    return !CPinTessel::isZeroes(record + kTicketPinOffset, static_cast<int>(kTicketPinChars * 4));
}

TBytes CTesselTicket::pin(int encoding) const {
    // The characters go into one block, reserved at once and wiped on every way out.
    std::wstring text;
    text.reserve(kTicketPinChars);
    struct Wipe {
        std::wstring& s;
        ~Wipe() {
            if (!s.empty()) SecureWipe(&s[0], s.size() * sizeof(wchar_t));
        }
    } wipe{text};
    for (size_t i = 0; i < kTicketPinChars; ++i) {
        const unsigned char* c = record + kTicketPinOffset + 4 * i;
        const unsigned int v = c[0] | (c[1] << 8) | (c[2] << 16) | (static_cast<unsigned int>(c[3]) << 24);
        if (v == 0) break;
        text.push_back(static_cast<wchar_t>(v));
    }
    return IConvert::wstring_to_bytes(text, static_cast<unsigned char>(encoding));
}

// ---------------------------------------------------------------- CPinTessel

CPinTessel::CPinTessel(IApplet* owner) : CPinCommon(owner), m_info(UnknownPinInfo()) {}

CPinTessel::~CPinTessel() = default;

bool CPinTessel::isZeroes(const unsigned char* data, int count) {
    for (int i = 0; i < count; ++i)
        if (data[i]) return false;
    return true;
}

bool CPinTessel::isZeroes(const wchar_t* data, int count) {
    for (int i = 0; i < count; ++i)
        if (data[i]) return false;
    return true;
}

int CPinTessel::encoding() { return kPinEncodingUtf8; }

PinInfo CPinTessel::info() { return m_info; }

void CPinTessel::NamesInitProc() {
    m_pathCounter.clear();
    const TBytes response = transmit(kReadUserReference, kSelectReply);
    judge(statusOf(response));
    const TBytes access = TesselFcpFind(response, kTagAccess);
    if (access.size() < 2) ParseFailure();
    m_pathUser = {kRoot, access[1]};
    m_pathAdmin = {kRoot, kAdminReference};
    m_pathGlobal = {kRoot, kGlobalReference};
    m_pathCounter = {kRoot, kCounterReference};
    m_designatorsRead = true;
}

TBytes CPinTessel::selectCommand(const path& p) const {
    TBytes command = {0x80, 0xA4, 0x08, 0x0C, static_cast<unsigned char>(2 * p.size())};
    for (unsigned short id : p) PutBE16(command, id);
    command.push_back(0x00);
    return command;
}

void CPinTessel::select(const path& p) {
    if (p.empty() || p.size() > kMaxPathElements) LIBAPDU_RAISE(kSwBadArgument);
    m_selectedPath = p;
    m_selectedReference = p.back();

    const TBytes command = selectCommand(p);
    TBytes attributes;
    {
        const TBytes response = transmit(command, kSelectReply);
        judge(statusOf(response));
        try {
            attributes = TesselFcpFind(response, kTagPinAttributes);
        } catch (int) {
            LIBAPDU_RAISE(kSwBadAnswer);
        }
    }
    const unsigned char kind = attributes.size() >= 3 ? attributes[2] : 0xFF;
    if (attributes.size() < 3 || ((kind == 0x00 || kind == 0x01) && attributes.size() < 5)) LIBAPDU_RAISE(kSwBadAnswer);

    m_info = UnknownPinInfo();
    if (kind == 0x00 || kind == 0x01) {
        SplitTries(attributes[4], m_info);
    } else if (kind == 0x0F) {
        const TBytes counter = transmit(kSelectCounter, kStateReply);
        judge(statusOf(counter));
        try {
            const TBytes v = TesselFcpFind(counter, kTagPinAttributes);
            if (v.size() >= 5) SplitTries(v[4], m_info);
        } catch (int) {
            // The counters stay unknown.
        }
        // The counter object is now current on the card; login and change act on
        // the PIN object, so it is made current again.
        judge(statusOf(transmit(command, kSelectReply)));
    }

    const TBytes state = transmit(kLoginState, kStateReply);
    judge(statusOf(state));
    m_info.loginState = kLoginNotVerified;
    const size_t n = ResponseDataSize(state);
    if (n > 2)
        for (size_t i = 2; i < n; i += 3)
            if (state[i] == m_selectedReference) m_info.loginState = kLoginVerified;
    m_info.minLength = 4;
    m_info.maxLength = 16;
}

TBytes CPinTessel::challengeGet() {
    TBytes c = exchange(kChallenge, kChallengeReply);
    if (c.size() != kChallengeSize) LIBAPDU_RAISE(kSwBadAnswer);
    return c;
}

void CPinTessel::challengeResponse(const TBytes& pin) {
    unsigned char response[kResponseSize] = {0};
    const TBytes c = challengeGet();
    unsigned char challenge[kResponseSize];
    crypto_random(challenge, kChallengeSize);
    std::memcpy(challenge + kChallengeSize, c.data(), kChallengeSize);
    if (!pin.empty()) crypto_mirel_response(pin.data(), pin.size(), challenge, sizeof challenge, response, sizeof response);
    SecureWipe(challenge, sizeof challenge);

    CPinCommand command(0x80, 0x20, 0x00, 0x00);
    command.bytes(TBytes(response, response + kResponseSize));
    SecureWipe(response, sizeof response);
    verify(command.build(), m_info);
}

void CPinTessel::login(const TBytes& pin) {
    if (m_selectedPath == pathGlobal()) LIBAPDU_RAISE(kErrNotSupported);

    CTesselTicket ticket;
    if (ticket.parse(pin)) {
        const unsigned int type = ticket.type();
        const bool bio = type == kTicketBio || type == kTicketBoth || (type == kTicketEither && ticket.bioPresent());
        const bool pinStep = type == kTicketPin || type == kTicketBoth || (type == kTicketEither && ticket.pinPresent());
        // A ticket that asks for nothing proves nothing.
        if (!bio && !pinStep) LIBAPDU_RAISE(0x6300);
        if (bio) {
            if (m_info.triesLeft != 0) --m_info.triesLeft;
            owner()->bio()->loginByTicket(pin);
            m_info.triesLeft = m_info.triesMax;
            m_info.loginState = kLoginVerified;
        }
        if (pinStep) {
            select(m_selectedPath.empty() ? pathUser() : path(m_selectedPath));
            challengeResponse(ticket.pin(kPinEncodingLocale));
        }
        return;
    }

    if (m_selectedPath == pathUser()) {
        challengeResponse(pin);
        return;
    }
    CPinCommand command(0x00, 0x20, 0x00, 0x00);
    command.bytes(pin);
    verify(command.build(), m_info);
}

void CPinTessel::externalLogin(const TBytes& data) {
    CPinCommand command(0x80, 0x82, 0x00, 0x00);
    command.bytes(data);
    verify(command.build(), m_info);
}

void CPinTessel::changeCommand(const TBytes& newPin, bool unblockFirst) {
    if (newPin.empty() || newPin.size() > kMaxNewPin) LIBAPDU_RAISE(0x6300);
    for (unsigned char b : newPin)
        if (b < 0x01 || b > 0x7F) LIBAPDU_RAISE(0x6300);

    if (unblockFirst) transmit(kPrepareUnblock);

    const unsigned char n = static_cast<unsigned char>(newPin.size());
    CPinCommand command(0x80, 0x24, 0x00, 0x00);
    command.byte(0x62).byte(0x81).byte(static_cast<unsigned char>(n + 2)).byte(0x81).byte(n).bytes(newPin);
    const TBytes apdu = command.build();
    TBytes answer(2, 0);
    try {
        owner()->pack()->sm(apdu, answer);
        judge(statusOf(answer));
    } catch (const IException& e) {
        if (e.code() == kSwBadArgument) LIBAPDU_RAISE(0x6300);
        throw;
    }
}

void CPinTessel::change(const TBytes& newPin) { changeCommand(newPin, false); }

void CPinTessel::unblock(const TBytes& newPin) { changeCommand(newPin, true); }

void CPinTessel::logout() {
    m_info.loginState = kLoginNotVerified;
    exchange(TBytes{0x80, 0x28, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, static_cast<unsigned char>(m_selectedReference & 0xFF)});
}

}  // namespace libapdu
