// Label facets of the Java applet and of the Heron applet, which shares its
// design: the file 0002 of the application, resized to the label's length on
// every write, then a fresh change marker. The families differ in the
// instruction bytes of the resize and of the marker.
#ifndef LIBAPDU_LABEL_JAVA_H
#define LIBAPDU_LABEL_JAVA_H

#include "label_common.h"

namespace libapdu LIBAPDU_API {

// Class and instruction bytes of one applet's label commands.
struct JavaLabelCommands {
    struct Op {
        unsigned char cla, ins;
    };
    Op resize, marker;
};

// The label facet of the Java family. Each family names its own command bytes
// and its own source file for the errors it raises.
class CLabelJavaFamily : public CLabelCommon {
public:
    ~CLabelJavaFamily() override;

    TBytes read() override;
    void write(const TBytes& label) override;
    int encoding() override;

    // Hands the card a fresh change marker, so that other programs see the token changed.
    void volatile_update();

protected:
    CLabelJavaFamily(IApplet* applet, const JavaLabelCommands& commands, const wchar_t* source);

private:
    [[noreturn]] void raise(unsigned short code, unsigned long line) const;

    const JavaLabelCommands& m_cmd;
    const wchar_t* m_source;
};

class CLabelJava : public CLabelJavaFamily {
public:
    explicit CLabelJava(IApplet* applet);
};

}  // namespace libapdu

#endif
