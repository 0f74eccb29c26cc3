// Internal interface of the card library: the pack facet, the APDU helpers, the
// bounds-checked answer reader and the raising shorthand every source file uses.
#ifndef LIBAPDU_INTERNAL_H
#define LIBAPDU_INTERNAL_H

#include "libapdu.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace libapdu LIBAPDU_API {

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

// Not offered by an applet unless its family overrides it; the error names this
// header and the line of the operation.
#define LIBAPDU_PACK_NOT_SUPPORTED() ::libapdu::ExternalRaise(0xFACE, ::libapdu::kInternalSource, __LINE__)

class IAppPack {
public:
    virtual ~IAppPack();
    virtual void sm(const TBytes&, TBytes&) { LIBAPDU_PACK_NOT_SUPPORTED(); }
    virtual void chain(const TBytes&, TBytes&) { LIBAPDU_PACK_NOT_SUPPORTED(); }
    virtual TBytes keyGet(size_t) { LIBAPDU_PACK_NOT_SUPPORTED(); }
    virtual void keyClear() { LIBAPDU_PACK_NOT_SUPPORTED(); }
    virtual void keySet(size_t, TBytes) { LIBAPDU_PACK_NOT_SUPPORTED(); }
    virtual void keySave() { LIBAPDU_PACK_NOT_SUPPORTED(); }
    virtual void keyRestore() { LIBAPDU_PACK_NOT_SUPPORTED(); }
};

class IAPDUDefinitions {
public:
    static void parse_capdu(const TBytes& command, TBytes& header, TBytes& data, unsigned short& le);
};

// A cursor over an untrusted card answer. Every take is checked against what
// remains; a shortfall raises `code` (6281 unless the caller says otherwise).
class CByteReader {
public:
    // Kept as base and offsets, so no pointer is ever formed past the answer; a
    // null buffer counts as empty whatever size comes with it.
    CByteReader(const unsigned char* data, size_t size, unsigned short code = kSwBadAnswer)
        : m_base(data), m_pos(0), m_size(data ? size : 0), m_code(code) {}
    explicit CByteReader(const TBytes& data, unsigned short code = kSwBadAnswer)
        : CByteReader(data.data(), data.size(), code) {}

    size_t remaining() const { return m_size - m_pos; }
    bool empty() const { return m_pos == m_size; }
    const unsigned char* pos() const { return m_pos ? m_base + m_pos : m_base; }

    unsigned char u8() {
        need(1);
        return m_base[m_pos++];
    }
    unsigned short be16() {
        need(2);
        const unsigned char* p = m_base + m_pos;
        m_pos += 2;
        return static_cast<unsigned short>((p[0] << 8) | p[1]);
    }
    unsigned short le16() {
        need(2);
        const unsigned char* p = m_base + m_pos;
        m_pos += 2;
        return static_cast<unsigned short>(p[0] | (p[1] << 8));
    }
    unsigned int be32() {
        need(4);
        const unsigned char* p = m_base + m_pos;
        m_pos += 4;
        return (static_cast<unsigned int>(p[0]) << 24) | (static_cast<unsigned int>(p[1]) << 16) |
               (static_cast<unsigned int>(p[2]) << 8) | p[3];
    }
    TBytes take(size_t n) {
        need(n);
        if (n == 0) return TBytes();
        TBytes out(m_base + m_pos, m_base + m_pos + n);
        m_pos += n;
        return out;
    }
    CByteReader sub(size_t n) {
        need(n);
        CByteReader r(n ? m_base + m_pos : nullptr, n, m_code);
        m_pos += n;
        return r;
    }
    void skip(size_t n) {
        need(n);
        m_pos += n;
    }

    // The escaped-length tag-length-value lists of the Java, Heron and Kite
    // applets: tags 01..FE, one length byte, FF escaping a two-byte length.
    // nextEscapedElement reads the element at the cursor and moves past it; false,
    // with the cursor wherever it stopped, at the end of the data or where the
    // list turns malformed (a 00 or FF tag, a tag without a length, a short FF
    // escape, a value running past the data). findEscapedElement walks from here
    // to the end for the first element with `tag`. Nothing is read beyond the
    // data and nothing raises.
    bool nextEscapedElement(unsigned char& tag, CByteReader& value);
    bool findEscapedElement(unsigned char tag, CByteReader& value) const;
    // The first up to four bytes left, high byte first (cards send 1 to 4).
    unsigned int leadingNumber() const;

private:
    void need(size_t n) const;
    const unsigned char* m_base;
    size_t m_pos;
    size_t m_size;
    unsigned short m_code;
};

// Data bytes of a response (everything before SW1 SW2); empty for shorter answers.
inline size_t ResponseDataSize(const TBytes& response) { return response.size() >= 2 ? response.size() - 2 : 0; }

// The card answer without its trailing SW1 SW2.
inline CByteReader AnswerData(const TBytes& reply) { return CByteReader(reply.data(), ResponseDataSize(reply)); }

// A command header followed by its data, in one allocation.
inline TBytes Join(std::initializer_list<unsigned char> head, const TBytes& tail) {
    TBytes out;
    out.reserve(head.size() + tail.size());
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// Appends v high byte first.
inline void PutBE16(TBytes& out, unsigned short v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v & 0xFF));
}

// Status-word check of an answer through the applet's error facet.
void CheckSW(IApplet* applet, const TBytes& response);

// Overwrites a buffer that stays alive (a caller's output whose half-made result is
// refused) over its whole allocation: one shrunk on its way still holds the old
// bytes past its end. A buffer that is let go of needs none of this: its allocator
// wipes it.
inline void SecureWipe(TBytes& b) {
    const size_t n = b.size();
    if (b.capacity() > n) b.resize(b.capacity());  // within the allocation: never moves
    if (!b.empty()) SecureWipe(b.data(), b.size());
    b.resize(n);
}

// base64_decode of text held as bytes (a login ticket, never made a string).
TBytes Base64DecodeText(const TBytes& text);

}  // namespace libapdu

#endif
