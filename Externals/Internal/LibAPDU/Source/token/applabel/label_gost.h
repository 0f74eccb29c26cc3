// Label facet of the Gost applet: kept by the applet's own label commands.
#ifndef LIBAPDU_LABEL_GOST_H
#define LIBAPDU_LABEL_GOST_H

#include "label_command.h"

namespace libapdu LIBAPDU_API {

class CLabelGost : public CLabelByCommand {
public:
    explicit CLabelGost(IApplet* applet);
    ~CLabelGost() override;
};

}  // namespace libapdu

#endif
