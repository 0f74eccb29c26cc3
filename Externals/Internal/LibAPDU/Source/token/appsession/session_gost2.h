// Session facet of the Gost2 applet: its session modes, and the set-up of its
// secure-messaging channel. The library itself never calls it; it is offered
// to the holder of the token's session facet.
#ifndef LIBAPDU_SESSION_GOST2_H
#define LIBAPDU_SESSION_GOST2_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CSessionGost2 : public IAppSession, public IAPDUDefinitions {
public:
    explicit CSessionGost2(IApplet* owner) : m_owner(owner) {}

    TBytes startSetZudezoZudSM(const TBytes& v, unsigned char b) override;
    TBytes finishSetZudezoZudSM(const TBytes& v) override;
    unsigned char getStatusSM() override;
    void setStatusSM(const unsigned char& s) override;
    void setStrictSession(const TBytes& v) override;
    void setStandartSession(const TBytes& v) override;
    void setLimitedSession() override;
    void setOfflineSession() override;
    void endSession() override;

private:
    TBytes exchange(const TBytes& command, size_t replySize);
    // Ends an open session, then asks for the mode; open once the card agrees.
    void enter(const TBytes& command);
    TBytes modeCommand(unsigned char mode, const TBytes& v);

    IApplet* m_owner;  // not owned; the applet owns this facet
    bool m_open = false;
};

}  // namespace libapdu

#endif
