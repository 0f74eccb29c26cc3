// File system of the Gost applet. The applet keeps no file tree, only an
// object store: objects named by card-assigned handles, each with attributes
// (a 32-bit identifier and a byte string). Every transparent file is an object
// carrying its path, size and contents; a read-protected file keeps its contents
// in a second, private object. Folders are not stored: they exist as ancestors
// of stored paths, or for this facet's lifetime once created. The whole store is
// read once, at the first select, into a directory cache.
#ifndef LIBAPDU_FS_GOST_H
#define LIBAPDU_FS_GOST_H

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

class CFSGost : public CFSCommon {
public:
    struct CFileInfoEx {
        CFileInfo info;
        path p;                       // from 3F00 down to the entry itself
        unsigned short handle = 0;    // 0 for a folder
        unsigned short dataHandle = 0;  // 0 when the contents live in the file object
    };
    struct CAtribute {
        unsigned int id = 0;
        TBytes value;
    };

    // Attribute identifiers.
    enum : unsigned int {
        kAtrPrivate = 0x00000002,
        kAtrContents = 0x00000011,
        kAtrSize = 0x00000161,
        kAtrDataHandle = 0x8000BADA,
        kAtrPath = 0x8000F11E,
    };
    // Kind of the objects this facet makes and lists.
    enum : unsigned char { kFileKind = 0x04 };
    // Largest file, and the room a file needs beyond its own size.
    enum : unsigned int { kMaxFileSize = 0x4000, kMemoryReserve = 0x2000 };

    explicit CFSGost(IApplet* applet);
    ~CFSGost() override;

    void select(path p) override;
    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;

    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override { return 0xFFFF; }

    // The object-store commands.
    unsigned short newFile();
    void removeFile(unsigned short handle);
    std::vector<unsigned short> listFile();
    TBytes getAtr(unsigned short handle, unsigned int id);
    void setAtr(unsigned short handle, unsigned int id, TBytes value);
    std::vector<CAtribute> listAtr(unsigned short handle);

    // Reads the store into the directory cache; the cache is replaced only when
    // the whole store was read.
    void init();

private:
    unsigned char userAccess();
    // The contents of the current file; a read-protected file whose contents the
    // card will not give answers 6900 (not logged in) instead of 6A82.
    TBytes contents(unsigned short holder);
    std::vector<CFileInfoEx>::iterator findEntry(const path& p);

    std::vector<CFileInfoEx> m_cache;
    CFileInfo m_info;
    path m_path;
    unsigned short m_handle = 0;
    unsigned short m_dataHandle = 0;
};

}  // namespace libapdu

#endif
