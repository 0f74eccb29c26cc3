// Command parsing, the pack facet's defaults, the applet base and the answer reader.
#include "libapdu.internal.h"

#include <string.h>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t* const kSource = kInternalSource;
}

// ---------------------------------------------------------------- parse_capdu

void IAPDUDefinitions::parse_capdu(const TBytes& command, TBytes& header, TBytes& data, unsigned short& le) {
    const size_t n = command.size();
    if (n < 4) LIBAPDU_RAISE(kSwBadArgument);
    header.assign(command.begin(), command.begin() + 4);

    size_t lc = 0, width = 0;
    if (n >= 5 && command[4] != 0x00) {
        lc = command[4];
        width = 1;
    } else if (n >= 7 && command[4] == 0x00) {
        lc = (static_cast<size_t>(command[5]) << 8) | command[6];
        width = 3;
    }
    const size_t offset = 4 + width;

    if (n <= offset) {  // nothing follows the length field: it was an expected length
        data.clear();
        le = static_cast<unsigned short>(lc);
        return;
    }
    // The length is checked before any data byte is touched.
    if (n < offset + lc) LIBAPDU_RAISE(kSwBadArgument);
    data.assign(command.begin() + static_cast<std::ptrdiff_t>(offset),
                command.begin() + static_cast<std::ptrdiff_t>(offset + lc));
    const size_t trailing = n - offset - lc;
    if (trailing > 3) LIBAPDU_RAISE(kSwBadArgument);
    const unsigned char* t = command.data() + offset + lc;
    if (trailing == 3 && t[0] != 0x00) LIBAPDU_RAISE(kSwBadArgument);
    switch (trailing) {
        case 0: le = 0; break;
        case 1: le = t[0]; break;
        case 2: le = static_cast<unsigned short>((t[0] << 8) | t[1]); break;
        default: le = static_cast<unsigned short>((t[1] << 8) | t[2]); break;
    }
}

// ---------------------------------------------------------------- pack defaults

IAppPack::~IAppPack() = default;

// ---------------------------------------------------------------- applet base

IApplet::IApplet(ISender* sender) { installDefaults(sender); }

IApplet::~IApplet() = default;  // slots go in reverse declaration order: session first, error last

void IApplet::installDefaults(ISender* sender) {
    m_error.set(new IAppError);
    m_pack.set(new IAppPack);
    m_fs.set(new IAppFS);
    m_pin.set(new IAppPin);
    m_info.set(new IAppInfo);
    m_label.set(new IAppLabel);
    m_crypto.set(new IAppCrypto);
    m_bio.set(new IAppBio);
    m_session.set(new IAppSession);
    m_sender = sender;
}

namespace {
template <class T> T* Held(T* p) {
    if (!p) LIBAPDU_RAISE(kErrNotSupported);
    return p;
}
}  // namespace

ISender* IApplet::sender() const { return Held(m_sender); }
IAppError* IApplet::error() const { return Held(m_error.p); }
IAppPack* IApplet::pack() const { return Held(m_pack.p); }
IAppFS* IApplet::fs() const { return Held(m_fs.p); }
IAppPin* IApplet::pin() const { return Held(m_pin.p); }
IAppInfo* IApplet::info() const { return Held(m_info.p); }
IAppLabel* IApplet::label() const { return Held(m_label.p); }
IAppCrypto* IApplet::crypto() const { return Held(m_crypto.p); }
IAppBio* IApplet::bio() const { return Held(m_bio.p); }
IAppSession* IApplet::session() const { return Held(m_session.p); }

void IApplet::setError(IAppError* p) { m_error.set(p); }
void IApplet::setPack(IAppPack* p) { m_pack.set(p); }
void IApplet::setFs(IAppFS* p) { m_fs.set(p); }
void IApplet::setPin(IAppPin* p) { m_pin.set(p); }
void IApplet::setInfo(IAppInfo* p) { m_info.set(p); }
void IApplet::setLabel(IAppLabel* p) { m_label.set(p); }
void IApplet::setCrypto(IAppCrypto* p) { m_crypto.set(p); }
void IApplet::setBio(IAppBio* p) { m_bio.set(p); }
void IApplet::setSession(IAppSession* p) { m_session.set(p); }

CAdapter AppletToAdapter(IApplet* applet) {
    CAdapter a;
    a.fs = applet->fs();
    a.pin = applet->pin();
    a.info = applet->info();
    a.crypto = applet->crypto();
    a.label = applet->label();
    return a;
}

// ---------------------------------------------------------------- helpers

void CByteReader::need(size_t n) const {
    if (n > remaining()) ::libapdu::ExternalRaise(m_code, kInternalSource, __LINE__);
}

bool CByteReader::nextEscapedElement(unsigned char& tag, CByteReader& value) {
    if (empty()) return false;
    const unsigned char t = u8();
    if (t == 0x00 || t == 0xFF || empty()) return false;
    size_t len = u8();
    if (len == 0xFF) {
        if (remaining() < 2) return false;
        len = be16();
    }
    if (len > remaining()) return false;
    tag = t;
    value = sub(len);
    return true;
}

bool CByteReader::findEscapedElement(unsigned char tag, CByteReader& value) const {
    CByteReader r = *this;
    unsigned char t = 0;
    CByteReader v(nullptr, 0);
    while (r.nextEscapedElement(t, v)) {
        if (t == tag) {
            value = v;
            return true;
        }
    }
    return false;
}

unsigned int CByteReader::leadingNumber() const {
    CByteReader r = *this;
    unsigned int v = 0;
    for (int i = 0; i < 4 && !r.empty(); ++i) v = (v << 8) | r.u8();
    return v;
}

void CheckSW(IApplet* applet, const TBytes& response) {
    IAppError* e = applet->error();
    e->raiseSW(e->extractSW(response));
}

void SecureWipe(void* p, size_t n) noexcept {
    if (p && n) explicit_bzero(p, n);
}

void* AllocateBlock(size_t n) { return ::operator new(n); }

void FreeWipedBlock(void* p, size_t n) noexcept {
    if (!p) return;
    SecureWipe(p, n);
    ::operator delete(p);
}

}  // namespace libapdu
