#include "info_heron.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appinfo/info_heron");

const JavaInfoCommands kHeronCommands = {
    {0x80, 0x02},  // GET DATA
    {0x80, 0x12},  // GET CHALLENGE
};
}  // namespace

CInfoHeron::CInfoHeron(IApplet* applet) : CInfoJavaFamily(applet, kHeronCommands, kSource) {}

}  // namespace libapdu
