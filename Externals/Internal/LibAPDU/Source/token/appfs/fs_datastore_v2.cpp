#include "fs_datastore_v2.h"

#include <algorithm>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_datastore_v2");

const unsigned short kPiece = 200;
const size_t kSlotSize = 4;
const size_t kWriteReply = 258;
const unsigned short kSwNoMemory = 0x6400;
}  // namespace

CFSDataStore_v2::CFSDataStore_v2(IApplet* applet)
    : CFSDataStoreRecords(applet, kSource), m_image(kDirectorySize, 0) {}

CFSDataStore_v2::~CFSDataStore_v2() = default;

void CFSDataStore_v2::setSlot(unsigned short handle, unsigned short parent, unsigned short fid) {
    // Only handles below 0200 have a slot; callers keep wider ones out.
    if (handle >= kSlots) return;
    unsigned char* s = m_image.data() + handle * kSlotSize;
    s[0] = static_cast<unsigned char>(parent & 0xFF);
    s[1] = static_cast<unsigned char>(parent >> 8);
    s[2] = static_cast<unsigned char>(fid & 0xFF);
    s[3] = static_cast<unsigned char>(fid >> 8);
}

void CFSDataStore_v2::init() {
    const std::vector<tagRecordInfo> records = enumerate();
    const unsigned char access = userAccess();

    // Built aside: a failed read leaves the cache and the image as they were.
    unsigned short directory = kNoHandle;
    TBytes image(kDirectorySize, 0);
    auto dir = std::find_if(records.begin(), records.end(),
                            [](const tagRecordInfo& r) { return r.objectId == kDirectoryObject; });
    std::vector<CFileInfoEx> cache;
    if (dir != records.end()) {
        directory = dir->handle;
        if (dir->size != kDirectorySize) raise(kSwBadAnswer, __LINE__);
        for (size_t at = 0; at < kDirectorySize; at += kPiece) {
            const unsigned short n = static_cast<unsigned short>(std::min<size_t>(kPiece, kDirectorySize - at));
            const TBytes piece = readRecord(directory, static_cast<unsigned short>(at), n);
            if (piece.size() != n) raise(kSwBadAnswer, __LINE__);
            std::copy(piece.begin(), piece.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
        }

        CByteReader slots(image);
        for (unsigned short i = 0; i < kSlots; ++i) {
            const unsigned short parent = slots.le16();
            const unsigned short fid = slots.le16();
            if (parent == 0 && fid == 0) continue;
            auto rec = std::find_if(records.begin(), records.end(), [i](const tagRecordInfo& r) { return r.handle == i; });
            if (rec == records.end()) continue;
            CFileInfoEx e = EntryOf(*rec, fid, access);
            e.parentHandle = parent;
            e.objectId = kFileObject;
            cache.push_back(e);
        }
    }

    if (cache.empty()) {
        CFileInfoEx root;
        root.info = CFileInfo(2, 0, 0x00, access);
        root.path = {kRootFID};
        root.FID = kRootFID;
        root.parentHandle = kRootFID;
        root.handle = kNoHandle;
        root.objectId = kDirectoryObject;
        cache.push_back(root);
    } else {
        auto root = std::find_if(cache.begin(), cache.end(), [](const CFileInfoEx& e) { return e.FID == kRootFID; });
        if (root != cache.end()) {
            root->path = {kRootFID};
            root->parentHandle = root->handle;
        }
        // Each walk climbs at most as many folders as there are entries: a ring
        // of folders that never reaches the root would climb for ever. Such an
        // entry keeps its empty path and goes below.
        for (CFileInfoEx& e : cache) {
            if (root != cache.end() && &e == &*root) continue;
            path above;
            auto q = std::find_if(cache.begin(), cache.end(), CFindFldrPredicate{e.parentHandle});
            for (size_t steps = 0; q != cache.end() && steps <= cache.size(); ++steps) {
                if (!q->path.empty() && q->path.front() == kRootFID) {
                    e.path = q->path;
                    e.path.insert(e.path.end(), above.begin(), above.end());
                    e.path.push_back(e.FID);
                    break;
                }
                above.insert(above.begin(), q->FID);
                q = std::find_if(cache.begin(), cache.end(), CFindFldrPredicate{q->parentHandle});
            }
        }
        const path none;
        cache.erase(std::remove_if(cache.begin(), cache.end(), CFindPathPredicate{none}), cache.end());
    }

    m_directory = directory;
    m_image.swap(image);
    m_cache.swap(cache);
    m_initialised = true;
}

void CFSDataStore_v2::update_fs() {
    createRecord(kDirectorySize);
    for (size_t at = 0; at < kDirectorySize; at += kPiece) {
        const size_t n = std::min<size_t>(kPiece, kDirectorySize - at);
        const auto from = m_image.begin() + static_cast<std::ptrdiff_t>(at);
        writeRecord(static_cast<unsigned short>(at), TBytes(from, from + static_cast<std::ptrdiff_t>(n)), kWriteReply);
    }
    if (m_directory == kNoHandle)
        m_directory = commitNew(0x00, kDirectoryObject);
    else
        commitInPlace(m_directory);
}

void CFSDataStore_v2::newFile(CFileInfoEx& entry, unsigned short) {
    entry.objectId = kFileObject;
    createRecord(entry.info.size);
    entry.handle = commitNew(FlagOf(entry.info), kFileObject);
    // A handle past the last slot cannot be written into the directory object.
    if (entry.handle >= kSlots) {
        try {
            deleteRecord(entry.handle);
        } catch (const IException&) {
            // the refusal below is what the caller must learn
        }
        entry.handle = kNoHandle;
        raise(kSwNoMemory, __LINE__);
    }
    setSlot(entry.handle, entry.parentHandle, entry.FID);
    try {
        update_fs();
    } catch (...) {
        // A file reported as failed must not turn up on the next enumeration.
        setSlot(entry.handle, 0, 0);
        try {
            deleteRecord(entry.handle);
        } catch (const IException&) {
            // best effort: the first error is the one that goes on
        }
        entry.handle = kNoHandle;
        throw;
    }
}

void CFSDataStore_v2::create(unsigned short fid, CFileInfo info) {
    const unsigned short size = checkCreate(fid, info);

    if (m_path == path{kRootFID} && m_handle == kNoHandle) {
        if (CFileInfoEx* root = entryAt(path{kRootFID})) {
            if (root->handle == kNoHandle) {
                root->parentHandle = kRootFID;
                newFile(*root, kRootFID);
            }
            setCurrent(*root);
        }
    }
    checkAbsent(fid);

    CFileInfoEx entry;
    entry.info = info;
    entry.info.size = size;
    entry.path = m_path;
    entry.path.push_back(fid);
    entry.FID = fid;
    entry.parentHandle = m_handle;
    entry.objectId = 0;
    newFile(entry, m_fid);
    m_cache.push_back(entry);
}

void CFSDataStore_v2::remove() {
    removeRecord();
    const unsigned short handle = m_handle;
    auto it = std::find_if(m_cache.begin(), m_cache.end(), CFindPathPredicate{m_path});
    const bool cached = it != m_cache.end();
    if (cached) m_cache.erase(it);
    // Nothing stays selected: a create must not make a child of what is gone.
    clearCurrent();
    // A handle past the last slot never had one to clear.
    if (cached && handle < kSlots) {
        setSlot(handle, 0, 0);
        update_fs();
    }
}

void CFSDataStore_v2::movedHandle(unsigned short oldHandle, unsigned short newHandle) {
    CFileInfoEx* e = entryAt(m_path);
    setSlot(oldHandle, 0, 0);
    if (newHandle >= kSlots) {
        try {
            deleteRecord(newHandle);
        } catch (const IException&) {
            // the refusal below is what the caller must learn
        }
        if (e) eraseEntry(m_path);
        clearCurrent();
        try {
            update_fs();
        } catch (const IException&) {
            // the old slot is cleared in the image; the next change writes it
        }
        raise(kSwNoMemory, __LINE__);
    }
    setSlot(newHandle, m_parentHandle, m_fid);
    if (e) e->handle = newHandle;
    update_fs();
}

}  // namespace libapdu
