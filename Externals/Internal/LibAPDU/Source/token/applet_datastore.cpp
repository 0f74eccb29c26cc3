#include "applet_datastore.h"

#include <memory>

#include "applet_common.h"
#include "apperror/apperror.h"
#include "appfs/fs_datastore.h"
#include "appfs/fs_datastore_v2.h"
#include "appinfo/info_datastore.h"
#include "applabel/label_datastore.h"
#include "apppin/pin_datastore.h"

namespace libapdu LIBAPDU_API {

const TBytes& CAppletDataStore::aid() {
    static const TBytes kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x03, 0x01};
    return kAid;
}

CAppletDataStore::CAppletDataStore(ISender* sender) : IApplet(sender) {
    setError(new CErrorDataStore);
    setInfo(new CInfoDataStore(this));
    setLabel(new CLabelDataStore(this));
    setPin(new CPinDataStore(this));
    setFs(new CFSDataStore(this));
}

void CAppletDataStore::selectTokenApp() { SelectAid(this, aid()); }

bool CAppletDataStore::checkIfExist(ISender* sender) { return ProbeAid(sender, aid()); }

void CAppletDataStore::switchToFileSystem(unsigned short kind) {
    std::unique_ptr<IAppFS> next;
    if (kind == 1)
        next.reset(new CFSDataStore(this));
    else if (kind == 2)
        next.reset(new CFSDataStore_v2(this));
    else
        return;
    setFs(next.release());
}

}  // namespace libapdu
