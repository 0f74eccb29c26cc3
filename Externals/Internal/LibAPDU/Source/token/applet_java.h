#ifndef LIBAPDU_APPLET_JAVA_H
#define LIBAPDU_APPLET_JAVA_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CAppletJava : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletJava(ISender* sender);
    void selectTokenApp() override;
    void init() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

// The card manager of Java tokens, consulted before a Java token is accepted.
class CAppletJavaManager : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletJavaManager(ISender* sender);
    void selectTokenApp() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

}  // namespace libapdu

#endif
