// Crypto facets of the Kite applet family: Kite16 and Kite32 tokens, Kite4
// tokens, and Kite4 tokens in FIPS mode. The key operations are not offered
// yet: every operation answers FACE.
#ifndef LIBAPDU_CRY_KITE_H
#define LIBAPDU_CRY_KITE_H

#include "cry_common.h"

namespace libapdu {

class CCryKite : public CCryCommon {
public:
    using CCryCommon::CCryCommon;
};

class CCryKite4 : public CCryCommon {
public:
    using CCryCommon::CCryCommon;
};

class CCryKite4Fips : public CCryKite4 {
public:
    using CCryKite4::CCryKite4;
};

}  // namespace libapdu

#endif
