// Information facet of the Gost applet: its token data live in one status record.
#ifndef LIBAPDU_INFO_GOST_H
#define LIBAPDU_INFO_GOST_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoGost : public CInfoCommon {
public:
    enum : size_t { kStatusSize = 24 };

    explicit CInfoGost(IApplet* applet);

    // The first 24 bytes of the status record; the 16-bit fields at bytes 5, 7
    // and 9 are turned from the card's big-endian order into host order.
    TBytes get_status();

    TBytes rnd(size_t n) override;
    bool isFips() override { return false; }
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override { return 0xFFFFFFFF; }
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override { return 0xFFFFFFFF; }
};

}  // namespace libapdu

#endif
