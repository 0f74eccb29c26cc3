// The change marker of the Java-family applets: after every change of the file
// tree or the label the applet is handed 16 fresh random bytes, so that other
// programs holding the token see that it changed.
#ifndef LIBAPDU_JAVA_MARKER_H
#define LIBAPDU_JAVA_MARKER_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// CLA INS 00 00 12 10 10 <16 random bytes>, the lowest bit of the first byte set.
TBytes JavaMarkerCommand(unsigned char cla, unsigned char ins);

// Sends a fresh change marker and passes its status word through the applet's error facet.
void SendJavaMarker(IApplet* applet, unsigned char cla, unsigned char ins);

}  // namespace libapdu

#endif
