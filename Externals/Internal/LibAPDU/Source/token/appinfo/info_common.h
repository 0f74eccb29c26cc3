// The base every information facet derives from: the one exchange they all use,
// the walk over the simple TLV answers of the Java-based cards, the random-byte
// loop and the memory query through the platform applet.
#ifndef LIBAPDU_INFO_COMMON_H
#define LIBAPDU_INFO_COMMON_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CInfoCommon : public IAppInfo, public IAPDUDefinitions {
public:
    explicit CInfoCommon(IApplet* applet);
    ~CInfoCommon() override;

    // Memory figures from the card's platform applet; either pointer may be null.
    // Answers 0 when done, -1 when the platform applet could not be selected,
    // -2 when the memory command failed. Leaves the platform applet selected.
    int Pellar3GetMemoryInternal(unsigned int* total, unsigned int* free);
    // As above, then selects the token's own applet again whenever the platform
    // applet was selected; true when the wanted figures were filled.
    bool Pellar3GetMemory(unsigned int* total, unsigned int* free);

protected:
    // FIPS cache values of the families that keep one.
    enum : unsigned short { kFipsUnknown = 16, kFipsOn = 255, kFipsOff = 0 };

    // Sends one command with a zero-filled reply buffer of replySize bytes and
    // passes the status word through the applet's error facet. The answer still
    // ends in SW1 SW2.
    TBytes exchange(const TBytes& apdu, size_t replySize);

    // GET CHALLENGE in pieces of at most maxPiece bytes (CLA INS 00 00 Le); a
    // piece of any other length than asked raises 6281 attributed to source.
    TBytes challenge(unsigned char cla, unsigned char ins, size_t n, size_t maxPiece, const wchar_t* source);

    // Looks up the first object with `tag` among the objects of `data` (tag byte
    // 01..FE, length byte with FF announcing a two-byte big-endian length, value).
    // Every length and value is bounded by `data`: false when the walk runs past
    // it, meets a tag 00 or FF, or ends without the tag. On success `value` is a
    // cursor over exactly the object's value.
    static bool findObject(CByteReader data, unsigned char tag, CByteReader& value);

    // The value of the object `tag` in the data of a card answer (still ending in
    // SW1 SW2) and, when subTag is not negative, of its sub-object `subTag`, looked
    // up inside that value alone. A malformed answer or a missing object raises
    // 6281 attributed to source.
    static TBytes objectValue(const TBytes& reply, unsigned char tag, int subTag, const wchar_t* source);

    // The first min(length, 4) bytes of a value as a big-endian number.
    static unsigned int leadingNumber(CByteReader value);

    IApplet* m_applet;  // not owned; the applet owns this facet
};

}  // namespace libapdu

#endif
