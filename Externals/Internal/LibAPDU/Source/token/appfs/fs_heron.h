// File system of the Heron applet: the Java applet's file system with other
// class and instruction bytes, and without resize.
#ifndef LIBAPDU_FS_HERON_H
#define LIBAPDU_FS_HERON_H

#include "fs_java.h"

namespace libapdu LIBAPDU_API {

class CFSHeron : public CFSJavaFamily {
public:
    explicit CFSHeron(IApplet* applet);
    // resize keeps the not-supported default: the applet has no such command.
};

}  // namespace libapdu

#endif
