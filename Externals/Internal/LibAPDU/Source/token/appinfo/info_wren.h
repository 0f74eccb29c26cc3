// Information facet of the Wren applet: everything comes from its configuration
// record, read anew for each question.
#ifndef LIBAPDU_INFO_WREN_H
#define LIBAPDU_INFO_WREN_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoWren : public CInfoCommon {
public:
    explicit CInfoWren(IApplet* applet);
    ~CInfoWren() override;

    TBytes rnd(size_t n) override;
    bool isFips() override;
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override;
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override;

    // The configuration record, 19 bytes or more (its status word removed).
    TBytes config();
};

}  // namespace libapdu

#endif
