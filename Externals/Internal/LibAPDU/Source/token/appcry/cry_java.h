// Crypto facets of the Java and Heron applets. The key operations are not offered
// yet: every operation answers FACE.
#ifndef LIBAPDU_CRY_JAVA_H
#define LIBAPDU_CRY_JAVA_H

#include "cry_common.h"

namespace libapdu {

class CCryJava : public CCryCommon {
public:
    // Takes the adapter of the applet's final file-system, PIN, information and label facets.
    explicit CCryJava(IApplet* applet) : CCryCommon(applet), m_adapter(AppletToAdapter(applet)) {}

protected:
    CAdapter m_adapter;
};

class CCryHeron : public CCryCommon {
public:
    explicit CCryHeron(IApplet* applet) : CCryCommon(applet), m_adapter(AppletToAdapter(applet)) {}

protected:
    CAdapter m_adapter;
};

}  // namespace libapdu

#endif
