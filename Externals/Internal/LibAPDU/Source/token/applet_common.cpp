#include "applet_common.h"

namespace libapdu {

TBytes SelectAidCommand(const TBytes& aid) {
    TBytes c = {0x00, 0xA4, 0x04, 0x00, static_cast<unsigned char>(aid.size())};
    c.insert(c.end(), aid.begin(), aid.end());
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
