#include "label_tessel.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_tessel");

const path kLabelFile = {0x3F00, 0x3000, 0xC000};
const unsigned char kBlank = 0x20;
}  // namespace

CLabelTessel::CLabelTessel(IApplet* applet) : CLabelCommon(applet) {}

CLabelTessel::~CLabelTessel() = default;

int CLabelTessel::encoding() { return kEncodingUtf8; }

TBytes CLabelTessel::read() {
    IAppFS* f = fs();
    f->select(kLabelFile);
    TBytes label(kMaxLabel, 0);
    f->read(label, 0);
    while (!label.empty() && (label.back() == 0x00 || label.back() == kBlank)) label.pop_back();
    return label;
}

void CLabelTessel::write(const TBytes& label) {
    if (label.size() > kMaxLabel) LIBAPDU_RAISE(kSwBadArgument);
    TBytes padded = label;
    padded.resize(kMaxLabel, kBlank);
    // The card takes 7-bit text only; a 00 would end the label early.
    for (unsigned char c : padded)
        if (c < 0x01 || c > 0x7F) LIBAPDU_RAISE(kSwBadArgument);
    IAppFS* f = fs();
    f->select(kLabelFile);
    f->write(padded, 0);
}

}  // namespace libapdu
