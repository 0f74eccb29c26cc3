// Information facet of the JavaManager applet, the card manager of Java tokens.
#ifndef LIBAPDU_INFO_JAVAMANAGER_H
#define LIBAPDU_INFO_JAVAMANAGER_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoJavaManager : public CInfoCommon {
public:
    explicit CInfoJavaManager(IApplet* applet);
    ~CInfoJavaManager() override;

    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    TBytes value(unsigned char kind) override;
};

}  // namespace libapdu

#endif
