#include "applet_gost2.h"

#include "applet_common.h"
#include "appcry/cry_gost2.h"
#include "apperror/apperror.h"
#include "appfs/fs_gost2.h"
#include "appinfo/info_gost2.h"
#include "applabel/label_gost2.h"
#include "apppin/pin_gost2.h"
#include "appsession/session_gost2.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applet_gost2");
const size_t kRecordReply = 35;
const unsigned char kRecordKind = 0x02, kLastShortVersion = 0x06;
// Answers (record and status word) no longer than these are too short.
const size_t kTooShortLong = 34, kTooShortShort = 33;
}  // namespace

const TBytes& CAppletGost2::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x01, 0x01};
    return kAid;
}

CAppletGost2::CAppletGost2(ISender* sender) : IApplet(sender) {
    setError(new CErrorGost2);
    setFs(new CFSGost2(this));
    setPin(new CPinGost2(this));
    setInfo(new CInfoGost2(this));
    setLabel(new CLabelGost2(this));
    // No pack: the applet has no key slots.
    setSession(new CSessionGost2(this));
    setCrypto(new CCryGost2(this));
}

void CAppletGost2::selectTokenApp() { SelectAid(this, aid()); }

void CAppletGost2::init() {
    // The information query of kind 0.
    TBytes reply(kRecordReply, 0);
    sender()->send({0x80, 0x38, 0x20, 0x00, 0x00}, reply);
    CheckSW(this, reply);
    // A record of another kind is taken as it is.
    if (reply.size() >= 2 && reply[0] == kRecordKind) {
        const size_t tooShort = reply[1] > kLastShortVersion ? kTooShortLong : kTooShortShort;
        if (reply.size() <= tooShort) LIBAPDU_RAISE(kSwBadAnswer);
    }
}

bool CAppletGost2::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

}  // namespace libapdu
