#include "java_marker.h"

#include "crypto/crypto.h"

namespace libapdu {

namespace {
const size_t kMarkerSize = 16;
const unsigned char kTagData = 0x10;
}  // namespace

TBytes JavaMarkerCommand(unsigned char cla, unsigned char ins) {
    unsigned char marker[kMarkerSize];
    crypto_random(marker, sizeof marker);
    marker[0] |= 0x01;  // the applet expects an odd first byte
    TBytes c = {cla, ins, 0x00, 0x00, 0x12, kTagData, static_cast<unsigned char>(kMarkerSize)};
    c.insert(c.end(), marker, marker + kMarkerSize);
    return c;
}

void SendJavaMarker(IApplet* applet, unsigned char cla, unsigned char ins) {
    TBytes reply(2, 0);  // status word only
    applet->sender()->send(JavaMarkerCommand(cla, ins), reply);
    CheckSW(applet, reply);
}

}  // namespace libapdu
