#include "applet_tessel.h"

#include "applet_common.h"
#include "appbio/bio_tessel.h"
#include "appcry/cry_tessel.h"
#include "apperror/apperror.h"
#include "appfs/fs_tessel.h"
#include "appinfo/info_tessel.h"
#include "applabel/label_tessel.h"
#include "apppack/pack_tessel.h"
#include "apppin/pin_tessel.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applet_tessel");
const path kInfoFile = {0x3F00, 0x3000, 0xC000};
}  // namespace

const TBytes& CAppletTessel::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x01, 0x64, 'Q', 'U', 'I', 'L', 'T', 0x00, 0x01};
    return kAid;
}

CAppletTessel::CAppletTessel(ISender* sender) : IApplet(sender) {
    setError(new CErrorTessel);
    setBio(new CBioTessel(this));
    setPin(new CPinTessel(this));
    setInfo(new CInfoTessel(this));
    setLabel(new CLabelTessel(this));
    setPack(new CPackTessel(this));
    setCrypto(new CCryTessel(this));
    m_fsTessel = new CFSTessel(this);
    setFs(m_fsTessel);  // last: the facets above reach it through the applet
}

void CAppletTessel::selectTokenApp() { SelectAid(this, aid()); }

bool CAppletTessel::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

void CAppletTessel::init() {
    pin()->logout();
    IAppFS* files = fs();
    files->select(kInfoFile);
    const CFileInfo d = files->info();
    if (d.size <= kInfoMarkOffset) LIBAPDU_RAISE(0x6400);
    TBytes content(d.size, 0);
    files->read(content, 0);
    if (content[kInfoMarkOffset] < kMinInfoMark) LIBAPDU_RAISE(0x6400);
    m_fsTessel->setLoginType(static_cast<unsigned char>(bio()->loginType()));
}

}  // namespace libapdu
