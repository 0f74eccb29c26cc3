// File system of the Kite applet (Kite16 and Kite32 tokens) and its variant for
// the Kite4 tokens (Kite42, Kite42b): ISO/IEC 7816-4 SELECT by path, CREATE FILE
// with a file-control template, DELETE FILE, READ and UPDATE BINARY, and the
// proprietary list command.
#ifndef LIBAPDU_FS_KITE_H
#define LIBAPDU_FS_KITE_H

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

class CFSKite : public CFSCommon {
public:
    explicit CFSKite(IApplet* applet);
    ~CFSKite() override;

    void select(path p) override;
    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;
    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override;

    // The tag under which a select reply carries the file size.
    virtual unsigned char tag_file_size() const;

    // Writes 16 fresh random bytes into 3F00/6666/0001 after every change of the
    // tree; its own failures are dropped.
    void volatile_update();

    // The selected file from the root down (3F00 first); empty before the first select.
    const path& currentPath() const { return m_path; }

protected:
    // The create command for one file or folder (type 1 or 2).
    virtual TBytes createCommand(unsigned short fid, const CFileInfo& info) const;

private:
    path m_path;
    CFileInfo m_info;
};

class CFSKite4 : public CFSKite {
public:
    using CFSKite::CFSKite;
    ~CFSKite4() override;

    unsigned char tag_file_size() const override;

protected:
    TBytes createCommand(unsigned short fid, const CFileInfo& info) const override;
};

}  // namespace libapdu

#endif
