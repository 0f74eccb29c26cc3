// Information facet of the Tessel applet.
#ifndef LIBAPDU_INFO_TESSEL_H
#define LIBAPDU_INFO_TESSEL_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoTessel : public CInfoCommon {
public:
    explicit CInfoTessel(IApplet* applet);
    ~CInfoTessel() override;

    TBytes rnd(size_t n) override;
    bool isFips() override;  // Tessel tokens have no FIPS mode
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override;  // no colour on Tessel tokens
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override;

private:
    unsigned int memory(unsigned char p2);

    [[maybe_unused]] unsigned short m_fips;  // kept for the layout shared with the other families; never read
};

}  // namespace libapdu

#endif
