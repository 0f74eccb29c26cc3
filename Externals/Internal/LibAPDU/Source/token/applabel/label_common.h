// The base of the label facets that keep the label in a card file.
#ifndef LIBAPDU_LABEL_COMMON_H
#define LIBAPDU_LABEL_COMMON_H

#include "libapdu.internal.h"

namespace libapdu {

class CLabelCommon : public IAppLabel, public IAPDUDefinitions {
public:
    explicit CLabelCommon(IApplet* applet);
    ~CLabelCommon() override;

protected:
    // Largest label any family of this kind stores.
    enum : size_t { kMaxLabel = 32 };
    enum : int { kEncodingLocale = 2, kEncodingUtf8 = 3 };

    // The applet's facets for the whole-file helpers. The file-system and PIN
    // members are taken from the applet at each call, so that a facet replaced
    // after this one was built is never reached through a stale pointer.
    CAdapter adapter() const;
    IAppFS* fs() const { return m_applet->fs(); }

    IApplet* m_applet;  // not owned; the applet owns this facet
    CAdapter m_adapter;
};

}  // namespace libapdu

#endif
