#include "applet_java.h"

#include "applet_common.h"
#include "appcry/cry_java.h"
#include "apperror/apperror.h"
#include "appfs/fs_java.h"
#include "appinfo/info_java.h"
#include "appinfo/info_javamanager.h"
#include "applabel/label_java.h"
#include "apppack/pack_java.h"
#include "apppin/pin_java.h"

namespace libapdu LIBAPDU_API {

namespace {
// The Java applet asks for an expected length: 6Cxx names it, 6A86 wants Le 00.
// One repetition at most; the answer to it is the one that counts.
TBytes SelectJava(ISender* sender, const TBytes& aid) {
    TBytes command = SelectAidCommand(aid);
    TBytes response(kSelectReplySize, 0);
    sender->send(command, response);
    const size_t n = response.size();
    if (n >= 2 && (response[n - 2] == 0x6C || (response[n - 2] == 0x6A && response[n - 1] == 0x86))) {
        command.push_back(response[n - 2] == 0x6C ? response[n - 1] : 0x00);
        response.assign(kSelectReplySize, 0);
        sender->send(command, response);
    }
    return response;
}
}  // namespace

const TBytes& CAppletJava::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x03, 0x12, 0x02, 0x02};
    return kAid;
}

CAppletJava::CAppletJava(ISender* sender) : IApplet(sender) {
    setError(new CErrorJava);
    setFs(new CFSJava(this));
    setInfo(new CInfoJava(this));
    setLabel(new CLabelJava(this));
    setPack(new CPackJava(this));
    setPin(new CPinJava(this));
    setCrypto(new CCryJava(this));  // reaches the other facets through the applet at each call
}

void CAppletJava::selectTokenApp() { CheckSW(this, SelectJava(sender(), aid())); }

void CAppletJava::init() { info()->isFips(); }  // primes the facet's cached answer

bool CAppletJava::checkIfExist(ISender* sender) {
    const TBytes response = SelectJava(sender, aid());
    const size_t n = response.size();
    return n >= 2 && response[n - 2] == 0x90 && response[n - 1] == 0x00;
}

const TBytes& CAppletJavaManager::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x01, 0x51, 0x00, 0x00};
    return kAid;
}

CAppletJavaManager::CAppletJavaManager(ISender* sender) : IApplet(sender) {
    setError(new CErrorJava);
    setInfo(new CInfoJavaManager(this));
}

void CAppletJavaManager::selectTokenApp() { SelectAid(this, aid()); }

bool CAppletJavaManager::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

}  // namespace libapdu
