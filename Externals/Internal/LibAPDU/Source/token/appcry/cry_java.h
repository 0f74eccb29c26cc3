// Crypto facets of the Java applet, and the design it shares with the Heron
// applet: key and certificate objects kept as small folders under
// 3F00/6666/5000/0220, found once, paired by name, and an RSA decipher with the
// key of the selected object.
#ifndef LIBAPDU_CRY_JAVA_H
#define LIBAPDU_CRY_JAVA_H

#include "appcry/cry_common.h"

namespace libapdu LIBAPDU_API {

// Finder of the objects of both applets. Certificate objects are folders 1xxx
// (descriptor 0001, DER certificate 0002), key objects folders 3xxx (descriptor
// 0001 after a six-byte header); the third descriptor field is the name.
class CJavaFamilyFinder : public CCryFinder, public IAPDUDefinitions {
public:
    void getcerts() override;
    void getkeys() override;

    // The descriptor's fields: a length byte, then that many bytes. 6281 unless
    // the buffer holds a whole first field.
    void valid_field(const TBytes& buf);
    void get_field(TBytes& buf);
    void skip_field(TBytes& buf);

    static const path& objectDirectory();

protected:
    CJavaFamilyFinder(const CAdapter& adapter, bool descriptorFlags, const wchar_t* source);

private:
    CAdapter m_adapter;
    bool m_descriptorFlags;  // Java: key flags from the descriptor's first byte
    const wchar_t* m_source;
};

class CJavaFinder : public CJavaFamilyFinder {
public:
    explicit CJavaFinder(const CAdapter& adapter);
};

// Command bytes and the few points where the two applets differ.
struct JavaCryCommands {
    unsigned char keyInfoIns;  // also the applet's PIN information command
    unsigned char keyDataIns;  // 0: the applet has none
    unsigned char decipherIns;
    bool checkBeforeDecipher;  // data below the modulus, and a key selected
};

class CCryJavaFamily : public CCryContainers {
public:
    void select(path p) override;
    TBytes decrypt(const TBytes& data) override;

    // The key of the selected object; the applets know no other key reference.
    static constexpr unsigned char kKeyReference = 0x31;
    // Two 16-bit lengths frame the data: n + 4 must still fit.
    static constexpr size_t kMaxDecipherData = 0xFFFF - 4;

protected:
    CCryJavaFamily(IApplet* applet, const JavaCryCommands& commands, const wchar_t* source);

private:
    void readKeySize();
    void readKeyData();

    const JavaCryCommands& m_cmd;
};

class CCryJava : public CCryJavaFamily {
public:
    explicit CCryJava(IApplet* applet);

protected:
    std::unique_ptr<CCryFinder> makeFinder(const CAdapter& adapter) const override;
};

// The escaped-length TLV walk of the decipher and key-data answers: the value of
// the first element with `tag` that starts before the last `tail` bytes of
// `data`. A tag 00 or FF, a length or value running past the data, or no such
// element throws the integer 0.
TBytes JavaCryTlvValue(const TBytes& data, size_t tail, unsigned char tag);

}  // namespace libapdu

#endif
