// The base of the label facets that keep the label in a card file.
#ifndef LIBAPDU_LABEL_COMMON_H
#define LIBAPDU_LABEL_COMMON_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CLabelCommon : public IAppLabel, public IAPDUDefinitions {
public:
    explicit CLabelCommon(IApplet* applet);
    ~CLabelCommon() override;

protected:
    // Largest label any family of this kind stores.
    enum : size_t { kMaxLabel = 32 };
    enum : int { kEncodingLocale = 2, kEncodingUtf8 = 3 };

    // The applet's facets for the whole-file helpers, taken from the applet at
    // each call: the applet replaces facets after this one is built (this very
    // label slot among them), and a stored copy would point at deleted objects.
    CAdapter adapter() const { return AppletToAdapter(m_applet); }
    IAppFS* fs() const { return m_applet->fs(); }

    IApplet* m_applet;  // not owned; the applet owns this facet
};

}  // namespace libapdu

#endif
