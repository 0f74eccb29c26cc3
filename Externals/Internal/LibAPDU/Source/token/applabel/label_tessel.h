// Label facet of the Tessel applet: a fixed 32-byte file padded with blanks.
#ifndef LIBAPDU_LABEL_TESSEL_H
#define LIBAPDU_LABEL_TESSEL_H

#include "label_common.h"

namespace libapdu LIBAPDU_API {

class CLabelTessel : public CLabelCommon {
public:
    explicit CLabelTessel(IApplet* applet);
    ~CLabelTessel() override;

    TBytes read() override;
    void write(const TBytes& label) override;
    int encoding() override;
};

}  // namespace libapdu

#endif
