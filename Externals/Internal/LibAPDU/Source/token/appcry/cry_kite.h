// Crypto facets of the Kite family: certificate records and key files in the
// Kite layout (CCryKite, and CCryKite4 with the 256-byte keys of the newer
// tokens), and the object folders of a Kite4 token in FIPS mode
// (CCryKite4Fips), whose decipher travels under secure messaging.
#ifndef LIBAPDU_CRY_KITE_H
#define LIBAPDU_CRY_KITE_H

#include "appcry/cry_common.h"

namespace libapdu LIBAPDU_API {

// Certificates in 3F00/6666/1002 (a four-byte header with the record length,
// the DER certificate, a tail with the name), keys in 3F00/6666/6000 named by
// the index ECEC, or in 3F00/6666/5000/0201 when the index is empty, their
// sizes in the table 3F00/6666/1001/1001. A key's path ends in its key number.
class CKite4Finder : public CCryFinder {
public:
    explicit CKite4Finder(const CAdapter& adapter);
    void getcerts() override;
    void getkeys() override;

private:
    // The key length that size-table entry `number` gives; 0 when the key is not listed.
    bool keyLength(const TBytes& table, size_t number, unsigned short& length) const;
    TBytes indexName(const TBytes& index, unsigned short fid) const;
    unsigned char pinReference() const;

    CAdapter m_adapter;
};

// Object folders under 3F00/6666/5000/0220 as the Java family keeps them, with
// descriptors of tag-length-value fields.
class CKite4FipsFinder : public CCryFinder {
public:
    explicit CKite4FipsFinder(const CAdapter& adapter);
    void getcerts() override;
    void getkeys() override;

    // 6281 unless buf holds a whole first field (tag, length, value).
    void valid_field(const TBytes& buf);
    void get_field(TBytes& buf);
    void skip_field(TBytes& buf);

private:
    CAdapter m_adapter;
};

// What the three facets share: the selection that prepares the card, the decipher.
class CCryKiteFamily : public CCryContainers {
public:
    void select(path p) override;
    TBytes decrypt(const TBytes& data) override;

protected:
    CCryKiteFamily(IApplet* applet, std::vector<unsigned short> keySizes);
    // Puts the selected key into the card's security environment.
    virtual void prepareKey(const path& p) = 0;
    virtual void sendDecipher(const TBytes& command, TBytes& reply) = 0;
    // One command of the selection, judged by the error facet.
    void exchange(const TBytes& command);
};

class CCryKite : public CCryKiteFamily {
public:
    explicit CCryKite(IApplet* applet);

protected:
    std::unique_ptr<CCryFinder> makeFinder(const CAdapter& adapter) const override;
    void prepareKey(const path& p) override;
    void sendDecipher(const TBytes& command, TBytes& reply) override;
};

class CCryKite4 : public CCryKite {
public:
    explicit CCryKite4(IApplet* applet);
};

class CCryKite4Fips : public CCryKiteFamily {
public:
    explicit CCryKite4Fips(IApplet* applet);

protected:
    std::unique_ptr<CCryFinder> makeFinder(const CAdapter& adapter) const override;
    void prepareKey(const path& p) override;
    void sendDecipher(const TBytes& command, TBytes& reply) override;
};

}  // namespace libapdu

#endif
