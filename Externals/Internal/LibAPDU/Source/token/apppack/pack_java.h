// Secure messaging of the Java applet, and the design it shares with the Heron
// applet (same protected-command layout, another challenge instruction).
#ifndef LIBAPDU_PACK_JAVA_H
#define LIBAPDU_PACK_JAVA_H

#include "apppack/pack_common.h"

namespace libapdu LIBAPDU_API {

// Looks up an element of the Java family's escaped-length TLV list: one tag byte
// (00 and FF are invalid), one length byte, FF meaning a two-byte big-endian
// length follows. The search starts at the first element. An invalid tag, a
// length or value running past the data, or the end of the data before the tag
// turned up raises 6281 with the caller's source file.
TBytes JavaTlvFind(const TBytes& data, unsigned char tag, const wchar_t* source);

// Wraps one plain command under the session keys the PIN facet left in slots 1 to 4:
// slot 1 encrypts the command data, slot 2 MACs the command, slot 3 decrypts the
// answer data and slot 4 checks the answer MAC.
class CPackJavaFamily : public CPackCommon {
public:
    enum : size_t { kSlotCommandEnc = 1, kSlotCommandMac = 2, kSlotAnswerDec = 3, kSlotAnswerMac = 4 };

    // The card's 8-byte challenge for the next protected command.
    TBytes challengeGet();
    // output: the answer's plaintext followed by SW1 SW2.
    void sm(const TBytes& command, TBytes& output) override;
    void chain(const TBytes& command, TBytes& output) override;

protected:
    CPackJavaFamily(IApplet* owner, unsigned char challengeIns, const wchar_t* source);

private:
    [[noreturn]] void raise(unsigned short code, unsigned long line) const;
    void unwrap(const TBytes& answer, const TBytes& nonce, TBytes& output);

    unsigned char m_challengeIns;
    const wchar_t* m_source;
};

class CPackJava : public CPackJavaFamily {
public:
    explicit CPackJava(IApplet* owner);
};

}  // namespace libapdu

#endif
