#include "label_gost.h"

namespace libapdu LIBAPDU_API {

CLabelGost::CLabelGost(IApplet* applet)
    : CLabelByCommand(applet, Commands{{0x80, 0x17, 0x10, 0x00, 0x01, 0x01}, 258, true, {0x80, 0x17, 0x20, 0x00}, {0x02}}) {}

CLabelGost::~CLabelGost() = default;

}  // namespace libapdu
