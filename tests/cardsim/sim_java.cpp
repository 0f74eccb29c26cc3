#include "sim_java.h"

#include "sim_crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
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
    0x0C, 0x08,  // decipher, key data
};

const SimJavaPinCommandSet kSimJavaPinCommands = {0x07, 0x11, 0x0F, 0x13, true};

const FidPath SimJavaApplet::kAppFolder = {0x3F00, 0x6666, 0x5000};
const FidPath SimJavaApplet::kObjectFolder = {0x3F00, 0x6666, 0x5000, 0x0220};
const Bytes SimJavaApplet::kDefaultUserPin = {'1', '2', '3', '4'};
const Bytes SimJavaApplet::kDefaultAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};

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

// Folders keep their write condition first; files read first, write second.
unsigned char AccessAt(const Bytes& access, size_t i) {
    if (i < access.size()) return access[i];
    return access.empty() ? 0x00 : access.back();
}

const uint16_t kSaltFid = 0x000F;

// ---- the card's own cryptography, on OpenSSL

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

SimJavaApplet::SimJavaApplet(const SimJavaCommandSet& commands, const SimJavaPinCommandSet& pins)
    : m_cmds(commands), m_pinCmds(pins) {
    const SimJavaCommandSet& c = m_cmds;
    m_routes = {
        {c.selectCla, c.selectIns, &SimJavaApplet::doSelect},     {c.listCla, c.listIns, &SimJavaApplet::doList},
        {c.createCla, c.createIns, &SimJavaApplet::doCreate},     {c.resizeCla, c.resizeIns, &SimJavaApplet::doResize},
        {c.removeCla, c.removeIns, &SimJavaApplet::doRemove},     {c.readCla, c.readIns, &SimJavaApplet::doRead},
        {c.writeCla, c.writeIns, &SimJavaApplet::doWrite},        {c.markerCla, c.markerIns, &SimJavaApplet::doMarker},
        {c.getDataCla, c.getDataIns, &SimJavaApplet::doGetData},  {c.challengeCla, c.challengeIns, &SimJavaApplet::doChallenge},
        {0x80, pins.infoIns, &SimJavaApplet::doPinInfo},          {0x80, pins.loginIns, &SimJavaApplet::doLogin},
        {0x80, pins.changeKeyIns, &SimJavaApplet::doChangeKey},
    };
    if (pins.unblockIns) m_routes.push_back({0x80, pins.unblockIns, &SimJavaApplet::doUnblock});
    m_routes.push_back({0x80, c.decipherIns, &SimJavaApplet::doDecipher});
    if (c.keyDataIns) m_routes.push_back({0x80, c.keyDataIns, &SimJavaApplet::doKeyData});
    m_tree.putFolder(kAppFolder);
    // FIPS mode is the second byte of 000A; the card writes it, nobody else may.
    FidPath fips = kAppFolder;
    fips.push_back(0x000A);
    m_tree.putFile(fips, Bytes(2, 0), Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    setLabel(Bytes{'S', 'i', 'm', ' ', 'T', 'o', 'k', 'e', 'n'});
    // The salt of the PIN keys: anyone may read it, nobody write it.
    FidPath saltPath = kAppFolder;
    saltPath.push_back(kSaltFid);
    m_tree.putFile(saltPath, Bytes{0x53, 0x41, 0x4C, 0x54, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56,
                                   0x67, 0x78, 0x89, 0x9A, 0xAB, 0xBC, 0xCD, 0xDE, 0xEF, 0xF0},
                   Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    setPin(kUserPin, kDefaultUserPin);
    setPin(kAdminPin, kDefaultAdminPin);
    m_info.serial = {0x0A, 0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60};
    m_info.manufacturingDate = {0x20, 0x26, 0x01, 0x15};
    m_info.colour = {0x00, 0x00, 0x00, 0x01};
    m_info.version = {0x01, 0x00, 0x02, 0x03};
}

void SimJavaApplet::onSelect() { m_currentPath.clear(); }
void SimJavaApplet::onDeselect() {
    m_currentPath.clear();
    m_granted.clear();
    for (auto& p : m_pins) p.second.verified = false;
    m_session = 0;
    m_loginChallenge.clear();
    m_smChallenge.clear();
}

void SimJavaApplet::setFips(bool on) {
    FidPath p = kAppFolder;
    p.push_back(0x000A);
    m_tree.putFile(p, Bytes{0x00, static_cast<unsigned char>(on ? 0x01 : 0x00)}, Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    m_fips = on;
    // A FIPS token leaves the factory with its second user PIN under keys nobody knows.
    if (on && !m_pins.count(kUser2Pin)) m_pins[kUser2Pin].value = Random(20);
    m_keys.clear();
    for (auto& pin : m_pins) provision(pin.first);
}

Bytes SimJavaApplet::salt() const {
    FidPath p = kAppFolder;
    p.push_back(kSaltFid);
    const SimFile* f = m_tree.find(p);
    return f ? f->content : Bytes();
}

void SimJavaApplet::provision(unsigned char reference) {
    const Bytes& value = m_pins[reference].value;
    if (m_pinCmds.adminKeyFromPin && reference == kAdminPin) {
        m_keys[reference] = PinKey24(value);
    } else if (m_fips) {
        for (int i = 0; i < 5; ++i)
            m_keys[static_cast<unsigned char>(reference + i)] = JavaKey(i, value, salt());
    } else {
        m_keys[reference] = JavaKey(3, value, salt());
    }
}

void SimJavaApplet::setPin(unsigned char reference, const Bytes& value) {
    SimJavaPin& p = m_pins[reference];
    p = SimJavaPin();
    p.value = value;
    provision(reference);
}

const SimJavaPin* SimJavaApplet::pin(unsigned char reference) const {
    auto it = m_pins.find(reference);
    return it == m_pins.end() ? nullptr : &it->second;
}

SimJavaPin* SimJavaApplet::pin(unsigned char reference) {
    auto it = m_pins.find(reference);
    return it == m_pins.end() ? nullptr : &it->second;
}

bool SimJavaApplet::pinIs(unsigned char reference, const Bytes& value) const {
    auto at = [&](unsigned char r) -> const Bytes* {
        auto it = m_keys.find(r);
        return it == m_keys.end() ? nullptr : &it->second;
    };
    if (m_pinCmds.adminKeyFromPin && reference == kAdminPin) {
        const Bytes* k = at(reference);
        return k && SameBytes(*k, PinKey24(value));
    }
    if (!m_fips) {
        const Bytes* k = at(reference);
        return k && SameBytes(*k, JavaKey(3, value, salt()));
    }
    for (int i = 0; i < 5; ++i) {
        const Bytes* k = at(static_cast<unsigned char>(reference + i));
        if (!k || !SameBytes(*k, JavaKey(i, value, salt()))) return false;
    }
    return true;
}

const Bytes& SimJavaApplet::keyAt(unsigned char reference) const {
    auto it = m_keys.find(reference);
    if (it == m_keys.end()) Fail(kSwDataNotFound);
    return it->second;
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
    // Class 84: a command under secure messaging.
    if (a.cla == 0x84) return doProtected(a);
    return dispatch(a);
}

Bytes SimJavaApplet::dispatch(const SimApdu& a) {
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
    // P1 00: the challenge of a login; P1 01: that of a protected command.
    if ((a.p1 != 0x00 && a.p1 != 0x01) || a.p2 != 0x00) Fail(kSwWrongP1P2);
    if (!a.hasLe || a.le > kMaxChallenge) Fail(kSwWrongLength);
    if (a.p1 == 0x01 && a.le != 8) Fail(kSwWrongLength);
    Bytes r = Random(a.le);
    if (a.le == 8) (a.p1 == 0x01 ? m_smChallenge : m_loginChallenge) = r;
    return Respond(r);
}

Bytes SimJavaApplet::doPinInfo(const SimApdu& a) {
    if (a.p1 != 0x00) Fail(kSwWrongP1P2);
    // The same command describes the key of the selected object.
    if (a.p2 == kSelectedKey) return doKeyInfo(a);
    if (a.data != Bytes{0x10, 0x03, 0x23, 0x06, 0x20}) Fail(kSwWrongData);
    const SimJavaPin* p = pin(a.p2);
    if (!p) Fail(kSwDataNotFound);
    Bytes reply;
    SimJavaTlv::put(reply, 0x23, Bytes{p->triesLeft});
    SimJavaTlv::put(reply, 0x06, Bytes{p->limit});
    SimJavaTlv::put(reply, 0x20, Bytes{static_cast<unsigned char>(p->verified ? 0x01 : 0x00)});
    return Fit(reply, a);
}

Bytes SimJavaApplet::doLogin(const SimApdu& a) {
    if (a.p1 != 0x00) Fail(kSwWrongP1P2);
    SimReader r(a.data, kSwWrongData);
    if (r.u8() != 0x10 || r.u8() != 0x08) Fail(kSwWrongData);
    const Bytes mac = r.take(8);
    if (!r.empty()) Fail(kSwWrongData);
    Bytes challenge;
    challenge.swap(m_loginChallenge);  // one try per challenge
    if (challenge.size() != 8) Fail(kSwConditions);
    SimJavaPin* p = pin(a.p2);
    if (!p) Fail(kSwDataNotFound);
    if (p->triesLeft == 0) Fail(0x6983);
    if (!SameBytes(mac, TdesCbc(keyAt(a.p2), challenge, Bytes(), true))) {
        p->verified = false;
        --p->triesLeft;
        if (p->triesLeft == 0) Fail(0x6983);
        Fail(static_cast<uint16_t>(0x63C0 | (p->triesLeft & 0x0F)));
    }
    p->triesLeft = p->limit;
    p->verified = true;
    grant(a.p2);
    // On a FIPS token the login opens a session under the keys after the login key.
    if (m_fips) m_session = a.p2;
    return Respond(kSwOk);
}

Bytes SimJavaApplet::keyData(const SimApdu& a) {
    SimReader r(a.data, kSwWrongData);
    if (r.u8() != 0x10 || r.u8() != kKeySize) Fail(kSwWrongData);
    Bytes key = r.take(kKeySize);
    if (!r.empty()) Fail(kSwWrongData);
    return key;
}

Bytes SimJavaApplet::doChangeKey(const SimApdu& a) {
    if (a.p1 != 0x00) Fail(kSwWrongP1P2);
    const Bytes key = keyData(a);
    if (m_fips) {
        // Keys of a FIPS token travel only under secure messaging.
        if (!m_inProtected) Fail(kSwSecurity);
    } else {
        const SimJavaPin* p = pin(a.p2);
        if (!p || !p->verified) Fail(kSwSecurity);
    }
    m_keys[a.p2] = key;
    if (a.p2 == kUser2Pin && !pin(kUser2Pin)) m_pins[kUser2Pin] = SimJavaPin();
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doUnblock(const SimApdu& a) {
    if (a.p1 != 0x00) Fail(kSwWrongP1P2);
    const Bytes key = keyData(a);
    const SimJavaPin* admin = pin(kAdminPin);
    if (!admin || !admin->verified) Fail(kSwSecurity);
    SimJavaPin* p = pin(a.p2);
    if (!p) Fail(kSwDataNotFound);
    m_keys[a.p2] = key;
    p->triesLeft = p->limit;
    return Respond(kSwOk);
}

Bytes SimJavaApplet::doProtected(const SimApdu& a) {
    if (m_inProtected) Fail(kSwSmObjects);
    Bytes challenge;
    challenge.swap(m_smChallenge);  // one protected command per challenge
    if (!m_session) Fail(kSwSecurity);
    if (challenge.size() != 8) Fail(kSwConditions);
    const unsigned char s = m_session;

    // The body in the one order the applet accepts.
    SimReader r(a.data, kSwSmObjects);
    auto object = [&](unsigned char tag) -> Bytes {
        if (r.u8() != tag) Fail(kSwSmObjects);
        size_t n = r.u8();
        if (n == 0xFF) n = r.be16();
        return r.take(n);
    };
    const Bytes cryptogram = object(0x32);
    const Bytes iv = object(0x22);
    const Bytes form = object(0x34);
    const Bytes nonce = object(0x33);
    const Bytes mac = object(0x0D);
    if (!r.empty() || iv.size() != 8 || form != Bytes{0x01, 0x3E} || nonce.size() != 8 || mac.size() != 8)
        Fail(kSwSmObjects);

    // The MAC was taken over the command with the challenge, plus one, where the MAC now is.
    Bytes macInput = {a.cla, a.ins, a.p1, a.p2};
    if (a.data.size() <= 254) {
        macInput.push_back(static_cast<unsigned char>(a.data.size()));
    } else {
        macInput.push_back(0x00);
        PutBe16(macInput, static_cast<uint16_t>(a.data.size()));
    }
    macInput.insert(macInput.end(), a.data.begin(), a.data.end() - 8);
    challenge[7] = static_cast<unsigned char>(challenge[7] + 1);
    macInput.insert(macInput.end(), challenge.begin(), challenge.end());
    if (!SameBytes(SmMac(keyAt(static_cast<unsigned char>(s + 2)), macInput), mac)) Fail(kSwSmObjects);

    if (cryptogram.empty()) Fail(kSwSmObjects);
    Bytes plain = TdesCbc(keyAt(static_cast<unsigned char>(s + 1)), cryptogram, iv, false);
    if (!Unpad2(plain)) Fail(kSwSmObjects);

    SimApdu inner;
    inner.cla = static_cast<unsigned char>(a.cla & ~0x04);
    inner.ins = a.ins;
    inner.p1 = a.p1;
    inner.p2 = a.p2;
    inner.data = plain;
    inner.hasLe = a.hasLe && a.le > 32;
    inner.le = inner.hasLe ? a.le - 32 : 0;
    ++m_protectedCount;

    Bytes answer;
    m_inProtected = true;
    try {
        answer = dispatch(inner);
    } catch (const SimStatus& st) {
        answer = Respond(st.sw);
    } catch (...) {
        m_inProtected = false;
        throw;
    }
    m_inProtected = false;

    // A refused command is answered with its bare status word.
    const uint16_t sw = StatusOf(answer);
    if (sw != kSwOk && (sw & 0xFF00) != 0x6100) return Respond(sw);
    const Bytes data(answer.begin(), answer.end() - 2);
    Bytes status;
    PutBe16(status, sw);
    Bytes body;
    if (data.empty()) {
        body = {0x99, 0x02};
        body.insert(body.end(), status.begin(), status.end());
    } else {
        const Bytes answerIv = Random(8);
        SimJavaTlv::put(body, 0x32, TdesCbc(keyAt(static_cast<unsigned char>(s + 3)), Pad2(data), answerIv, true));
        SimJavaTlv::put(body, 0x22, answerIv);
    }
    Bytes answerMacInput = body;
    answerMacInput.insert(answerMacInput.end(), nonce.begin(), nonce.end());
    answerMacInput.insert(answerMacInput.end(), status.begin(), status.end());
    answerMacInput.insert(answerMacInput.end(), {0x0D, 0x08});
    const Bytes answerMac = SmMac(keyAt(static_cast<unsigned char>(s + 4)), answerMacInput);
    Bytes out = body;
    out.insert(out.end(), {0x0D, 0x08});
    out.insert(out.end(), answerMac.begin(), answerMac.end());
    out.insert(out.end(), status.begin(), status.end());
    return out;
}

void SimJavaApplet::addCertificateObject(uint16_t fid, const Bytes& descriptor, const Bytes& der) {
    FidPath folder = kObjectFolder;
    folder.push_back(fid);
    m_tree.putFolder(folder);
    FidPath file = folder;
    file.push_back(0x0001);
    m_tree.putFile(file, descriptor);
    file.back() = 0x0002;
    m_tree.putFile(file, der);
}

void SimJavaApplet::addKeyObject(uint16_t fid, const Bytes& descriptor, const SimRsaKey& key) {
    FidPath folder = kObjectFolder;
    folder.push_back(fid);
    m_tree.putFolder(folder);
    FidPath file = folder;
    file.push_back(0x0001);
    m_tree.putFile(file, descriptor);
    m_objectKeys[folder] = key;
}

// The key of the object folder that is selected, or of the folder of the selected file.
const SimRsaKey& SimJavaApplet::selectedKey() const {
    FidPath p = m_currentPath;
    for (int up = 0; up < 2 && !p.empty(); ++up, p.pop_back()) {
        auto it = m_objectKeys.find(p);
        if (it != m_objectKeys.end()) return it->second;
    }
    Fail(kSwDataNotFound);
}

Bytes SimJavaApplet::doKeyInfo(const SimApdu& a) {
    // Asks for the key's description (tag 1A).
    if (a.data != Bytes{0x10, 0x01, 0x1A}) Fail(kSwWrongData);
    const SimRsaKey& key = selectedKey();
    // Kind 05 (an RSA private key); bit 04 of the size byte marks a 2048-bit key.
    const unsigned char size = RsaBits(key) > 1024 ? 0x04 : 0x00;
    Bytes reply;
    SimJavaTlv::put(reply, 0x1A, Bytes{0x05, size, 0x01});
    return Fit(reply, a);
}

Bytes SimJavaApplet::doKeyData(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != kSelectedKey) Fail(kSwWrongP1P2);
    const SimRsaKey& key = selectedKey();
    Bytes reply;
    SimJavaTlv::put(reply, 0x27, RsaPublicExponent(key));
    SimJavaTlv::put(reply, 0x28, RsaModulus(key));
    return Fit(reply, a);
}

Bytes SimJavaApplet::doDecipher(const SimApdu& a) {
    if (a.p1 != 0x03 || a.p2 != kSelectedKey) Fail(kSwWrongP1P2);
    // A FIPS token deciphers only under secure messaging.
    if (m_fips && !m_inProtected) Fail(kSwSecurity);
    const SimJavaPin* user = pin(kUserPin);
    if (!user || !user->verified) Fail(kSwSecurity);
    const SimRsaKey& key = selectedKey();
    SimReader r(a.data, kSwWrongData);
    if (r.u8() != 0x10) Fail(kSwWrongData);
    size_t n = r.u8();
    if (n == 0xFF) n = r.be16();
    const Bytes cipher = r.take(n);
    if (!r.empty()) Fail(kSwWrongData);
    Bytes plain;
    if (!RsaDecrypt(key, cipher, plain)) Fail(kSwWrongData);
    ++m_decipherCount;
    Bytes reply;
    SimJavaTlv::put(reply, 0x10, plain);
    return Fit(reply, a);
}

}  // namespace cardsim
