#include "applet_heron.h"

#include "applet_common.h"
#include "appcry/cry_heron.h"
#include "apperror/apperror.h"
#include "appfs/fs_heron.h"
#include "appinfo/info_heron.h"
#include "applabel/label_heron.h"
#include "apppack/pack_heron.h"
#include "apppin/pin_heron.h"

namespace libapdu LIBAPDU_API {

const TBytes& CAppletHeron::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x04, 0x01};
    return kAid;
}

CAppletHeron::CAppletHeron(ISender* sender) : IApplet(sender) {
    setError(new CErrorHeron);
    setFs(new CFSHeron(this));
    setInfo(new CInfoHeron(this));
    setLabel(new CLabelHeron(this));
    setPack(new CPackHeron(this));
    setPin(new CPinHeron(this));
    setCrypto(new CCryHeron(this));  // reaches the other facets through the applet at each call
}

void CAppletHeron::selectTokenApp() { SelectAid(this, aid()); }

void CAppletHeron::init() { info()->isFips(); }

bool CAppletHeron::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

}  // namespace libapdu
