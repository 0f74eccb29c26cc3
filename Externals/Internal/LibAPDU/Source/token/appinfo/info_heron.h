// Information facet of the Heron applet: the design of the Java facet, with
// its own command classes for GET DATA and GET CHALLENGE.
#ifndef LIBAPDU_INFO_HERON_H
#define LIBAPDU_INFO_HERON_H

#include "info_java.h"

namespace libapdu LIBAPDU_API {

class CInfoHeron : public CInfoJavaFamily {
public:
    explicit CInfoHeron(IApplet* applet);
};

}  // namespace libapdu

#endif
