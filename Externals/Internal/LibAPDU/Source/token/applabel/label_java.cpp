#include "label_java.h"

#include "java_marker.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_java");

const JavaLabelCommands kJavaCommands = {
    {0x80, 0x1A},  // the file system's resize of the selected file
    {0x80, 0x1B},  // change marker
};

const path kLabelFile = {0x0002};

TBytes ResizeCommand(JavaLabelCommands::Op op, size_t length) {
    TBytes c = {op.cla, op.ins, 0x00, 0x00, 0x04, 0x03, 0x02};
    PutBE16(c, static_cast<unsigned short>(length));
    c.push_back(0x00);
    return c;
}
}  // namespace

CLabelJavaFamily::CLabelJavaFamily(IApplet* applet, const JavaLabelCommands& commands, const wchar_t* source)
    : CLabelCommon(applet), m_cmd(commands), m_source(source) {}

CLabelJavaFamily::~CLabelJavaFamily() = default;

void CLabelJavaFamily::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, m_source, line); }

int CLabelJavaFamily::encoding() { return kEncodingUtf8; }

TBytes CLabelJavaFamily::read() {
    fs()->select(kLabelFile);
    return FileRead(adapter());
}

void CLabelJavaFamily::write(const TBytes& label) {
    if (label.size() > kMaxLabel) raise(kSwBadArgument, __LINE__);
    fs()->select(kLabelFile);
    TBytes reply(256, 0);
    m_applet->sender()->send(ResizeCommand(m_cmd.resize, label.size()), reply);
    CheckSW(m_applet, reply);
    // The file is selected once more after the resize, before it is written.
    IAppFS* f = fs();
    f->select(kLabelFile);
    f->write(label, 0);
    volatile_update();
}

void CLabelJavaFamily::volatile_update() { SendJavaMarker(m_applet, m_cmd.marker.cla, m_cmd.marker.ins); }

// ---------------------------------------------------------------- CLabelJava

CLabelJava::CLabelJava(IApplet* applet) : CLabelJavaFamily(applet, kJavaCommands, kSource) {}

}  // namespace libapdu
