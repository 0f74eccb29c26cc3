// PIN facet of the Heron applet: the Java applet's design with its own
// instruction bytes, its PIN folder selected before every login and change, and
// no unblock.
#ifndef LIBAPDU_PIN_HERON_H
#define LIBAPDU_PIN_HERON_H

#include "apppin/pin_java.h"

namespace libapdu LIBAPDU_API {

class CPinHeron : public CPinJavaFamily {
public:
    explicit CPinHeron(IApplet* owner);
    // unblock keeps the not-supported default: the applet has no such command.
};

}  // namespace libapdu

#endif
