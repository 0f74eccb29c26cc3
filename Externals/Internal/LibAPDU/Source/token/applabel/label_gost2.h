// Label facet of the Gost2 applet: kept by the applet's own label commands.
#ifndef LIBAPDU_LABEL_GOST2_H
#define LIBAPDU_LABEL_GOST2_H

#include "label_command.h"

namespace libapdu LIBAPDU_API {

class CLabelGost2 : public CLabelByCommand {
public:
    explicit CLabelGost2(IApplet* applet);
    ~CLabelGost2() override;
};

}  // namespace libapdu

#endif
