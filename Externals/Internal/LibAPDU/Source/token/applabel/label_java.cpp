#include "label_java.h"

#include "crypto/crypto.h"

namespace libapdu {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_java");

const path kLabelFile = {0x0002};
const unsigned char kResizeIns = 0x1A;   // the file system's resize of the selected file
const unsigned char kMarkerIns = 0x1B;   // change marker
const size_t kMarkerSize = 16;

TBytes ResizeCommand(size_t length) {
    TBytes c = {0x80, kResizeIns, 0x00, 0x00, 0x04, 0x03, 0x02};
    PutBE16(c, static_cast<unsigned short>(length));
    c.push_back(0x00);
    return c;
}

TBytes MarkerCommand(const TBytes& marker) {
    return Join({0x80, kMarkerIns, 0x00, 0x00, 0x12, 0x10, 0x10}, marker);
}
}  // namespace

CLabelJava::CLabelJava(IApplet* applet) : CLabelCommon(applet) {}

CLabelJava::~CLabelJava() = default;

int CLabelJava::encoding() { return kEncodingUtf8; }

TBytes CLabelJava::read() {
    fs()->select(kLabelFile);
    return FileRead(adapter());
}

void CLabelJava::write(const TBytes& label) {
    if (label.size() > kMaxLabel) LIBAPDU_RAISE(kSwBadArgument);
    fs()->select(kLabelFile);
    TBytes reply(256, 0);
    m_applet->sender()->send(ResizeCommand(label.size()), reply);
    CheckSW(m_applet, reply);
    // The file is selected once more after the resize, before it is written.
    IAppFS* f = fs();
    f->select(kLabelFile);
    f->write(label, 0);
    volatile_update();
}

void CLabelJava::volatile_update() {
    TBytes marker(kMarkerSize, 0);
    crypto_random(marker.data(), marker.size());
    marker[0] |= 0x01;  // the card expects the lowest bit of the first byte set
    TBytes reply(2, 0);
    m_applet->sender()->send(MarkerCommand(marker), reply);
    CheckSW(m_applet, reply);
}

}  // namespace libapdu
