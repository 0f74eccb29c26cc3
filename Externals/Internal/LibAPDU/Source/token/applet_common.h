// Selection of a card application by its AID, shared by every applet family.
#ifndef LIBAPDU_APPLET_COMMON_H
#define LIBAPDU_APPLET_COMMON_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// 00 A4 04 00 Lc AID, no Le.
TBytes SelectAidCommand(const TBytes& aid);

// Sends the SELECT and raises its status word through the applet's error facet.
void SelectAid(IApplet* applet, const TBytes& aid);

// True exactly when the answer ends in 90 00; raises nothing of its own.
bool ProbeAid(ISender* sender, const TBytes& aid);

// The size of the reply buffer every SELECT hands to the transport.
constexpr size_t kSelectReplySize = 258;

}  // namespace libapdu

#endif
