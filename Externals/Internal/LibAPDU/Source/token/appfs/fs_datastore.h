// File systems of the DataStore applet. The applet keeps a flat store of
// records (card-chosen handle, object identifier, protection flag, size); both
// layouts present it as a tree of folders and files from 3F00, read once on the
// first select and kept in a directory cache. CFSDataStoreRecords holds what the
// two layouts share: the record commands, the current selection and the
// whole-record rewrite; CFSDataStore keeps the tree in the object identifiers.
#ifndef LIBAPDU_FS_DATASTORE_H
#define LIBAPDU_FS_DATASTORE_H

#include <map>

#include "fs_common.h"

namespace libapdu LIBAPDU_API {

class CFSDataStoreRecords : public CFSCommon {
public:
    // One cached file or folder. parentHandle is used by the second layout only.
    struct CFileInfoEx {
        CFileInfo info;
        ::libapdu::path path;
        unsigned short FID = 0;
        unsigned short parentHandle = 0;
        unsigned short handle = 0xFFFF;
        unsigned short objectId = 0;
    };
    // One enumeration entry: 7 bytes on the wire.
    struct Record {
        unsigned short handle;
        unsigned short objectId;
        unsigned char flag;
        unsigned short size;
    };

    CFSDataStoreRecords(IApplet* applet, const wchar_t* source);
    ~CFSDataStoreRecords() override;

    void select(path p) override;
    CFileInfo info() override;
    std::vector<unsigned short> list(unsigned char type) override;
    void write(const TBytes& data, unsigned short offset) override;
    void read_bit(TBytes& piece, unsigned short offset) override;
    void write_bit(const TBytes& piece, unsigned short offset) override;
    unsigned short bit_size() override;

    // Reads the store into the directory cache.
    virtual void init() = 0;

    const std::vector<CFileInfoEx>& cache() const { return m_cache; }

protected:
    enum : unsigned short { kNoHandle = 0xFFFF, kRootFID = 0x3F00, kMaxRecord = 0x4000 };

    [[noreturn]] void raise(unsigned short code, unsigned long line) const;

    // The record commands. Each raises the answer's status word through the
    // applet's error facet.
    std::vector<Record> enumerate();
    void createRecord(unsigned short size);
    // Sends create-record and hands back its status word unjudged.
    unsigned short tryCreateRecord(unsigned short size);
    void writeRecord(unsigned short offset, const TBytes& data, size_t replySize = 2);
    unsigned short commitNew(unsigned char flag, unsigned short objectId);
    void commitInPlace(unsigned short handle);
    TBytes readRecord(unsigned short handle, unsigned short offset, unsigned short length);
    void deleteRecord(unsigned short handle);

    unsigned char userAccess();
    static unsigned char FlagOf(const CFileInfo& info) { return info.readAccess ? 0x01 : 0x00; }
    static CFileInfoEx EntryOf(const Record& r, unsigned short fid, unsigned char userAccess);

    // create steps 1 to 4: checks, and the size the record gets.
    unsigned short checkCreate(unsigned short fid, const CFileInfo& info);
    // create step 6: raises 6A89 when the child exists (leaving it selected).
    void checkAbsent(unsigned short fid);

    void setCurrent(const CFileInfoEx& e);
    void clearCurrent();
    CFileInfoEx* entryAt(const path& p);
    void eraseEntry(const path& p);

    // remove steps 1 to 3.
    void removeRecord();
    // The record being built, filled with `image` in pieces of bit_size() bytes.
    void fillRecord(const TBytes& image);

    // The rewritten record of the current file got a new handle (the store had
    // no room for a copy beside the old one); the layout follows it.
    virtual void movedHandle(unsigned short oldHandle, unsigned short newHandle);

    const wchar_t* m_source;
    bool m_initialised = false;
    std::vector<CFileInfoEx> m_cache;
    CFileInfo m_info;
    ::libapdu::path m_path;
    unsigned short m_fid = 0;
    unsigned short m_parentHandle = 0;
    unsigned short m_handle = kNoHandle;
    unsigned short m_objectId = 0;
};

class CFSDataStore : public CFSDataStoreRecords {
public:
    typedef CFSDataStoreRecords::CFileInfoEx CFileInfoEx;

    explicit CFSDataStore(IApplet* applet);
    ~CFSDataStore() override;

    void create(unsigned short fid, CFileInfo info) override;
    void remove() override;

    void init() override;
    // Makes the record of `entry` under the folder whose handle is `parent`.
    void newFile(CFileInfoEx& entry, unsigned short parent);

    // The one-byte key a FID is stored under; false when the table has none.
    bool keyOf(unsigned short fid, unsigned char& key) const;
    const std::map<unsigned short, unsigned short>& keys() const { return m_keys; }

private:
    std::map<unsigned short, unsigned short> m_keys;
};

}  // namespace libapdu

#endif
