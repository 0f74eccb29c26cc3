// Label facet of the Wren applet: the file 8000/AAAA, created anew with the
// label's length on every write.
#ifndef LIBAPDU_LABEL_WREN_H
#define LIBAPDU_LABEL_WREN_H

#include "label_common.h"

namespace libapdu LIBAPDU_API {

class CLabelWren : public CLabelCommon {
public:
    explicit CLabelWren(IApplet* applet);
    ~CLabelWren() override;

    TBytes read() override;
    void write(const TBytes& label) override;
    int encoding() override;
};

}  // namespace libapdu

#endif
