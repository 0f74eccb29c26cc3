// Label facet of the Java applet: the file 0002 of the application, resized to
// the label's length on every write.
#ifndef LIBAPDU_LABEL_JAVA_H
#define LIBAPDU_LABEL_JAVA_H

#include "label_common.h"

namespace libapdu {

class CLabelJava : public CLabelCommon {
public:
    explicit CLabelJava(IApplet* applet);
    ~CLabelJava() override;

    TBytes read() override;
    void write(const TBytes& label) override;
    int encoding() override;

    // Hands the card a fresh change marker, so that other programs see the token changed.
    void volatile_update();
};

}  // namespace libapdu

#endif
