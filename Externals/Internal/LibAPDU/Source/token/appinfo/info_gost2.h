// Information facet of the Gost2 applet: numbered information records of
// fixed lengths (kinds), random bytes, and the parameters of the applet's
// secure messaging.
#ifndef LIBAPDU_INFO_GOST2_H
#define LIBAPDU_INFO_GOST2_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoGost2 : public CInfoCommon {
public:
    explicit CInfoGost2(IApplet* applet);

    // The record of one kind, checked against the kind's length.
    TBytes get_info(unsigned char kind);

    TBytes rnd(size_t n) override;  // always 32 bytes, whatever is asked
    bool isFips() override { return false; }
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override { return 0xFFFFFFFF; }
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override { return 0xFFFFFFFF; }
    bool isZudezoZudSMSupport() override;
    TBytes getZudezoZudSMInfo(unsigned char index) override;
    void setZudezoZudSMInfo(const TBytes& first, unsigned char number, const TBytes& second, const TBytes& third,
                            unsigned char type) override;
};

}  // namespace libapdu

#endif
