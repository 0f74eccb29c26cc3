#include "apppack/pack_heron.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_heron");
const unsigned char kHeronChallengeIns = 0x12;
}  // namespace

CPackHeron::CPackHeron(IApplet* owner) : CPackJavaFamily(owner, kHeronChallengeIns, kSource) {}

}  // namespace libapdu
