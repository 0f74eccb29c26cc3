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

// Appends v high byte first (to a TBytes or a CSecretBytes).
template <class Out>
inline void PutBE16(Out& out, unsigned short v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v & 0xFF));
}

// Status-word check of an answer through the applet's error facet.
void CheckSW(IApplet* applet, const TBytes& response);

// Overwrites a buffer before it is released (keys, PINs, intermediate values).
void SecureWipe(void* p, size_t n);
// The whole allocation: a buffer shrunk on its way (a last piece, an answer
// stripped of its status word) still holds the old bytes past its end.
inline void SecureWipe(TBytes& b) {
    const size_t n = b.size();
    if (b.capacity() > n) b.resize(b.capacity());  // within the allocation: never moves
    if (!b.empty()) SecureWipe(b.data(), b.size());
    b.resize(n);
}

// Wipes a buffer that may hold secrets (file contents, keys) on every way out of a scope.
struct ScopedWipe {
    TBytes& bytes;
    ~ScopedWipe() { SecureWipe(bytes); }
};

// Bytes that are a secret or carry one (a PIN, a key, a ticket, a command or an
// answer with either in it). Every block the buffer lets go of is wiped first:
// when it grows past its capacity, when it is assigned anew, when it is cleared
// and when it is destroyed; so no way of filling it can leave a copy on the heap.
// The bytes live in a TBytes so that the transport, the pack facets and the
// ciphers read them where they are (get()), without a copy that would need
// wiping of its own; there is no mutable TBytes access but receive(), which
// hands a callee nothing but zeros to reallocate.
class CSecretBytes {
public:
    CSecretBytes() = default;
    explicit CSecretBytes(size_t n) : m_bytes(n, 0) {}
    // Takes over the buffer itself, which is then wiped with this one.
    explicit CSecretBytes(TBytes&& bytes) noexcept : m_bytes(std::move(bytes)) {}
    // A copy at exactly its size.
    CSecretBytes(const unsigned char* first, const unsigned char* last) { append(first, last); }
    ~CSecretBytes() { SecureWipe(m_bytes); }
    CSecretBytes(const CSecretBytes&) = delete;
    CSecretBytes& operator=(const CSecretBytes&) = delete;
    // A move hands the block over whole: nothing is freed on the way.
    CSecretBytes(CSecretBytes&& other) noexcept : m_bytes(std::move(other.m_bytes)) {}
    CSecretBytes& operator=(CSecretBytes&& other) noexcept {
        if (this != &other) {
            SecureWipe(m_bytes);
            m_bytes = std::move(other.m_bytes);
        }
        return *this;
    }

    // Takes over another buffer; the one held so far is wiped.
    CSecretBytes& operator=(TBytes&& bytes) {
        SecureWipe(m_bytes);
        m_bytes = std::move(bytes);
        return *this;
    }

    const TBytes& get() const { return m_bytes; }
    // Read where it is wherever bytes are read (a command for the transport).
    operator const TBytes&() const { return m_bytes; }
    unsigned char* data() { return m_bytes.data(); }
    const unsigned char* data() const { return m_bytes.data(); }
    size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    unsigned char& operator[](size_t i) { return m_bytes[i]; }
    unsigned char operator[](size_t i) const { return m_bytes[i]; }
    TBytes::const_iterator begin() const { return m_bytes.begin(); }
    TBytes::const_iterator end() const { return m_bytes.end(); }

    // Capacity for n bytes in all, so that what follows grows in place.
    void reserve(size_t n) {
        if (n > m_bytes.capacity()) move(n);
    }
    void push_back(unsigned char b) {
        room(1);
        m_bytes.push_back(b);
    }
    void append(const unsigned char* first, const unsigned char* last) {
        if (first == last) return;  // an empty range may come with no storage at all
        room(static_cast<size_t>(last - first));
        m_bytes.insert(m_bytes.end(), first, last);
    }
    void append(const TBytes& bytes) { append(bytes.data(), bytes.data() + bytes.size()); }
    void append(std::initializer_list<unsigned char> bytes) { append(bytes.begin(), bytes.end()); }
    // Grows with zeros; a shrink wipes the bytes it drops.
    void resize(size_t n) {
        if (n > m_bytes.size()) room(n - m_bytes.size());
        else if (n < m_bytes.size()) SecureWipe(m_bytes.data() + n, m_bytes.size() - n);
        m_bytes.resize(n, 0);
    }
    void clear() {
        SecureWipe(m_bytes);
        m_bytes.clear();
    }
    // The buffer for a callee that writes it through a TBytes& (a card's answer, a
    // command's parsed data): wiped, then `n` zero bytes, so a callee that
    // reallocates it lets go of zeros only.
    TBytes& receive(size_t n = 0) {
        clear();
        if (n > m_bytes.capacity()) move(n);
        m_bytes.assign(n, 0);
        return m_bytes;
    }

private:
    void room(size_t n) {
        if (n > m_bytes.capacity() - m_bytes.size()) move(std::max(m_bytes.size() + n, 2 * m_bytes.capacity()));
    }
    // Into a block of `capacity` bytes; the old one is wiped before it is freed.
    void move(size_t capacity) {
        TBytes grown;
        grown.reserve(capacity);
        grown.assign(m_bytes.begin(), m_bytes.end());
        SecureWipe(m_bytes);
        m_bytes.swap(grown);
    }

    TBytes m_bytes;
};


// base64_decode of text that is a secret (a login ticket), straight into wiped storage.
CSecretBytes Base64DecodeSecret(const TBytes& text);

}  // namespace libapdu

#endif
