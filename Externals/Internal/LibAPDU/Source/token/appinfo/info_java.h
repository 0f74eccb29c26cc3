// Information facet of the Java applet.
#ifndef LIBAPDU_INFO_JAVA_H
#define LIBAPDU_INFO_JAVA_H

#include "info_common.h"

namespace libapdu {

class CInfoJava : public CInfoCommon {
public:
    explicit CInfoJava(IApplet* applet);
    ~CInfoJava() override;

    TBytes rnd(size_t n) override;
    bool isFips() override;
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override;
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override;
    TBytes value(unsigned char kind) override;

    TBytes ManufacturingDate();

private:
    TBytes getData(unsigned char object, int subTag);

    unsigned short m_fips;
};

}  // namespace libapdu

#endif
