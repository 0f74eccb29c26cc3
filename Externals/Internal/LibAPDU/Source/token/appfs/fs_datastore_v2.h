// Second file-system layout of the DataStore applet: every file and folder is a
// record with object identifier 4444, and the tree lives in one directory
// object (identifier 3333, 2048 bytes): slot i names the parent folder's
// handle and the FID of the record whose handle is i.
#ifndef LIBAPDU_FS_DATASTORE_V2_H
#define LIBAPDU_FS_DATASTORE_V2_H

#include "fs_datastore.h"

namespace libapdu LIBAPDU_API {

class CFSDataStore_v2 : public CFSDataStoreRecords {
public:
    typedef CFSDataStoreRecords::CFileInfoEx CFileInfoEx;
    typedef CFSDataStoreRecords::Record tagRecordInfo;

    enum : unsigned short { kDirectoryObject = 0x3333, kFileObject = 0x4444, kDirectorySize = 0x0800 };
    enum : size_t { kSlots = 512 };

    // A folder whose handle is the key.
    struct CFindFldrPredicate {
        unsigned short key;
        bool operator()(const CFileInfoEx& e) const { return e.handle == key && e.info.size == 0; }
    };
    // An entry whose path is the key.
    struct CFindPathPredicate {
        const ::libapdu::path& key;
        bool operator()(const CFileInfoEx& e) const { return e.path == key; }
    };

    explicit CFSDataStore_v2(IApplet* applet);
    ~CFSDataStore_v2() override;

    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;

    void init() override;
    // Makes the record of `entry`, its slot and the directory object again.
    void newFile(CFileInfoEx& entry, unsigned short parent);
    // Writes the directory image to the card.
    void update_fs();

    const TBytes& image() const { return m_image; }
    unsigned short directoryHandle() const { return m_directory; }

private:
    void setSlot(unsigned short handle, unsigned short parent, unsigned short fid);
    void movedHandle(unsigned short oldHandle, unsigned short newHandle) override;

    unsigned short m_directory = kNoHandle;
    TBytes m_image;
};

}  // namespace libapdu

#endif
