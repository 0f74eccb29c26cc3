#include "sim_java.h"

#include <openssl/rand.h>

namespace cardsim {

const SimJavaCommandSet kSimJavaCommands = {
    "java",
    {0xA0, 0x00, 0x00, 0x03, 0x12, 0x02, 0x02},
    0x00, 0xA4,  // select
    0x80, 0x01,  // list
    0x80, 0x16,  // create
    0x80, 0x1A,  // resize
    0x00, 0xE4,  // remove
    0x80, 0x18,  // read
    0x80, 0x15,  // write
    0x80, 0x1B,  // change marker
    0x00, 0xCA,  // GET DATA
    0x80, 0x17,  // GET CHALLENGE
};

const FidPath SimJavaApplet::kAppFolder = {0x3F00, 0x6666, 0x5000};

namespace {

enum : unsigned char {
    kTagType = 0x01,
    kTagFid = 0x02,
    kTagSize = 0x03,
    kTagAccess = 0x04,
    kTagStart = 0x09,
    kTagIds = 0x0A,
    kTagMore = 0x0B,
    kTagOffset = 0x0E,
    kTagData = 0x10,
};

// An answer longer than the terminal accepts is refused with the length that
// would fit, as ISO cards do (6Cxx).
Bytes Fit(const Bytes& data, const SimApdu& a) {
    if (a.hasLe && a.le < data.size()) Fail(static_cast<uint16_t>(0x6C00 | (data.size() > 255 ? 0 : data.size())));
    return Respond(data);
}

uint16_t Be16Value(const Bytes& v) {
    if (v.size() != 2) Fail(kSwWrongData);
    return static_cast<uint16_t>((v[0] << 8) | v[1]);
}

const Bytes& Need(const std::map<unsigned char, Bytes>& p, unsigned char tag) {
    auto it = p.find(tag);
    if (it == p.end()) Fail(kSwWrongData);
    return it->second;
}

// Folders keep their write condition first; files read first, write second.
unsigned char AccessAt(const Bytes& access, size_t i) {
    if (i < access.size()) return access[i];
    return access.empty() ? 0x00 : access.back();
}

Bytes Be32(uint32_t v) {
    return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v)};
}

}  // namespace

bool SimJavaTlv::parse(const Bytes& data, std::map<unsigned char, Bytes>& out) {
    out.clear();
    size_t i = 0;
    while (i < data.size()) {
        const unsigned char tag = data[i++];
        if (tag == 0x00 || tag == 0xFF || i >= data.size()) return false;
        size_t len = data[i++];
        if (len == 0xFF) {
            if (data.size() - i < 2) return false;
            len = (static_cast<size_t>(data[i]) << 8) | data[i + 1];
            i += 2;
        }
        if (data.size() - i < len) return false;
        out.emplace(tag, Bytes(data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(i + len)));
        i += len;
    }
    return true;
}

void SimJavaTlv::put(Bytes& out, unsigned char tag, const Bytes& value) {
    out.push_back(tag);
    if (value.size() < 0xFF) {
        out.push_back(static_cast<unsigned char>(value.size()));
    } else {
        out.push_back(0xFF);
        PutBe16(out, static_cast<uint16_t>(value.size()));
    }
    out.insert(out.end(), value.begin(), value.end());
}

SimJavaApplet::SimJavaApplet(const SimJavaCommandSet& commands) : m_cmds(commands) {
    const SimJavaCommandSet& c = m_cmds;
    m_routes = {
        {c.selectCla, c.selectIns, &SimJavaApplet::doSelect},     {c.listCla, c.listIns, &SimJavaApplet::doList},
        {c.createCla, c.createIns, &SimJavaApplet::doCreate},     {c.resizeCla, c.resizeIns, &SimJavaApplet::doResize},
        {c.removeCla, c.removeIns, &SimJavaApplet::doRemove},     {c.readCla, c.readIns, &SimJavaApplet::doRead},
        {c.writeCla, c.writeIns, &SimJavaApplet::doWrite},        {c.markerCla, c.markerIns, &SimJavaApplet::doMarker},
        {c.getDataCla, c.getDataIns, &SimJavaApplet::doGetData},  {c.challengeCla, c.challengeIns, &SimJavaApplet::doChallenge},
    };
    m_tree.putFolder(kAppFolder);
    // FIPS mode is the second byte of 000A; the card writes it, nobody else may.
    FidPath fips = kAppFolder;
    fips.push_back(0x000A);
    m_tree.putFile(fips, Bytes(2, 0), Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    setLabel(Bytes{'S', 'i', 'm', ' ', 'T', 'o', 'k', 'e', 'n'});
    m_info.serial = {0x0A, 0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60};
    m_info.manufacturingDate = {0x20, 0x26, 0x01, 0x15};
    m_info.colour = {0x00, 0x00, 0x00, 0x01};
    m_info.version = {0x01, 0x00, 0x02, 0x03};
}

void SimJavaApplet::onSelect() { m_currentPath.clear(); }
void SimJavaApplet::onDeselect() {
    m_currentPath.clear();
    m_granted.clear();
}

void SimJavaApplet::setFips(bool on) {
    FidPath p = kAppFolder;
    p.push_back(0x000A);
    m_tree.putFile(p, Bytes{0x00, static_cast<unsigned char>(on ? 0x01 : 0x00)}, Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF});
}

void SimJavaApplet::setLabel(const Bytes& label) {
    FidPath p = kAppFolder;
    p.push_back(0x0002);
    m_tree.putFile(p, label, Bytes(5, 0));
}

size_t SimJavaApplet::memoryFree() const {
    const size_t used = m_tree.usedBytes();
    return used >= m_info.memoryTotal ? 0 : m_info.memoryTotal - used;
}

SimFile* SimJavaApplet::current() const { return m_currentPath.empty() ? nullptr : m_tree.find(m_currentPath); }

SimFile& SimJavaApplet::currentFolder() const {
    SimFile* f = current();
    if (!f) Fail(kSwNoCurrentEf);
    if (!f->folder) Fail(kSwConditions);
    return *f;
}

SimFile& SimJavaApplet::currentFile() const {
    SimFile* f = current();
    if (!f) Fail(kSwNoCurrentEf);
    if (f->folder) Fail(kSwIncompatibleFile);
    return *f;
}

void SimJavaApplet::checkAccess(unsigned char accessByte) const {
    if (!m_enforce || accessByte == 0x00) return;
    if (accessByte == 0xFF || !m_granted.count(accessByte)) Fail(kSwSecurity);
}

std::map<unsigned char, Bytes> SimJavaApplet::params(const SimApdu& a) {
    std::map<unsigned char, Bytes> p;
    if (!SimJavaTlv::parse(a.data, p)) Fail(kSwWrongData);
    return p;
}

Bytes SimJavaApplet::process(const SimApdu& a) {
    bool insKnown = false;
    for (const Route& r : m_routes) {
        if (r.ins != a.ins) continue;
        insKnown = true;
        if (r.cla == a.cla) return (this->*r.fn)(a);
    }
    Fail(insKnown ? kSwClaNotSupported : kSwInsNotSupported);
}

Bytes SimJavaApplet::doSelect(const SimApdu& a) {
    if (a.p2 != 0x04 && a.p2 != 0x0C && a.p2 != 0x00) Fail(kSwWrongP1P2);
    FidPath target;
    if (a.p1 == 0x00) {
        // No data selects the master file; one identifier a child of the current folder.
        if (a.data.empty()) {
            target = {0x3F00};
        } else if (a.data.size() == 2) {
            const uint16_t fid = static_cast<uint16_t>((a.data[0] << 8) | a.data[1]);
            if (fid == 0x3F00) {
                target = {0x3F00};
            } else {
                SimFile* cur = current();
                if (cur && !cur->folder) cur = cur->parent;
                target = cur ? SimFileTree::pathOf(cur) : FidPath{0x3F00};
                target.push_back(fid);
            }
        } else {
            Fail(kSwWrongLength);
        }
    } else if (a.p1 == 0x08) {
        // Path from the master file, which itself is left out.
        if (a.data.empty() || a.data.size() % 2) Fail(kSwWrongLength);
        target = {0x3F00};
        SimReader r(a.data);
        while (!r.empty()) target.push_back(r.be16());
    } else {
        Fail(kSwWrongP1P2);
    }
    SimFile* f = m_tree.find(target);
    if (!f) Fail(kSwNotFound);  // the selection stays as it was
    m_currentPath = target;
    if (a.p2 == 0x0C) return Respond(kSwOk);

    Bytes fci;
    SimJavaTlv::put(fci, kTagType, Bytes{static_cast<unsigned char>(f->folder ? 0x01 : 0x02)});
    Bytes size;
    PutBe16(size, static_cast<uint16_t>(f->size()));
    SimJavaTlv::put(fci, kTagSize, size);
    SimJavaTlv::put(fci, kTagAccess, f->access);
    return Fit(fci, a);
}

Bytes SimJavaApplet::doList(const SimApdu& a) {
    if ((a.p1 != 0x01 && a.p1 != 0x02) || a.p2 != 0x00) Fail(kSwWrongP1P2);
    const SimFile& dir = currentFolder();
    const size_t start = Be16Value(Need(params(a), kTagStart));
    const bool wantFolders = a.p1 == 0x01;
    std::vector<uint16_t> ids;
    for (const auto& c : dir.children)
        if (c->folder == wantFolders) ids.push_back(c->fid);
    Bytes idBytes;
    size_t i = start;
    for (; i < ids.size() && i < start + kListPage; ++i) PutBe16(idBytes, ids[i]);
    Bytes reply;
    SimJavaTlv::put(reply, kTagIds, idBytes);
    SimJavaTlv::put(reply, kTagMore, Bytes{static_cast<unsigned char>(i < ids.size() ? 1 : 0)});
    return Fit(reply, a);
}

Bytes SimJavaApplet::doCreate(const SimApdu& a) {
    if (a.p1 != 0x01 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimFile& dir = currentFolder();
    const auto p = params(a);
    const Bytes& type = Need(p, kTagType);
    const uint16_t fid = Be16Value(Need(p, kTagFid));
    const uint16_t size = Be16Value(Need(p, kTagSize));
    const Bytes& access = Need(p, kTagAccess);
    if (type.size() != 1 || (type[0] != 0x01 && type[0] != 0x02)) Fail(kSwWrongData);
    if (access.empty()) Fail(kSwWrongData);
    if (fid == 0x0000 || fid == 0x3F00 || fid == 0x3FFF || fid == 0xFFFF) Fail(kSwWrongData);
    checkAccess(AccessAt(dir.access, 0));
    if (dir.child(fid)) Fail(kSwFileExists);
    if (type[0] == 0x01) {
        m_tree.addFolder(dir, fid, access);
    } else {
        if (size > memoryFree()) Fail(kSwNoMemory);
        m_tree.addFile(dir, fid, Bytes(size, 0), access);
    }
    // The new file is not selected: the terminal goes on from the folder.
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doResize(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimFile& f = currentFile();
    const uint16_t size = Be16Value(Need(params(a), kTagSize));
    checkAccess(AccessAt(f.access, 1));
    if (size > f.size() && size - f.size() > memoryFree()) Fail(kSwNoMemory);
    f.content.resize(size, 0);
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doRemove(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimFile& dir = currentFolder();
    if (a.data.size() != 2) Fail(kSwWrongLength);
    const uint16_t fid = static_cast<uint16_t>((a.data[0] << 8) | a.data[1]);
    if (!dir.child(fid)) Fail(kSwNotFound);
    checkAccess(AccessAt(dir.access, 0));
    // A folder goes with everything in it: key containers are removed whole.
    m_tree.remove(dir, fid);
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doRead(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    if (!a.hasLe) Fail(kSwWrongLength);
    SimFile& f = currentFile();
    const size_t offset = Be16Value(Need(params(a), kTagOffset));
    checkAccess(AccessAt(f.access, 0));
    if (offset > f.size()) Fail(kSwOutsideFile);
    const size_t n = std::min(a.le, f.size() - offset);
    Bytes data(f.content.begin() + static_cast<std::ptrdiff_t>(offset),
               f.content.begin() + static_cast<std::ptrdiff_t>(offset + n));
    return Respond(data, n < a.le ? kSwEndOfFile : kSwOk);
}

Bytes SimJavaApplet::doWrite(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimFile& f = currentFile();
    const auto p = params(a);
    const size_t offset = Be16Value(Need(p, kTagOffset));
    const Bytes& data = Need(p, kTagData);
    checkAccess(AccessAt(f.access, 1));
    if (offset > f.size() || data.size() > f.size() - offset) Fail(kSwOutsideFile);
    std::copy(data.begin(), data.end(), f.content.begin() + static_cast<std::ptrdiff_t>(offset));
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doMarker(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    if (a.data.size() != 18) Fail(kSwWrongLength);
    const auto p = params(a);
    const Bytes& marker = Need(p, kTagData);
    if (marker.size() != 16) Fail(kSwWrongData);
    m_lastMarker = marker;
    ++m_markerCount;
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doGetData(const SimApdu& a) {
    if (a.p1 != 0x01) Fail(kSwWrongP1P2);
    Bytes reply;
    switch (a.p2) {
    case 0x07: {
        Bytes inner;
        SimJavaTlv::put(inner, 0x01, m_info.serial);
        SimJavaTlv::put(inner, 0x04, m_info.manufacturingDate);
        SimJavaTlv::put(inner, 0x05, m_info.colour);
        SimJavaTlv::put(reply, 0x07, inner);
        break;
    }
    case 0x11:
        SimJavaTlv::put(reply, 0x11, m_info.version);
        break;
    case 0x13:
        SimJavaTlv::put(reply, 0x13, Be32(m_info.memoryTotal));
        break;
    case 0x14:
        SimJavaTlv::put(reply, 0x14, Be32(static_cast<uint32_t>(memoryFree())));
        break;
    default:
        Fail(kSwDataNotFound);
    }
    return Fit(reply, a);
}

Bytes SimJavaApplet::doChallenge(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    if (!a.hasLe || a.le > kMaxChallenge) Fail(kSwWrongLength);
    Bytes r(a.le);
    if (RAND_bytes(r.data(), static_cast<int>(r.size())) != 1) Fail(kSwNoPreciseDiagnosis);
    return Respond(r);
}

}  // namespace cardsim
