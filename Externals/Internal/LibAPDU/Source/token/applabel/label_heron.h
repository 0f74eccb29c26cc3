// Label facet of the Heron applet: the Java applet's label with other
// instruction bytes for the resize and the change marker.
#ifndef LIBAPDU_LABEL_HERON_H
#define LIBAPDU_LABEL_HERON_H

#include "label_java.h"

namespace libapdu LIBAPDU_API {

class CLabelHeron : public CLabelJavaFamily {
public:
    explicit CLabelHeron(IApplet* applet);
};

}  // namespace libapdu

#endif
