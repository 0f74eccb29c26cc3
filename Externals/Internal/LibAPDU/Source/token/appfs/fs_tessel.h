// File system of the Tessel applet: real paths below 3F00, and logical
// directories kept as named directories inside the container 3F00/3000/3002/5000.
#ifndef LIBAPDU_FS_TESSEL_H
#define LIBAPDU_FS_TESSEL_H

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

class CFSTessel : public CFSCommon {
public:
    explicit CFSTessel(IApplet* applet);
    ~CFSTessel() override;

    void select(path p) override;
    void selectByName(path p) override;
    void selectByFID(unsigned short fid) override;
    void create(unsigned short fid, CFileInfo info) override;
    void resize(unsigned short size) override;
    void remove() override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;
    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override;
    virtual void removeSimple();

    void setLoginType(unsigned char loginType) { m_loginType = loginType; }
    unsigned char loginType() const { return m_loginType; }

    void selectSimple(path p);
    unsigned short selectName(path p);
    void createSimple(unsigned short fid, CFileInfo info);
    std::vector<unsigned short> listSimple(unsigned char type);

    const path& logicalPath() const { return m_logical; }
    const path& realPath() const { return m_real; }
    const path& namedPath() const { return m_named; }
    const TBytes& accessList() const { return m_access; }
    // The path last selected on the card; empty when the card's place is not known.
    const path& cardPath() const { return m_cardPath; }

    // The 16-byte directory name of a logical path (at most 8 elements).
    static TBytes NameOf(const path& p);

private:
    // Reads a file-control answer into the description; `rewriteKinds` says for
    // which types the access list is read and rewritten to the login type.
    void interpret(const TBytes& response, bool allKinds);
    void rewriteAccess();
    // A logical listing leaves the card on the container: commands that act on the
    // card's selection select the current file again first.
    void reselectAfterListing();

    path m_logical;
    path m_real;
    path m_container;
    CFileInfo m_info;
    path m_named;
    TBytes m_access;
    unsigned char m_loginType = 0;
    path m_cardPath;  // the path last selected on the card by selectSimple; empty when unknown
};

}  // namespace libapdu

#endif
