// Secure messaging and command chaining of the Tessel applet.
#ifndef LIBAPDU_PACK_TESSEL_H
#define LIBAPDU_PACK_TESSEL_H

#include "apppack/pack_common.h"

namespace libapdu LIBAPDU_API {

// sm agrees fresh keys with the card by Diffie-Hellman on every call and sends
// the command as protected pieces; chain sends a long command as plain pieces.
// Both fetch long answers with GET RESPONSE and raise any status word the error
// facet rejects. No key slot is used.
class CPackTessel : public CPackCommon {
public:
    explicit CPackTessel(IApplet* owner);
    ~CPackTessel() override;

    // output: the data of every answer, in order, then SW1 SW2 of the last one.
    void sm(const TBytes& command, TBytes& output) override;
    void chain(const TBytes& command, TBytes& output) override;

    // Longest piece of command data; a longer rest goes out in pieces with CLA bit 10.
    static constexpr size_t kPieceSize = 224;
    // GET RESPONSE rounds one piece may ask for, and the most answer data a call gathers.
    static constexpr size_t kMaxRounds = 256;
    static constexpr size_t kMaxAnswer = 0x10000;

private:
    struct Keys;
    void agree(Keys& keys);
    // Sends one piece and any GET RESPONSE it asks for; appends the data to output
    // and leaves the last status word in sw1, sw2.
    void exchange(const TBytes& piece, TBytes& output, unsigned char& sw1, unsigned char& sw2);
};

}  // namespace libapdu

#endif
