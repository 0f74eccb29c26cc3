// File system of the Gost2 applet: a tree of folders and transparent files
// driven by one instruction (80 4C, P1 naming the operation). The card keeps
// the selection that create and delete act on; the facet remembers only the
// path and description of the file it selected last.
#ifndef LIBAPDU_FS_GOST2_H
#define LIBAPDU_FS_GOST2_H

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

class CFSGost2 : public CFSCommon {
public:
    // Largest file the applet makes, and the end no piece may pass.
    enum : unsigned int { kMaxFileSize = 0x7FEA, kMaxEnd = 0x7FEE };
    // Longest piece one read or write carries; entries on a full list page.
    enum : unsigned short { kPiece = 237, kPageEntries = 36 };

    explicit CFSGost2(IApplet* applet);
    ~CFSGost2() override;

    void select(path p) override;
    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;

    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override { return kPiece; }

private:
    path m_path;
    CFileInfo m_info;
};

}  // namespace libapdu

#endif
