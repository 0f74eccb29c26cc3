// Biometric facet of the Tessel applet: enrolled fingers, templates,
// match-on-card, the login type of the user PIN object and the biometric half of
// a login ticket.
#ifndef LIBAPDU_BIO_TESSEL_H
#define LIBAPDU_BIO_TESSEL_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CBioTessel : public IAppBio, public IAPDUDefinitions {
public:
    explicit CBioTessel(IApplet* owner);
    ~CBioTessel() override;

    void select(const path& p) override;
    unsigned int loginType() override;
    TBytes getEnrolledFingers() override;
    TBytes readPublicBioData(unsigned char finger) override;
    TBytes appletMoC(const TBytes& data, unsigned char finger) override;
    void enrollTemplate(const TBytes& first, const TBytes& second, unsigned char finger) override;
    void eraseTemplate(unsigned char finger) override;
    void loginByTicket(const TBytes& ticket) override;

    const path& bioPath() const { return m_bioPath; }

    // Bytes of one chained part, and the most verification data whose body
    // lengths fit two bytes.
    static constexpr size_t kPartSize = 254;
    static constexpr size_t kMaxMoCData = 65528;

private:
    TBytes exchange(const TBytes& command, size_t replySize);
    // Sends a body in parts; the last part's answer.
    TBytes sendParts(const TBytes& body, unsigned char ins, unsigned char p1, unsigned char lastCla);

    path m_bioPath;
    IApplet* m_owner;
};

}  // namespace libapdu

#endif
