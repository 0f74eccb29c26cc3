// Secure messaging of the Kite applet family: the command data encrypted into
// object 87, an expected length 97 and a retail MAC 8E, under the session keys
// that the Kite PIN facet leaves in slots 3 (encryption) and 1 (MAC).
#ifndef LIBAPDU_PACK_KITE_H
#define LIBAPDU_PACK_KITE_H

#include "apppack/pack_common.h"

namespace libapdu LIBAPDU_API {

class CPackKite : public CPackCommon {
public:
    enum : size_t { kSlotMac = 1, kSlotEnc = 3 };
    // Lc and the length of object 87 are one byte each: 231 data bytes at most.
    static constexpr size_t kMaxData = 231;

    explicit CPackKite(IApplet* owner);

    // output: the answer's plaintext followed by SW1 SW2, or the bare status word
    // when the card answered nothing else.
    void sm(const TBytes& command, TBytes& output) override;
    void chain(const TBytes& command, TBytes& output) override;

private:
    void unwrap(const TBytes& answer, const TBytes& header, unsigned short sw, TBytes& output);
};

}  // namespace libapdu

#endif
