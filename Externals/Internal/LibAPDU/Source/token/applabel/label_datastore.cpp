#include "label_datastore.h"

namespace libapdu LIBAPDU_API {

CLabelDataStore::CLabelDataStore(IApplet* applet)
    : CLabelByCommand(applet, Commands{{0x80, 0x30, 0x10, 0x00, 0x00}, 258, false, {0x80, 0x30, 0x20, 0x00}, {0x02}}) {}

CLabelDataStore::~CLabelDataStore() = default;

}  // namespace libapdu
