#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_common");
}

PinInfo UnknownPinInfo() {
    PinInfo p;
    p.minLength = 0;
    p.maxLength = 0;
    p.triesLeft = kTriesUnknown;
    p.triesMax = kTriesUnknown;
    p.loginState = kLoginUnknown;
    return p;
}

// ---------------------------------------------------------------- CPinCommand

CPinCommand::CPinCommand(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2)
    : m_header{cla, ins, p1, p2} {
    m_data.reserve(kMaxData);
}

void CPinCommand::room(size_t n) const {
    if (n > kMaxData - m_data.size()) LIBAPDU_RAISE(kSwBadArgument);
}

CPinCommand& CPinCommand::byte(unsigned char b) {
    room(1);
    m_data.push_back(b);
    return *this;
}

CPinCommand& CPinCommand::lengthOf(const TBytes& field) {
    if (field.size() > 0xFF) LIBAPDU_RAISE(kSwBadArgument);
    return byte(static_cast<unsigned char>(field.size()));
}

CPinCommand& CPinCommand::bytes(const TBytes& field) {
    room(field.size());
    m_data.insert(m_data.end(), field.begin(), field.end());
    return *this;
}

TBytes CPinCommand::build(bool expectAnswer) const {
    TBytes apdu;
    apdu.reserve(4 + 1 + m_data.size() + 1);
    apdu.assign(m_header, m_header + 4);
    apdu.push_back(static_cast<unsigned char>(m_data.size()));
    apdu.insert(apdu.end(), m_data.begin(), m_data.end());
    if (expectAnswer) apdu.push_back(0x00);
    return apdu;
}

// ---------------------------------------------------------------- CPinCommon

CPinCommon::CPinCommon(IApplet* owner) : m_owner(owner) {}

CPinCommon::~CPinCommon() = default;

void CPinCommon::NamesInitProc() {}

void CPinCommon::NamesInit() {
    if (m_namesReady || m_namesFilling) return;
    m_namesFilling = true;
    // A retry after a failed fill starts from nothing, so values are never doubled.
    m_pathUser.clear();
    m_pathAdmin.clear();
    m_pathGlobal.clear();
    try {
        NamesInitProc();
    } catch (...) {
        m_pathUser.clear();
        m_pathAdmin.clear();
        m_pathGlobal.clear();
        m_namesFilling = false;
        throw;
    }
    m_namesFilling = false;
    m_namesReady = true;
}

const path& CPinCommon::pathUser() {
    NamesInit();
    return m_pathUser;
}

const path& CPinCommon::pathAdmin() {
    NamesInit();
    return m_pathAdmin;
}

const path& CPinCommon::pathGlobal() {
    NamesInit();
    return m_pathGlobal;
}

TBytes CPinCommon::transmit(const TBytes& command, size_t capacity) {
    TBytes response(capacity, 0);
    m_owner->sender()->send(command, response);
    return response;
}

unsigned short CPinCommon::statusOf(const TBytes& response) { return m_owner->error()->extractSW(response); }

void CPinCommon::judge(unsigned short sw) { m_owner->error()->raiseSW(sw); }

TBytes CPinCommon::exchange(const TBytes& command, size_t capacity) {
    TBytes response = transmit(command, capacity);
    judge(statusOf(response));
    response.resize(ResponseDataSize(response));
    return response;
}

void CPinCommon::clearKeySlots() {
    IAppPack* keys = m_owner->pack();
    keys->keyClear();
    // Saving the emptied slots overwrites the copy a PIN change put aside, which
    // would otherwise keep the previous login's session keys past a logout.
    keys->keySave();
}

void CPinCommon::verify(const TBytes& command, PinInfo& status, const std::function<void()>& accepted) {
    const unsigned short sw = statusOf(transmit(command));
    if (status.triesLeft != 0) --status.triesLeft;
    judge(sw);
    if (accepted) accepted();
    status.triesLeft = status.triesMax;
    status.loginState = kLoginVerified;
}

}  // namespace libapdu
