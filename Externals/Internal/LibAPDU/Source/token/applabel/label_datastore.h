// Label facet of the DataStore applet: kept by the applet's own label commands.
#ifndef LIBAPDU_LABEL_DATASTORE_H
#define LIBAPDU_LABEL_DATASTORE_H

#include "label_command.h"

namespace libapdu LIBAPDU_API {

class CLabelDataStore : public CLabelByCommand {
public:
    explicit CLabelDataStore(IApplet* applet);
    ~CLabelDataStore() override;
};

}  // namespace libapdu

#endif
