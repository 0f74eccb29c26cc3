#include "applet_common.h"

#include <algorithm>

namespace libapdu LIBAPDU_API {

TBytes SelectAidCommand(const TBytes& aid) {
    TBytes c(5 + aid.size());
    c[1] = 0xA4;
    c[2] = 0x04;
    c[4] = static_cast<unsigned char>(aid.size());
    std::copy(aid.begin(), aid.end(), c.begin() + 5);
    return c;
}

void SelectAid(IApplet* applet, const TBytes& aid) {
    TBytes response(kSelectReplySize, 0);
    applet->sender()->send(SelectAidCommand(aid), response);
    CheckSW(applet, response);
}

bool ProbeAid(ISender* sender, const TBytes& aid) {
    TBytes response(kSelectReplySize, 0);
    sender->send(SelectAidCommand(aid), response);
    const size_t n = response.size();
    return n >= 2 && response[n - 2] == 0x90 && response[n - 1] == 0x00;
}

}  // namespace libapdu
