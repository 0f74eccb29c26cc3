#include "apppin/pin_heron.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_heron");

const JavaPinCommands kHeronPinCommands = {
    0x14,   // PIN information
    0x12,   // challenge
    0x10,   // login
    0x18,   // change key
    0x1D,   // change marker
    false,  // the admin PIN is handled like every other
    true,   // PIN folder selected before login and change
};
}  // namespace

CPinHeron::CPinHeron(IApplet* owner) : CPinJavaFamily(owner, kHeronPinCommands, kSource) {}

}  // namespace libapdu
