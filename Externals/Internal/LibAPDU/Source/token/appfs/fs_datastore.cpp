#include "fs_datastore.h"

#include <algorithm>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_datastore");

const unsigned char kCla = 0x80, kIns = 0x20;
const unsigned char kOpCreate = 0x10, kOpDelete = 0x20, kOpRead = 0x30, kOpWrite = 0x40, kOpCommit = 0x50,
                    kOpEnumerate = 0x60;
const size_t kBigReply = 258, kCommitReply = 256, kSmallReply = 2;
const size_t kEntrySize = 7;
const size_t kMaxLc = 0xFF;
const unsigned short kPiece = 200;
const unsigned short kRootObject = 0x3F3F;

const unsigned short kSwNoRoom = 0x6F00;  // create-record: no room for a copy beside the record
const unsigned short kSwNotFile = 0x6283, kSwOutOfFile = 0x6A84, kSwNoMemory = 0x6400, kSwExists = 0x6A89;

TBytes Command(unsigned char op, const TBytes& data) {
    TBytes c;
    c.reserve(5 + data.size() + 1);
    c.insert(c.end(), {kCla, kIns, op, 0x00, static_cast<unsigned char>(data.size())});
    c.insert(c.end(), data.begin(), data.end());
    c.push_back(0x00);
    return c;
}

TBytes Words(std::initializer_list<unsigned short> words) {
    TBytes out;
    for (unsigned short w : words) PutBE16(out, w);
    return out;
}

}  // namespace

// ---------------------------------------------------------------- shared record store

CFSDataStoreRecords::CFSDataStoreRecords(IApplet* applet, const wchar_t* source)
    : CFSCommon(applet), m_source(source) {}

CFSDataStoreRecords::~CFSDataStoreRecords() = default;

void CFSDataStoreRecords::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, m_source, line); }

unsigned short CFSDataStoreRecords::bit_size() { return kPiece; }

CFileInfo CFSDataStoreRecords::info() { return m_info; }

unsigned char CFSDataStoreRecords::userAccess() {
    return static_cast<unsigned char>(PinExtractAccess(applet->pin()->pathUser()) & 0xFF);
}

std::vector<CFSDataStoreRecords::Record> CFSDataStoreRecords::enumerate() {
    std::vector<Record> out;
    unsigned short start = 0;
    for (;;) {
        TBytes reply(kBigReply, 0);
        applet->sender()->send(Command(kOpEnumerate, Words({start})), reply);
        checkSW(reply);
        const size_t n = ResponseDataSize(reply);
        if (n % kEntrySize != 0) raise(kSwBadAnswer, __LINE__);
        if (n == 0) break;
        CByteReader r(reply.data(), n);
        while (!r.empty()) {
            Record rec;
            rec.handle = r.be16();
            rec.objectId = r.be16();
            rec.flag = r.u8();
            rec.size = r.be16();
            out.push_back(rec);
        }
        const unsigned short last = out.back().handle;
        // Each page must move on from where it was asked to start: a card that
        // answers from the beginning again would be asked for ever.
        if (last < start) raise(kSwBadAnswer, __LINE__);
        if (last == 0xFFFF) break;  // no handle lies beyond it
        start = static_cast<unsigned short>(last + 1);
    }
    return out;
}

unsigned short CFSDataStoreRecords::tryCreateRecord(unsigned short size) {
    TBytes reply(kSmallReply, 0);
    applet->sender()->send(Command(kOpCreate, Words({size})), reply);
    return applet->error()->extractSW(reply);
}

void CFSDataStoreRecords::createRecord(unsigned short size) { applet->error()->raiseSW(tryCreateRecord(size)); }

void CFSDataStoreRecords::writeRecord(unsigned short offset, const TBytes& data, size_t replySize) {
    // Lc is one byte and counts the offset and length too.
    if (data.size() + 4 > kMaxLc) raise(kSwBadArgument, __LINE__);
    // The command in one allocation.
    TBytes command;
    command.reserve(5 + 4 + data.size() + 1);
    command.insert(command.end(), {kCla, kIns, kOpWrite, 0x00, static_cast<unsigned char>(data.size() + 4)});
    PutBE16(command, offset);
    PutBE16(command, static_cast<unsigned short>(data.size()));
    command.insert(command.end(), data.begin(), data.end());
    command.push_back(0x00);
    TBytes reply(replySize, 0);
    applet->sender()->send(command, reply);
    checkSW(reply);
}

unsigned short CFSDataStoreRecords::commitNew(unsigned char flag, unsigned short objectId) {
    TBytes body = {0x01, flag};
    PutBE16(body, objectId);
    TBytes reply(kCommitReply, 0);
    applet->sender()->send(Command(kOpCommit, body), reply);
    checkSW(reply);
    // The new handle: without it the record could never be reached again.
    if (ResponseDataSize(reply) < 2) raise(kSwBadAnswer, __LINE__);
    return CByteReader(reply).be16();
}

void CFSDataStoreRecords::commitInPlace(unsigned short handle) {
    TBytes body = {0x00};
    PutBE16(body, handle);
    TBytes reply(kCommitReply, 0);
    applet->sender()->send(Command(kOpCommit, body), reply);
    checkSW(reply);
}

TBytes CFSDataStoreRecords::readRecord(unsigned short handle, unsigned short offset, unsigned short length) {
    TBytes reply(kBigReply, 0);
    applet->sender()->send(Command(kOpRead, Words({handle, offset, length})), reply);
    checkSW(reply);
    const size_t n = ResponseDataSize(reply);
    return CByteReader(reply).take(n);
}

void CFSDataStoreRecords::deleteRecord(unsigned short handle) {
    TBytes reply(kBigReply, 0);
    applet->sender()->send(Command(kOpDelete, Words({handle})), reply);
    checkSW(reply);
}

CFSDataStoreRecords::CFileInfoEx CFSDataStoreRecords::EntryOf(const Record& r, unsigned short fid,
                                                              unsigned char userAccess) {
    CFileInfoEx e;
    e.info = CFileInfo(r.size == 0 ? 2 : 1, r.size, r.flag ? userAccess : 0x00, userAccess);
    e.FID = fid;
    e.handle = r.handle;
    e.objectId = r.objectId;
    return e;
}

void CFSDataStoreRecords::setCurrent(const CFileInfoEx& e) {
    m_info = e.info;
    m_path = e.path;
    m_fid = e.FID;
    m_parentHandle = e.parentHandle;
    m_handle = e.handle;
    m_objectId = e.objectId;
}

void CFSDataStoreRecords::clearCurrent() {
    m_info = CFileInfo();
    m_path.clear();
    m_fid = 0;
    m_parentHandle = 0;
    m_handle = kNoHandle;
    m_objectId = 0;
}

CFSDataStoreRecords::CFileInfoEx* CFSDataStoreRecords::entryAt(const path& p) {
    for (CFileInfoEx& e : m_cache)
        if (e.path == p) return &e;
    return nullptr;
}

void CFSDataStoreRecords::eraseEntry(const path& p) {
    auto it = std::find_if(m_cache.begin(), m_cache.end(), [&](const CFileInfoEx& e) { return e.path == p; });
    if (it != m_cache.end()) m_cache.erase(it);
}

void CFSDataStoreRecords::select(path p) {
    if (!m_initialised) init();
    if (p.empty() || p.front() != kRootFID) p.insert(p.begin(), kRootFID);
    const CFileInfoEx* e = entryAt(p);
    if (!e) raise(kSwNotFound, __LINE__);
    setCurrent(*e);
}

std::vector<unsigned short> CFSDataStoreRecords::list(unsigned char type) {
    if (m_info.type != 2) raise(kSwNotFile, __LINE__);
    if (type != 1 && type != 2) raise(kErrNotSupported, __LINE__);
    std::vector<unsigned short> out;
    for (const CFileInfoEx& e : m_cache) {
        if (e.path.size() != m_path.size() + 1 || e.info.type != type) continue;
        if (std::equal(m_path.begin(), m_path.end(), e.path.begin())) out.push_back(e.path.back());
    }
    return out;
}

unsigned short CFSDataStoreRecords::checkCreate(unsigned short fid, const CFileInfo& info) {
    CheckCreateFID(fid);
    if (m_info.type != 2) raise(kSwNotFile, __LINE__);
    if (info.size > kMaxRecord) raise(kSwNoMemory, __LINE__);
    if (info.size == 0 || info.type != 1) return 0;  // folders and empty files get a record of size 0
    if (applet->info()->memoryFree() < info.size) raise(kSwNoMemory, __LINE__);
    return info.size;
}

void CFSDataStoreRecords::checkAbsent(unsigned short fid) {
    path child = m_path;
    child.push_back(fid);
    try {
        select(child);
    } catch (const IException& e) {
        if (e.code() == kSwExists) throw;
        return;  // absent, as it should be
    }
    raise(kSwExists, __LINE__);
}

void CFSDataStoreRecords::removeRecord() {
    if (m_path.empty()) raise(kSwNotFile, __LINE__);  // nothing selected
    if (m_path.size() == 1) raise(kSwRefused, __LINE__);
    if (m_info.type == 2 && (!list(1).empty() || !list(2).empty())) raise(kSwRefused, __LINE__);
    deleteRecord(m_handle);
}

void CFSDataStoreRecords::read_bit(TBytes& piece, unsigned short offset) {
    if (m_info.type != 1 || m_fid == 0) raise(kSwNotFile, __LINE__);
    const size_t n = piece.size();
    if (offset > m_info.size || offset + n > m_info.size) raise(kSwBadPieceSize, __LINE__);
    if (n == 0) return;
    const TBytes data = readRecord(m_handle, offset, static_cast<unsigned short>(n));
    if (data.size() < n) raise(kSwBadPieceSize, __LINE__);
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n), piece.begin());
}

void CFSDataStoreRecords::write_bit(const TBytes& piece, unsigned short offset) {
    if (m_info.type != 1 || m_fid == 0) raise(kSwNotFile, __LINE__);
    const size_t n = piece.size();
    if (offset > m_info.size || offset + n > m_info.size) raise(kSwOutOfFile, __LINE__);
    if (n == 0) return;
    writeRecord(offset, piece);
}

void CFSDataStoreRecords::write(const TBytes& data, unsigned short offset) {
    if (m_info.type != 1 || m_fid == 0) raise(kSwNotFile, __LINE__);
    const size_t size = m_info.size;
    if (offset > size || offset + data.size() > size) raise(kSwOutOfFile, __LINE__);
    if (data.empty()) return;

    // The card rewrites a record whole: build its new content first.
    TBytes image(size, 0);
    if (data.size() != size) read(image, 0);
    std::copy(data.begin(), data.end(), image.begin() + offset);

    const unsigned short sw = tryCreateRecord(m_info.size);
    const bool fresh = sw == kSwNoRoom;
    if (!fresh) applet->error()->raiseSW(sw);

    unsigned short handle = m_handle;
    if (fresh) {
        // No room for a copy: the old record goes first and the file comes back
        // under a handle of the card's choosing.
        deleteRecord(m_handle);
        try {
            createRecord(m_info.size);
            fillRecord(image);
            handle = commitNew(FlagOf(m_info), m_objectId);
        } catch (...) {
            // The file is gone from the card: so it goes from the cache, and a
            // later store creates it again.
            eraseEntry(m_path);
            clearCurrent();
            throw;
        }
        const unsigned short old = m_handle;
        m_handle = handle;
        movedHandle(old, handle);
        return;
    }
    fillRecord(image);
    commitInPlace(m_handle);
}

void CFSDataStoreRecords::fillRecord(const TBytes& image) {
    const size_t n = bit_size();
    TBytes piece;
    for (size_t at = 0; at < image.size(); at += n) {
        const auto from = image.begin() + static_cast<std::ptrdiff_t>(at);
        piece.assign(from, from + static_cast<std::ptrdiff_t>(std::min(n, image.size() - at)));
        write_bit(piece, static_cast<unsigned short>(at));
    }
}

void CFSDataStoreRecords::movedHandle(unsigned short, unsigned short newHandle) {
    if (CFileInfoEx* e = entryAt(m_path)) e->handle = newHandle;
}

// ---------------------------------------------------------------- first layout

CFSDataStore::CFSDataStore(IApplet* applet) : CFSDataStoreRecords(applet, kSource) {
    struct Run {
        unsigned short key, fid, count;
    };
    static const Run kRuns[] = {
        {0x3F, 0x3F00, 1}, {0xEE, 0xE00E, 1}, {0x0B, 0x0B00, 1}, {0x0C, 0x0C00, 1}, {0x1C, 0x0C01, 1},
        {0xC0, 0xCC00, 10}, {0x10, 0xCC0A, 6}, {0xCA, 0xCC10, 6}, {0x16, 0xCC16, 6}, {0xBC, 0xCC1C, 1},
        {0x1D, 0xCC1D, 8}, {0xF0, 0xF000, 8}, {0xDE, 0xDE01, 1}, {0xDF, 0xDE02, 1},
        {0xA1, 0x7210, 1}, {0xA2, 0xBAD0, 1}, {0xA3, 0xE1F8, 1}, {0xA4, 0x0043, 1}, {0xA5, 0x1213, 1},
        {0xA6, 0x7000, 1}, {0xA7, 0x130A, 1}, {0xA8, 0x1805, 1}, {0xA9, 0x0001, 1}, {0xAA, 0xA002, 1},
        {0xAB, 0x1212, 1}, {0xAC, 0x5555, 1}, {0xAD, 0x6666, 1}, {0xAE, 0x7777, 1}, {0xAF, 0x0001, 1},
    };
    for (const Run& r : kRuns)
        for (unsigned short i = 0; i < r.count; ++i)
            m_keys[static_cast<unsigned short>(r.key + i)] = static_cast<unsigned short>(r.fid + i);
}

CFSDataStore::~CFSDataStore() = default;

bool CFSDataStore::keyOf(unsigned short fid, unsigned char& key) const {
    for (const auto& k : m_keys) {
        if (k.second == fid) {
            key = static_cast<unsigned char>(k.first);
            return true;
        }
    }
    return false;
}

void CFSDataStore::init() {
    const std::vector<Record> records = enumerate();
    const unsigned char access = userAccess();

    // Built aside: a failed enumeration leaves the cache as it was.
    std::vector<CFileInfoEx> cache;
    for (const Record& r : records) {
        auto key = m_keys.find(r.objectId & 0xFF);
        if (key != m_keys.end()) cache.push_back(EntryOf(r, key->second, access));
    }

    // Paths. A record may come before its folder in the store, and a damaged
    // store may link folders in a ring: each entry's chain of parents is walked
    // to an entry whose path is known, or to no parent at all, whichever order
    // the records came in; a ring ends the walk like a missing parent.
    enum State : unsigned char { kOpen, kWalking, kDone };
    std::vector<State> state(cache.size(), kOpen);
    std::map<unsigned short, size_t> byHandle;  // the first entry of each handle
    bool rootSeen = false;
    for (size_t i = 0; i < cache.size(); ++i) {
        byHandle.emplace(cache[i].handle, i);
        if (cache[i].objectId == kRootObject) {
            // The first root record is the root; any other keeps an empty path.
            if (!rootSeen) cache[i].path = {kRootFID};
            rootSeen = true;
            state[i] = kDone;
        }
    }
    for (size_t i = 0; i < cache.size(); ++i) {
        if (state[i] == kDone) continue;
        std::vector<size_t> chain = {i};
        state[i] = kWalking;
        path base;
        for (;;) {
            auto parent = byHandle.find(cache[chain.back()].objectId >> 8);
            if (parent == byHandle.end()) break;
            const size_t j = parent->second;
            if (state[j] == kDone) {
                base = cache[j].path;
                break;
            }
            if (state[j] == kWalking) break;  // a ring
            state[j] = kWalking;
            chain.push_back(j);
        }
        for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
            base.push_back(cache[*k].FID);
            cache[*k].path = base;
            state[*k] = kDone;
        }
    }

    if (cache.empty()) {
        CFileInfoEx root;
        root.info = CFileInfo(2, 0, 0x00, access);
        root.path = {kRootFID};
        root.FID = kRootFID;
        root.handle = kNoHandle;
        root.objectId = 0xFFFF;
        cache.push_back(root);
    }
    m_cache.swap(cache);
    m_initialised = true;
}

void CFSDataStore::newFile(CFileInfoEx& entry, unsigned short parent) {
    unsigned char key = 0;
    if (!keyOf(entry.FID, key)) raise(kSwBadArgument, __LINE__);
    entry.objectId = static_cast<unsigned short>(((parent & 0xFF) << 8) | key);
    createRecord(entry.info.size);
    entry.handle = commitNew(FlagOf(entry.info), entry.objectId);
}

void CFSDataStore::create(unsigned short fid, CFileInfo info) {
    const unsigned short size = checkCreate(fid, info);

    if (m_path == path{kRootFID} && m_handle == kNoHandle) {
        if (CFileInfoEx* root = entryAt(path{kRootFID})) {
            if (root->handle == kNoHandle) newFile(*root, kRootObject);
            setCurrent(*root);
        }
    }
    // A child names its folder by the low byte of the folder's handle, and is
    // found again by comparing that byte with whole handles: under a folder
    // whose handle is wider it could never be found.
    if (m_handle > 0x00FF) raise(kSwNoMemory, __LINE__);
    checkAbsent(fid);

    CFileInfoEx entry;
    entry.info = info;
    entry.info.size = size;
    entry.path = m_path;
    entry.path.push_back(fid);
    entry.FID = fid;
    newFile(entry, m_handle);
    m_cache.push_back(entry);
}

void CFSDataStore::remove() {
    removeRecord();
    eraseEntry(m_path);
    // Nothing stays selected: a create must not make a child of what is gone.
    clearCurrent();
}

}  // namespace libapdu
