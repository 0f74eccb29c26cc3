#include "label_common.h"

namespace libapdu LIBAPDU_API {

CLabelCommon::CLabelCommon(IApplet* applet) : m_applet(applet) {}

CLabelCommon::~CLabelCommon() = default;

}  // namespace libapdu
