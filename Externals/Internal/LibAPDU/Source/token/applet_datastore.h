#ifndef LIBAPDU_APPLET_DATASTORE_H
#define LIBAPDU_APPLET_DATASTORE_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// The DataStore applet: a record store carrying one of two file-system layouts.
class CAppletDataStore : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletDataStore(ISender* sender);
    void selectTokenApp() override;
    // 1: the tree in object identifiers; 2: the tree in a directory object.
    // Any other kind changes nothing. The new facet starts with an empty cache.
    void switchToFileSystem(unsigned short kind) override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

}  // namespace libapdu

#endif
