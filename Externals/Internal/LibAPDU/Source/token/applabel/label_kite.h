// Label facet of the Kite applet. FIPS tokens keep one UTF-8 label file; the
// others keep a UTF-8 form and, for older software, a legacy form in the
// locale's encoding.
#ifndef LIBAPDU_LABEL_KITE_H
#define LIBAPDU_LABEL_KITE_H

#include "label_common.h"

namespace libapdu LIBAPDU_API {

class CLabelKite : public CLabelCommon {
public:
    explicit CLabelKite(IApplet* applet);
    ~CLabelKite() override;

    TBytes read() override;
    void write(const TBytes& label) override;
    int encoding() override;

    // Writes a fresh change marker; a failure there never fails the label write.
    void volatile_update();
};

}  // namespace libapdu

#endif
