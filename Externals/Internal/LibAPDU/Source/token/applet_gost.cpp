#include "applet_gost.h"

#include "applet_common.h"
#include "apperror/apperror.h"
#include "appfs/fs_gost.h"
#include "appinfo/info_gost.h"
#include "applabel/label_gost.h"
#include "apppack/pack_gost.h"
#include "apppin/pin_gost.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applet_gost");
const size_t kStatusReply = 258, kShortestStatus = 16;
}  // namespace

const TBytes& CAppletGost::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x01, 0x01, 0x01, 0x06, 0x02};
    return kAid;
}

CAppletGost::CAppletGost(ISender* sender) : IApplet(sender) {
    setError(new CErrorGost);
    setFs(new CFSGost(this));
    setPin(new CPinGost(this));
    setInfo(new CInfoGost(this));
    setLabel(new CLabelGost(this));
    setPack(new CPackGost(this));  // key slots only: the PIN facet keeps the PIN of the last login here
}

void CAppletGost::selectTokenApp() { SelectAid(this, aid()); }

void CAppletGost::init() {
    // The status query the information facet reads its record with.
    TBytes reply(kStatusReply, 0);
    sender()->send({0x80, 0x15, 0x10, 0x00, 0x01, 0x01}, reply);
    CheckSW(this, reply);
    if (reply.size() < kShortestStatus) LIBAPDU_RAISE(0x6400);
}

bool CAppletGost::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

}  // namespace libapdu
