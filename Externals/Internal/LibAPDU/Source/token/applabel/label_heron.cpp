#include "label_heron.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_heron");

const JavaLabelCommands kHeronCommands = {
    {0x80, 0x17},  // the file system's resize of the selected file
    {0x80, 0x1D},  // change marker
};
}  // namespace

CLabelHeron::CLabelHeron(IApplet* applet) : CLabelJavaFamily(applet, kHeronCommands, kSource) {}

}  // namespace libapdu
