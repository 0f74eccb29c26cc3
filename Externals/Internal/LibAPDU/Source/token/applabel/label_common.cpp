#include "label_common.h"

namespace libapdu {

CLabelCommon::CLabelCommon(IApplet* applet) : m_applet(applet) { m_adapter = AppletToAdapter(applet); }

CLabelCommon::~CLabelCommon() = default;

CAdapter CLabelCommon::adapter() const {
    CAdapter a = m_adapter;
    a.fs = m_applet->fs();
    a.pin = m_applet->pin();
    return a;
}

}  // namespace libapdu
