// Information facet of the Kite applet (Kite, Kite4 and Kite4Fips tokens).
#ifndef LIBAPDU_INFO_KITE_H
#define LIBAPDU_INFO_KITE_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoKite : public CInfoCommon {
public:
    explicit CInfoKite(IApplet* applet);
    ~CInfoKite() override;

    TBytes rnd(size_t n) override;
    bool isFips() override;
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override;
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override;

    // The basic-information block (8 bytes) over the reader's control channel.
    TBytes readBasicInfo();
    // The configuration block over the reader's control channel.
    TBytes readCfg();
    // The four-byte token number from the basic-information block.
    TBytes corvidID();

private:
    unsigned short m_fips;
};

}  // namespace libapdu

#endif
