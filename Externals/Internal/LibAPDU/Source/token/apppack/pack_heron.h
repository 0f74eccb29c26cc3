// Secure messaging of the Heron applet: the Java applet's design with its own
// challenge instruction.
#ifndef LIBAPDU_PACK_HERON_H
#define LIBAPDU_PACK_HERON_H

#include "apppack/pack_java.h"

namespace libapdu LIBAPDU_API {

class CPackHeron : public CPackJavaFamily {
public:
    explicit CPackHeron(IApplet* owner);
};

}  // namespace libapdu

#endif
