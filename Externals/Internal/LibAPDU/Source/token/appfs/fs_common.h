// The file-system base that every family's facet builds on, and the BER-TLV
// writer and reader shared by the families that describe files in BER-TLV.
#ifndef LIBAPDU_FS_COMMON_H
#define LIBAPDU_FS_COMMON_H

#include <cstdint>

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// Identifiers no family lets a caller create (0000, 3F00, 3FFF, FFFF): raises 6900.
void CheckCreateFID(unsigned short fid);

class CFSCommon : public IAppFS, public IAPDUDefinitions {
public:
    explicit CFSCommon(IApplet* applet);
    ~CFSCommon() override;

    // Split into pieces of at most bit_size() bytes, in ascending offset order.
    void read(TBytes& data, unsigned short offset) override;
    void write(const TBytes& data, unsigned short offset) override;

    // One card command each. read_bit fills exactly piece.size() bytes.
    virtual void read_bit(TBytes& piece, unsigned short offset) = 0;
    virtual void write_bit(const TBytes& piece, unsigned short offset) = 0;
    virtual unsigned short bit_size() = 0;

    // Passes the answer's status word through the applet's error facet.
    void checkSW(const TBytes& response);

protected:
    // Sends one command with an answer buffer of replySize bytes and passes its status
    // word through the error facet.
    TBytes exchange(const TBytes& command, size_t replySize);

    IApplet* applet;  // owner, not owned
};

// One BER-TLV element to encode (one-byte tags only).
class TagValue {
public:
    explicit TagValue(unsigned char tag, const TBytes& value = TBytes()) : tag(tag), value(value) {}

    // Throws std::runtime_error "data field exceeds tag maximum length" above 65535 value bytes.
    TBytes Format() const;
    // Appends the child's encoding to this value; on failure this element is unchanged.
    void Append(TagValue child);

    unsigned char tag;
    TBytes value;
};

// A view of one BER-TLV element inside a buffer the caller owns and keeps alive.
// A failed getChild throws the plain integer 0.
class CBERTLV {
public:
    CBERTLV() = default;
    CBERTLV(const unsigned char* value, uint64_t length, bool constructed, uint32_t tag)
        : value(value), length(length), constructed(constructed), tag(tag) {}

    // The reader over a whole card answer: everything but SW1 SW2 (nothing for
    // answers shorter than the status word).
    static CBERTLV answer(const TBytes& response);

    // The first child with this tag, from the first child or from the one after `after`
    // (a child previously returned by this element).
    CBERTLV getChild(uint32_t tag, const CBERTLV* after = nullptr) const;

    const unsigned char* value = nullptr;
    uint64_t length = 0;
    bool constructed = false;
    uint32_t tag = 0;
};

}  // namespace libapdu

#endif
