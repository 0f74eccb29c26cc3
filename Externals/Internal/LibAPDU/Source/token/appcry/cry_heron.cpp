#include "appcry/cry_heron.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appcry/cry_heron");
const JavaCryCommands kHeronCommands = {0x14, 0x00, 0x19, true};
}  // namespace

CHeronFinder::CHeronFinder(const CAdapter& adapter) : CJavaFamilyFinder(adapter, false, kSource) {}

CCryHeron::CCryHeron(IApplet* applet) : CCryJavaFamily(applet, kHeronCommands, kSource) {}

std::unique_ptr<CCryFinder> CCryHeron::makeFinder(const CAdapter& adapter) const {
    return std::unique_ptr<CCryFinder>(new CHeronFinder(adapter));
}

}  // namespace libapdu
