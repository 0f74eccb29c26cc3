#include "java_marker.h"

#include "crypto/crypto.h"

#include <cstring>

namespace libapdu LIBAPDU_API {

namespace {
const size_t kMarkerSize = 16;
const unsigned char kTagData = 0x10;
}  // namespace

TBytes JavaMarkerCommand(unsigned char cla, unsigned char ins) {
    unsigned char marker[kMarkerSize];
    crypto_random(marker, sizeof marker);
    marker[0] |= 0x01;  // the applet expects an odd first byte
    TBytes c(7 + kMarkerSize);
    c[0] = cla;
    c[1] = ins;
    c[4] = 0x12;
    c[5] = kTagData;
    c[6] = static_cast<unsigned char>(kMarkerSize);
    std::memcpy(c.data() + 7, marker, kMarkerSize);
    SecureWipe(marker, sizeof marker);
    return c;
}

void SendJavaMarker(IApplet* applet, unsigned char cla, unsigned char ins) {
    TBytes reply(2, 0);  // status word only
    applet->sender()->send(JavaMarkerCommand(cla, ins), reply);
    CheckSW(applet, reply);
}

}  // namespace libapdu
