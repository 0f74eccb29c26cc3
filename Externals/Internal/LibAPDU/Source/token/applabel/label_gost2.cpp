#include "label_gost2.h"

namespace libapdu LIBAPDU_API {

CLabelGost2::CLabelGost2(IApplet* applet)
    : CLabelByCommand(applet, Commands{{0x80, 0x38, 0x20, 0x01, 0x00}, 34, false, {0x80, 0x38, 0x30, 0x01}, {}}) {}

CLabelGost2::~CLabelGost2() = default;

}  // namespace libapdu
