// Internal interface of the card library: the pack facet, the APDU helpers, the
// bounds-checked answer reader and the raising shorthand every source file uses.
#ifndef LIBAPDU_INTERNAL_H
#define LIBAPDU_INTERNAL_H

#include "libapdu.h"

#include <cstring>

namespace libapdu {

extern const wchar_t kInternalSource[];  // "Externals/Internal/LibAPDU/Source/token/libapdu.internal"

// Every source file names itself once:
//   namespace { const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_java"); }
// and raises through LIBAPDU_RAISE(code).
#define LIBAPDU_SOURCE(rel) L"Externals/Internal/LibAPDU/Source/" rel
#define LIBAPDU_RAISE(code) ::libapdu::ExternalRaise(static_cast<unsigned short>(code), kSource, __LINE__)

// Codes the library raises on its own.
enum : unsigned short {
    kSwBadAnswer = 0x6281,     // a reply of the wrong length or shape
    kSwBadPieceSize = 0x6282,  // a piece read came back with another size than asked
    kSwRefused = 0x6900,       // reserved identifier, missing key slot, refused state
    kSwNotFound = 0x6A82,
    kSwBadArgument = 0x6B00,   // refused before anything is sent
};

class IAppPack {
public:
    virtual ~IAppPack();
    virtual void sm(const TBytes& command, TBytes& output);
    virtual void chain(const TBytes& command, TBytes& output);
    virtual TBytes keyGet(size_t slot);
    virtual void keyClear();
    virtual void keySet(size_t slot, TBytes key);
    virtual void keySave();
    virtual void keyRestore();
};

class IAPDUDefinitions {
public:
    static void parse_capdu(const TBytes& command, TBytes& header, TBytes& data, unsigned short& le);
};

// A cursor over an untrusted card answer. Every take is checked against what
// remains; a shortfall raises `code` (6281 unless the caller says otherwise).
class CByteReader {
public:
    CByteReader(const unsigned char* data, size_t size, unsigned short code = kSwBadAnswer)
        : m_p(data), m_end(data + size), m_code(code) {}
    explicit CByteReader(const TBytes& data, unsigned short code = kSwBadAnswer)
        : CByteReader(data.data(), data.size(), code) {}

    size_t remaining() const { return static_cast<size_t>(m_end - m_p); }
    bool empty() const { return m_p == m_end; }
    const unsigned char* pos() const { return m_p; }

    unsigned char u8() {
        need(1);
        return *m_p++;
    }
    unsigned short be16() {
        need(2);
        unsigned short v = static_cast<unsigned short>((m_p[0] << 8) | m_p[1]);
        m_p += 2;
        return v;
    }
    unsigned short le16() {
        need(2);
        unsigned short v = static_cast<unsigned short>(m_p[0] | (m_p[1] << 8));
        m_p += 2;
        return v;
    }
    unsigned int be32() {
        need(4);
        unsigned int v = (static_cast<unsigned int>(m_p[0]) << 24) | (static_cast<unsigned int>(m_p[1]) << 16) |
                         (static_cast<unsigned int>(m_p[2]) << 8) | m_p[3];
        m_p += 4;
        return v;
    }
    TBytes take(size_t n) {
        need(n);
        TBytes out(m_p, m_p + n);
        m_p += n;
        return out;
    }
    CByteReader sub(size_t n) {
        need(n);
        CByteReader r(m_p, n, m_code);
        m_p += n;
        return r;
    }
    void skip(size_t n) {
        need(n);
        m_p += n;
    }

private:
    void need(size_t n) const;
    const unsigned char* m_p;
    const unsigned char* m_end;
    unsigned short m_code;
};

// Data bytes of a response (everything before SW1 SW2); empty for shorter answers.
inline size_t ResponseDataSize(const TBytes& response) { return response.size() >= 2 ? response.size() - 2 : 0; }

// Appends v high byte first.
inline void PutBE16(TBytes& out, unsigned short v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v & 0xFF));
}

// Status-word check of an answer through the applet's error facet.
void CheckSW(IApplet* applet, const TBytes& response);

// Overwrites a buffer before it is released (keys, PINs, intermediate values).
void SecureWipe(void* p, size_t n);
inline void SecureWipe(TBytes& b) {
    if (!b.empty()) SecureWipe(b.data(), b.size());
}

}  // namespace libapdu

#endif
