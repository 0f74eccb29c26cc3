// File system of the Wren applet: a tree addressed by whole paths from 3F00,
// parameters in the command data and every 16-bit value low byte first.
#ifndef LIBAPDU_FS_WREN_H
#define LIBAPDU_FS_WREN_H

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

class CFSWren : public CFSCommon {
public:
    explicit CFSWren(IApplet* applet);
    ~CFSWren() override;

    void select(path p) override;
    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;
    // selectByName, selectByFID and resize keep the not-supported defaults.

    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override;

private:
    // Sends a command and raises its status word, `from` read as `to` first.
    TBytes exchange(const TBytes& command, size_t replySize, unsigned short from = 0, unsigned short to = 0);
    unsigned char userAccess();

    CFileInfo m_current;
};

}  // namespace libapdu

#endif
