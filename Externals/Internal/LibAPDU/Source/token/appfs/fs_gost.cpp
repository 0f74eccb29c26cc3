#include "fs_gost.h"

#include <algorithm>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_gost");

const unsigned short kRoot = 0x3F00, kContainerRoot = 0xE00E;

// Reply buffers: the contents attribute of the largest file, and a whole
// attribute list, fit in one answer.
const size_t kShortReply = 258, kGetAtrReply = 16386, kListAtrReply = 18434, kSetAtrReply = 2;

// Attribute identifiers travel low byte first inside the commands.
void PutLE32(TBytes& out, unsigned int v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

TBytes EncodePath(const path& p) {
    TBytes out;
    out.reserve(p.size() * 2);
    for (unsigned short id : p) {
        out.push_back(static_cast<unsigned char>(id & 0xFF));
        out.push_back(static_cast<unsigned char>(id >> 8));
    }
    return out;
}

bool StartsWith(const path& p, const path& prefix) {
    return p.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), p.begin());
}
}  // namespace

CFSGost::CFSGost(IApplet* owner) : CFSCommon(owner) {}

CFSGost::~CFSGost() = default;

// ---------------------------------------------------------------- object-store commands

unsigned short CFSGost::newFile() {
    const TBytes reply = exchange({0x80, 0x12, 0x20, 0x00, 0x01, kFileKind, 0x00}, kShortReply);
    // Without two data bytes the status word itself would be taken for the handle.
    if (ResponseDataSize(reply) < 2) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).be16();
}

void CFSGost::removeFile(unsigned short handle) {
    TBytes command = {0x80, 0x12, 0x30, 0x00, 0x02};
    PutBE16(command, handle);
    command.push_back(0x00);
    exchange(command, kShortReply);
}

std::vector<unsigned short> CFSGost::listFile() {
    const TBytes reply = exchange({0x80, 0x12, 0x10, 0x00, 0x01, 0x01}, kShortReply);
    CByteReader r = AnswerData(reply);
    // A leading byte and the count, at least.
    if (r.remaining() < 3) LIBAPDU_RAISE(kSwBadAnswer);
    r.skip(1);
    const size_t count = r.be16();
    if (r.remaining() != count * 3) LIBAPDU_RAISE(kSwBadAnswer);
    std::vector<unsigned short> handles;
    for (size_t i = 0; i < count; ++i) {
        const unsigned short h = r.be16();
        if (r.u8() == kFileKind) handles.push_back(h);
    }
    return handles;
}

TBytes CFSGost::getAtr(unsigned short handle, unsigned int id) {
    TBytes command = {0x80, 0x13, 0x20, 0x00, 0x06};
    PutBE16(command, handle);
    PutLE32(command, id);
    command.push_back(0x00);
    TBytes reply = exchange(command, kGetAtrReply);
    CByteReader r = AnswerData(reply);
    if (r.remaining() < 8) LIBAPDU_RAISE(kSwBadAnswer);
    r.skip(8);
    return r.take(r.remaining());
}

void CFSGost::setAtr(unsigned short handle, unsigned int id, TBytes value) {
    if (value.empty()) value.push_back(0x00);
    const size_t count = 8 + value.size();
    // Both the value length and the extended Lc are 16 bits wide.
    if (count > 0xFFFF) LIBAPDU_RAISE(kSwBadArgument);
    TBytes command = {0x80, 0x13, 0x30, 0x00};
    command.reserve(7 + count + 1);
    if (count <= 0xFF) {
        command.push_back(static_cast<unsigned char>(count));
    } else {
        command.push_back(0x00);
        PutBE16(command, static_cast<unsigned short>(count));
    }
    PutBE16(command, handle);
    PutLE32(command, id);
    PutBE16(command, static_cast<unsigned short>(value.size()));
    command.insert(command.end(), value.begin(), value.end());
    command.push_back(0x00);
    exchange(command, kSetAtrReply);
}

std::vector<CFSGost::CAtribute> CFSGost::listAtr(unsigned short handle) {
    TBytes command = {0x80, 0x13, 0x40, 0x00, 0x02};
    PutBE16(command, handle);
    command.push_back(0x00);
    TBytes reply = exchange(command, kListAtrReply);
    CByteReader r = AnswerData(reply);
    std::vector<CAtribute> out;
    while (!r.empty()) {
        CAtribute a;
        a.id = r.be32();
        const size_t len = r.be16();
        a.value = r.take(len);
        out.push_back(std::move(a));
    }
    return out;
}

// ---------------------------------------------------------------- the directory cache

unsigned char CFSGost::userAccess() {
    return static_cast<unsigned char>(PinExtractAccess(applet->pin()->pathUser()) & 0xFF);
}

void CFSGost::init() {
    const unsigned char access = userAccess();
    std::vector<path> folders = {{kRoot}, {kRoot, kContainerRoot}};
    std::vector<CFileInfoEx> cache;

    for (unsigned short h : listFile()) {
        CFileInfoEx e;
        e.info = CFileInfo(1, 0, 0, access);
        e.handle = h;
        std::vector<CAtribute> atrs = listAtr(h);
        for (const CAtribute& a : atrs) {
            if (a.value.empty()) continue;
            if (a.id == kAtrPath) {
                const size_t n = a.value.size() / 2;  // an odd last byte is dropped
                if (n == 0) continue;
                CByteReader r(a.value);
                e.p.clear();
                for (size_t i = 0; i < n; ++i) e.p.push_back(r.le16());
                for (size_t len = e.p.size() - 1; len >= 1; --len) {
                    const path ancestor(e.p.begin(), e.p.begin() + static_cast<std::ptrdiff_t>(len));
                    if (std::find(folders.begin(), folders.end(), ancestor) != folders.end()) break;
                    folders.push_back(ancestor);
                }
            } else if (a.id == kAtrSize) {
                unsigned int size = 0;
                for (unsigned char b : a.value) size = (size << 8) | b;
                e.info.size = static_cast<unsigned short>(size & 0xFFFF);
            } else if (a.id == kAtrDataHandle) {
                // Without two bytes there is no handle to read: the store is damaged.
                if (a.value.size() < 2) LIBAPDU_RAISE(kSwBadAnswer);
                e.info.readAccess = access;
                e.dataHandle = CByteReader(a.value).le16();
            }
        }
        if (!e.p.empty()) cache.push_back(std::move(e));
    }
    for (const path& f : folders) {
        CFileInfoEx e;
        e.info = CFileInfo(2, 0, 0, access);
        e.p = f;
        cache.push_back(std::move(e));
    }
    m_cache.swap(cache);
}

std::vector<CFSGost::CFileInfoEx>::iterator CFSGost::findEntry(const path& p) {
    return std::find_if(m_cache.begin(), m_cache.end(), [&](const CFileInfoEx& e) { return e.p == p; });
}

// ---------------------------------------------------------------- file-system operations

void CFSGost::select(path p) {
    if (m_cache.empty()) init();
    if (p.empty() || p.front() != kRoot) p.insert(p.begin(), kRoot);
    const auto it = findEntry(p);
    if (it == m_cache.end()) LIBAPDU_RAISE(kSwNotFound);
    m_info = it->info;
    m_path = it->p;
    m_handle = it->handle;
    m_dataHandle = it->dataHandle;
}

CFileInfo CFSGost::info() { return m_info; }

std::vector<unsigned short> CFSGost::list(unsigned char type) {
    if (m_info.type != 2) LIBAPDU_RAISE(0x6283);
    if (type != 1 && type != 2) LIBAPDU_RAISE(0xFACE);
    std::vector<unsigned short> out;
    for (const CFileInfoEx& e : m_cache)
        if (e.info.type == type && e.p.size() == m_path.size() + 1 && StartsWith(e.p, m_path)) out.push_back(e.p.back());
    return out;
}

void CFSGost::create(unsigned short fid, CFileInfo info) {
    CheckCreateFID(fid);
    if (m_info.type != 2) LIBAPDU_RAISE(0x6283);
    if (info.size > kMaxFileSize) LIBAPDU_RAISE(0x6400);
    const bool file = info.type != 2;
    const unsigned short size = info.type == 1 ? info.size : 0;
    if (size != 0 && applet->info()->memoryFree() < static_cast<unsigned int>(size) + kMemoryReserve)
        LIBAPDU_RAISE(0x6400);

    path target = m_path;
    target.push_back(fid);
    bool exists = false;
    try {
        select(target);
        exists = true;
    } catch (const IException& e) {
        if (e.code() == 0x6A89) throw;
    }
    if (exists) LIBAPDU_RAISE(0x6A89);

    const unsigned char access = userAccess();
    if (!file) {
        CFileInfoEx e;
        e.info = CFileInfo(2, 0, 0, access);
        e.p = target;
        m_cache.push_back(std::move(e));
        return;
    }

    const unsigned short h = newFile();
    unsigned short d = 0;
    bool entered = false;
    try {
        if (info.readAccess != 0) d = newFile();
        CFileInfoEx e;
        e.info = CFileInfo(1, size, d ? access : 0, access);
        e.p = target;
        e.handle = h;
        e.dataHandle = d;
        m_cache.push_back(std::move(e));
        entered = true;
        if (d) {
            setAtr(h, kAtrDataHandle, {static_cast<unsigned char>(d & 0xFF), static_cast<unsigned char>(d >> 8)});
            setAtr(d, kAtrPrivate, {0x01});
        }
        setAtr(h, kAtrPath, EncodePath(target));
        setAtr(d ? d : h, kAtrContents, TBytes(size, 0x00));
        setAtr(h, kAtrSize, {static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size & 0xFF)});
    } catch (...) {
        // A half-made file is dropped whole: no entry the store cannot back, and
        // no objects left on the card that no path leads to.
        if (entered) m_cache.erase(findEntry(target));
        for (unsigned short made : {d, h}) {
            if (!made) continue;
            try {
                removeFile(made);
            } catch (const IException&) {
                // Best effort: the first failure is the one to report.
            }
        }
        throw;
    }
}

void CFSGost::remove() {
    // Nothing selected yet, or the root: nothing that may be removed.
    if (m_path.size() <= 1) LIBAPDU_RAISE(kSwRefused);
    if (m_info.type == 2) {
        if (!list(1).empty() || !list(2).empty()) LIBAPDU_RAISE(kSwRefused);
    } else {
        if (m_dataHandle) removeFile(m_dataHandle);
        removeFile(m_handle);
    }
    const auto it = findEntry(m_path);
    if (it != m_cache.end()) m_cache.erase(it);
}

TBytes CFSGost::contents(unsigned short holder) {
    try {
        return getAtr(holder, kAtrContents);
    } catch (const IException& e) {
        if (e.code() == kSwNotFound && m_info.readAccess != 0) LIBAPDU_RAISE(kSwRefused);
        throw;
    }
}

void CFSGost::read_bit(TBytes& piece, unsigned short offset) {
    if (m_info.type != 1 || m_handle == 0) LIBAPDU_RAISE(0x6283);
    const size_t n = piece.size();
    if (offset > m_info.size || offset + n > m_info.size) LIBAPDU_RAISE(kSwBadPieceSize);
    if (n == 0) return;
    TBytes all = contents(m_dataHandle ? m_dataHandle : m_handle);
    if (all.size() < offset + n) LIBAPDU_RAISE(kSwBadPieceSize);
    std::copy(all.begin() + offset, all.begin() + static_cast<std::ptrdiff_t>(offset + n), piece.begin());
}

void CFSGost::write_bit(const TBytes& piece, unsigned short offset) {
    if (m_info.type != 1 || m_handle == 0) LIBAPDU_RAISE(0x6283);
    const size_t n = piece.size();
    if (offset > m_info.size || offset + n > m_info.size) LIBAPDU_RAISE(0x6A84);
    if (n == 0) return;
    const unsigned short holder = m_dataHandle ? m_dataHandle : m_handle;
    TBytes all = contents(holder);
    if (all.size() < offset + n) LIBAPDU_RAISE(0x6A84);
    std::copy(piece.begin(), piece.end(), all.begin() + offset);
    setAtr(holder, kAtrContents, all);
}

}  // namespace libapdu
