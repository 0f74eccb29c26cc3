#include "apppack/pack_gost.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_gost");
}

CPackGost::CPackGost(IApplet* owner) : CPackCommon(owner) {}

void CPackGost::sm(const TBytes&, TBytes&) { LIBAPDU_RAISE(kErrNotSupported); }
void CPackGost::chain(const TBytes&, TBytes&) { LIBAPDU_RAISE(kErrNotSupported); }

}  // namespace libapdu
