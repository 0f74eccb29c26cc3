// Information facets of the Java applet and of the Heron applet, which shares
// its design: GET DATA objects, GET CHALLENGE and the FIPS flag file, with other
// class and instruction bytes.
#ifndef LIBAPDU_INFO_JAVA_H
#define LIBAPDU_INFO_JAVA_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

// Class and instruction bytes of one applet's information commands.
struct JavaInfoCommands {
    struct Op {
        unsigned char cla, ins;
    };
    Op getData, challenge;
};

// The information facet of the Java family. Each family names its own command
// bytes and its own source file for the errors it raises.
class CInfoJavaFamily : public CInfoCommon {
public:
    ~CInfoJavaFamily() override;

    TBytes rnd(size_t n) override;
    bool isFips() override;
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override;
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override;
    TBytes value(unsigned char kind) override;

    TBytes ManufacturingDate();

protected:
    CInfoJavaFamily(IApplet* applet, const JavaInfoCommands& commands, const wchar_t* source);

private:
    TBytes getData(unsigned char object, int subTag);

    const JavaInfoCommands& m_cmd;
    const wchar_t* m_source;
    unsigned short m_fips;
};

class CInfoJava : public CInfoJavaFamily {
public:
    explicit CInfoJava(IApplet* applet);
};

}  // namespace libapdu

#endif
