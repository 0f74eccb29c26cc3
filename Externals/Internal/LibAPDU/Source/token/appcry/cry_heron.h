// Crypto facet of the Heron applet: the Java applet's design with other
// instruction bytes, no key-data exchange, and a decipher that first checks the
// data against the selected key.
#ifndef LIBAPDU_CRY_HERON_H
#define LIBAPDU_CRY_HERON_H

#include "appcry/cry_java.h"

namespace libapdu LIBAPDU_API {

class CHeronFinder : public CJavaFamilyFinder {
public:
    explicit CHeronFinder(const CAdapter& adapter);
};

class CCryHeron : public CCryJavaFamily {
public:
    explicit CCryHeron(IApplet* applet);

protected:
    std::unique_ptr<CCryFinder> makeFinder(const CAdapter& adapter) const override;
};

}  // namespace libapdu

#endif
