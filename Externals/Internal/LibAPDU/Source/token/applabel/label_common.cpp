#include "label_common.h"

namespace libapdu {

CLabelCommon::CLabelCommon(IApplet* applet) : m_applet(applet) {}

CLabelCommon::~CLabelCommon() = default;

}  // namespace libapdu
