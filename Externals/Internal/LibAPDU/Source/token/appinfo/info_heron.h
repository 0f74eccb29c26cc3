// Information facet of the Heron applet: the design of the Java facet, with
// its own command classes for GET DATA and GET CHALLENGE.
#ifndef LIBAPDU_INFO_HERON_H
#define LIBAPDU_INFO_HERON_H

#include "info_common.h"

namespace libapdu {

class CInfoHeron : public CInfoCommon {
public:
    explicit CInfoHeron(IApplet* applet);
    ~CInfoHeron() override;

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
