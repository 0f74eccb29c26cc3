#include "fs_heron.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_heron");

// Note that 80 1B writes here, while on the Java applet it is the change marker.
const JavaFamilyCommands kHeronCommands = {
    {0x80, 0x03},  // select
    {0x80, 0x0D},  // list
    {0x80, 0x09},  // create
    {0x80, 0x01},  // remove
    {0x80, 0x1C},  // read
    {0x80, 0x1B},  // write
    {0x80, 0x1D},  // change marker
};
}  // namespace

CFSHeron::CFSHeron(IApplet* owner) : CFSJavaFamily(owner, kHeronCommands, kSource) {}

}  // namespace libapdu
