#include "label_wren.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_wren");

const unsigned short kLabelDir = 0x8000;
const path kLabelFile = {kLabelDir, 0xAAAA};
}  // namespace

CLabelWren::CLabelWren(IApplet* applet) : CLabelCommon(applet) {}

CLabelWren::~CLabelWren() = default;

int CLabelWren::encoding() { return kEncodingLocale; }

TBytes CLabelWren::read() {
    fs()->select(kLabelFile);
    return FileRead(adapter());
}

void CLabelWren::write(const TBytes& label) {
    if (label.size() > kMaxLabel) LIBAPDU_RAISE(kSwBadArgument);
    // The card keeps the label as a C string.
    for (unsigned char c : label)
        if (c == 0x00) LIBAPDU_RAISE(kSwBadArgument);

    // The card cannot resize a file: the old one goes and a new one of the label's length comes.
    try {
        IAppFS* f = fs();
        f->select(kLabelFile);
        f->remove();
    } catch (const IException& e) {
        if (e.code() != kSwNotFound) throw;
    }
    const CAdapter a = adapter();
    try {
        FileCreatePath(a, path{kLabelDir}, FileMakeDirInfo(a));
    } catch (const IException&) {
        // Most tokens have the directory already; the create below tells the real failure.
    }
    FileCreateAndWrite(a, kLabelFile, FileMakeFileInfo(a, static_cast<unsigned short>(label.size()), false), label);
}

}  // namespace libapdu
