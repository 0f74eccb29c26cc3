#include "applet_wren.h"

#include "apperror/apperror.h"
#include "appfs/fs_wren.h"
#include "appinfo/info_wren.h"
#include "applabel/label_wren.h"
#include "apppin/pin_wren.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applet_wren");

bool IsWren(ISender* sender) { return TTokenType::fromAtr(sender->atr()) == &TTokenType::TVelmoraWren; }
}  // namespace

// No ATR test here: switchToApplet and useAsApplet take any token; init refuses.
CAppletWren::CAppletWren(ISender* sender) : IApplet(sender) {
    setError(new CErrorWren);
    setFs(new CFSWren(this));
    setInfo(new CInfoWren(this));
    setPin(new CPinWren(this));
    setLabel(new CLabelWren(this));
}

void CAppletWren::init() {
    if (!IsWren(sender())) LIBAPDU_RAISE(kErrNotSupported);
}

bool CAppletWren::checkIfExist(ISender* sender) { return IsWren(sender); }

}  // namespace libapdu
