#include "applet_zudezozud.h"

#include "applet_common.h"

namespace libapdu LIBAPDU_API {

const TBytes& CAppletZudezoZud::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x01, 0x02, 0x01, 0x02, 0x02};
    return kAid;
}

CAppletZudezoZud::CAppletZudezoZud(ISender* sender) : IApplet(sender) {
    setError(new IAppError);  // a second plain error facet: the base mapping
}

void CAppletZudezoZud::selectTokenApp() { SelectAid(this, aid()); }

bool CAppletZudezoZud::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

}  // namespace libapdu
