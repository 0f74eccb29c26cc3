// The applet classes by applet identifier: the one table that the token's
// switches and its probe use.
#ifndef LIBAPDU_APPLETS_H
#define LIBAPDU_APPLETS_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

struct AppletClass {
    unsigned short id;
    IApplet* (*make)(ISender*);
    bool (*checkIfExist)(ISender*);
};

// Null for an identifier outside the table.
const AppletClass* FindAppletClass(unsigned short id);

}  // namespace libapdu

#endif
