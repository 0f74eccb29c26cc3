#ifndef LIBAPDU_APPLET_TESSEL_H
#define LIBAPDU_APPLET_TESSEL_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CFSTessel;

class CAppletTessel : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletTessel(ISender* sender);
    void selectTokenApp() override;
    // Ends any PIN session, checks the information file and hands the token's
    // login type to the file system.
    void init() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();

    // The information file is longer than this, and its byte there at least kMinInfoMark.
    static constexpr unsigned short kInfoMarkOffset = 97;
    static constexpr unsigned char kMinInfoMark = 4;

private:
    CFSTessel* m_fsTessel;  // the object the fs slot owns
};

}  // namespace libapdu

#endif
