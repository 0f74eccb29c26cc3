#include "sim_kite.h"

#include "sim_crypto.h"
#include "sim_java.h"

namespace cardsim {

const Bytes kAtrKite16 = {0x3B, 0xE2, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x02, 0x9C};
const Bytes kAtrKite32 = {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x03, 0x15};
const Bytes kAtrKite42 = {0x3B, 0xF2, 0x18, 0x00, 0x00, 0xC1, 0x0A, 0x31, 0xFE, 0x55, 0xC8, 0x06, 0x75};
const Bytes kAtrKite42Other = {0x3B, 0xF2, 0x18, 0x00, 0x5A, 0xC1, 0x0A, 0x31, 0xFE, 0x55, 0xC8, 0x06, 0x11};
const Bytes kAtrKite42b = {0x3B, 0xF2, 0x18, 0x00, 0x02, 0xC1, 0x0A, 0x31, 0xFE, 0x58, 0xC8, 0x09, 0x75};

const Bytes SimKiteApplet::kDefaultUserPin = {'1', '2', '3', '4'};
const Bytes SimKiteApplet::kDefaultAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};
const FidPath SimKiteApplet::kPinFile = {0x3F00, 0x6666, 0x1000, 0x0004};
const FidPath SimKiteApplet::kPinFileFips = {0x3F00, 0x6666, 0x5000, 0x000F};
const FidPath SimKiteApplet::kMarker = {0x3F00, 0x6666, 0x0001};
const FidPath SimKiteApplet::kFipsMark = {0x3F00, 0x6666, 0x5000, 0x0002};

namespace {

const FidPath kMasterFile = {0x3F00};
const FidPath kAppFolder = {0x3F00, 0x6666};
const FidPath kFipsFolder = {0x3F00, 0x6666, 0x5000};
const FidPath kPinFolder = {0x3F00, 0x6666, 0x1000};

enum : unsigned char {
    kTagFci = 0x6F,
    kTagFcp = 0x62,
    kTagDescriptor = 0x82,
    kTagFid = 0x83,
    kTagSizeKite = 0x81,
    kTagSizeKite4 = 0x80,
    kTagAccess = 0x86,
    kTagCryptogram = 0x87,
    kTagLe = 0x97,
    kTagMac = 0x8E,
    kTagUnblockKey = 0x8F,
    kFolder = 0x38,
    kFile = 0x01,
};

const Bytes kFreeFile(7, 0x00);
const Bytes kFreeFolder(8, 0x00);
const size_t kLabelSize = 32;

Bytes Text(const char* s, size_t size) {
    Bytes b(s, s + std::char_traits<char>::length(s));
    b.resize(size, 0x00);
    return b;
}

// The start of both MAC inputs: the protected header, four zero bytes, 87 and its one-byte length.
Bytes MacHead(const SimApdu& a, size_t valueSize) {
    Bytes m;
    m.reserve(256 + 32);
    for (unsigned char b : {a.cla, a.ins, a.p1, a.p2}) m.push_back(b);
    m.resize(8, 0x00);
    m.push_back(kTagCryptogram);
    m.push_back(static_cast<unsigned char>(valueSize & 0xFF));
    return m;
}

// Zero bytes to the next multiple of eight; a whole block when already aligned.
void PadZeros(Bytes& m) { m.insert(m.end(), 8 - m.size() % 8, 0x00); }

}  // namespace

SimKiteApplet::SimKiteApplet(bool kite4, bool fips) : m_kite4(kite4), m_fips(fips) {
    serial = {0x4B, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    m_tree.putFolder(kAppFolder, kFreeFolder);
    m_tree.putFile(kMarker, Bytes(16, 0x00), kFreeFile);
    // The PIN file, labels and colour of the mode without FIPS; a FIPS token adds its own folder.
    m_tree.putFolder(kPinFolder, kFreeFolder);
    m_tree.putFile(kPinFile, Random(32), kFreeFile);
    m_tree.putFile({0x3F00, 0x6666, 0x1000, 0x0005}, Text("Kite Token", kLabelSize), kFreeFile);
    m_tree.putFile({0x3F00, 0x6666, 0x1000, 0x0002}, Text("Kite Token", kLabelSize), kFreeFile);
    m_tree.putFile({0x3F00, 0x6666, 0x1000, 0x0006}, Bytes{0x02}, kFreeFile);
    if (fips) {
        m_tree.putFolder(kFipsFolder, kFreeFolder);
        m_tree.putFile(kFipsMark, Text("Kite FIPS", kLabelSize), kFreeFile);
        m_tree.putFile({0x3F00, 0x6666, 0x5000, 0x000A}, Bytes{0x00, 0x00, 0x03, 0x00}, kFreeFile);
        // The salt first, the user's retry record at 41; the PIN file is writable by anyone.
        Bytes pinFile = Random(48);
        m_tree.putFile(kPinFileFips, pinFile, kFreeFile);
        // A FIPS token leaves the factory with its second set under the keys of a PIN nobody knows.
        const Bytes unknown = Random(20);
        m_keys[kUser2Fips] = JavaKey(1, unknown, salt());
        m_keys[kUser2Fips + 1] = JavaKey(3, unknown, salt());
        m_keys[kUser2Fips + 2] = JavaKey(1, unknown, salt());
        m_pins[kUser2Fips].value = unknown;
    } else {
        m_keys[kAdmin] = PinKey24(kDefaultAdminPin);
        m_pins[kAdmin].value = kDefaultAdminPin;
        putRecord(kAdminRecord, 10, 10);
    }
    setUserPin(kDefaultUserPin);
    m_currentPath = kMasterFile;
}

Bytes SimKiteApplet::salt() const {
    const SimFile* f = m_tree.find(m_fips ? kPinFileFips : kPinFile);
    if (!f || f->size() < 20) return Bytes();
    return Bytes(f->content.begin(), f->content.begin() + 20);
}

void SimKiteApplet::putRecord(size_t offset, unsigned char left, unsigned char limit) {
    SimFile* f = m_tree.find(m_fips ? kPinFileFips : kPinFile);
    if (!f || f->size() < offset + 2) return;
    f->content[offset] = left;
    f->content[offset + 1] = limit;
}

Bytes SimKiteApplet::hostRecord(bool user) const {
    const SimFile* f = m_tree.find(m_fips ? kPinFileFips : kPinFile);
    const size_t offset = user ? (m_fips ? kUserRecordFips : 0) : kAdminRecord;
    if (!f || f->size() < offset + 2) return Bytes();
    return Bytes(f->content.begin() + static_cast<std::ptrdiff_t>(offset),
                 f->content.begin() + static_cast<std::ptrdiff_t>(offset + 2));
}

void SimKiteApplet::provisionUser(const Bytes& pin) {
    if (m_fips) {
        const Bytes s = salt();
        m_keys[kUserFips] = JavaKey(1, pin, s);
        m_keys[kEncFips] = JavaKey(3, pin, s);
        m_keys[kSigFips] = JavaKey(1, pin, s);
    } else {
        m_keys[kUser] = PinKey24(pin);
    }
}

void SimKiteApplet::setUserPin(const Bytes& value, unsigned char limit) {
    // The record first: on a token without FIPS it lies inside the salt.
    putRecord(m_fips ? kUserRecordFips : 0, limit, limit);
    SimKitePin& p = m_pins[userReference()];
    p.value = value;
    p.triesLeft = p.limit = limit;
    provisionUser(value);
}

bool SimKiteApplet::pinIs(unsigned char reference, const Bytes& value) const {
    auto it = m_keys.find(reference);
    if (it == m_keys.end()) return false;
    if (!m_fips) return SameBytes(it->second, PinKey24(value));
    const int id = (reference & 0x0F) == 0x02 || (reference & 0x0F) == 0x0B ? 3 : 1;
    return SameBytes(it->second, JavaKey(id, value, salt()));
}

void SimKiteApplet::onSelect() { m_currentPath = kMasterFile; }

void SimKiteApplet::onDeselect() {
    m_currentPath = kMasterFile;
    m_verified.clear();
    m_challenge.clear();
    m_session = 0;
}

SimFile& SimKiteApplet::currentFolder() const {
    SimFile* f = m_tree.find(m_currentPath);
    if (!f) Fail(kSwNoCurrentEf);
    if (!f->folder) Fail(kSwNoCurrentEf);
    return *f;
}

SimFile& SimKiteApplet::currentFile() const {
    SimFile* f = m_tree.find(m_currentPath);
    if (!f) Fail(kSwNoCurrentEf);
    if (f->folder) Fail(kSwIncompatibleFile);
    return *f;
}

void SimKiteApplet::checkAccess(unsigned char accessByte) const {
    if (accessByte == 0x00) return;
    if (accessByte == 0xFF || !m_verified.count(accessByte)) Fail(kSwSecurity);
}

const Bytes& SimKiteApplet::keyAt(unsigned char reference) const {
    auto it = m_keys.find(reference);
    if (it == m_keys.end()) Fail(kSwDataNotFound);
    return it->second;
}

Bytes SimKiteApplet::process(const SimApdu& a) {
    if ((a.cla & 0x0C) == 0x0C) return doProtected(a);
    return dispatch(a);
}

Bytes SimKiteApplet::dispatch(const SimApdu& a) {
    const uint16_t op = static_cast<uint16_t>((a.cla << 8) | a.ins);
    switch (op) {
    case 0x00A4: return doSelect(a);
    case 0x00E0: return doCreate(a);
    case 0x00E4: return doDelete(a);
    case 0x8016: return doList(a);
    case 0x00B0: return doRead(a);
    case 0x00D6: return doUpdate(a);
    case 0x00CA: return doGetData(a);
    case 0x0084: return doChallenge(a);
    case 0x0082: return doAuthenticate(a);
    case 0x0024: return doChangeReference(a);
    case 0x00DA: return doPutData(a);
    case 0x0022: return doEnvironment(a);
    case 0x002A: return doDecipher(a);
    case 0x8010:
        ++acknowledgements;
        return Respond(kSwOk);
    case 0x9024:
        if (m_kite4 || m_inProtected) return doChangeKey(a);
        break;
    default:
        break;
    }
    Fail(kSwInsNotSupported);
}

Bytes SimKiteApplet::fci(const SimFile& f) const {
    Bytes body;
    SimJavaTlv::put(body, kTagDescriptor, Bytes{static_cast<unsigned char>(f.folder ? kFolder : kFile), 0x00, 0x00});
    Bytes fid;
    PutBe16(fid, f.fid);
    SimJavaTlv::put(body, kTagFid, fid);
    if (!f.folder) {
        Bytes size;
        PutBe16(size, static_cast<uint16_t>(f.size()));
        SimJavaTlv::put(body, m_kite4 ? kTagSizeKite4 : kTagSizeKite, size);
    }
    SimJavaTlv::put(body, kTagAccess, f.access);
    Bytes out;
    SimJavaTlv::put(out, kTagFci, body);
    return out;
}

Bytes SimKiteApplet::doSelect(const SimApdu& a) {
    if (a.p2 != 0x00) Fail(kSwWrongP1P2);
    FidPath target = kMasterFile;
    if (a.p1 == 0x00) {
        if (!a.data.empty()) Fail(kSwWrongP1P2);
    } else if (a.p1 == 0x08) {
        if (a.data.empty() || a.data.size() % 2) Fail(kSwWrongLength);
        SimReader r(a.data);
        while (!r.empty()) target.push_back(r.be16());
    } else {
        Fail(kSwWrongP1P2);
    }
    SimFile* f = m_tree.find(target);
    if (!f) Fail(kSwNotFound);  // the selection stays as it was
    // Leaving the applet folder for the master file ends every login.
    if (target == kMasterFile) {
        m_verified.clear();
        m_session = 0;
    }
    m_currentPath = target;
    return Respond(fci(*f));
}

Bytes SimKiteApplet::doCreate(const SimApdu& a) {
    SimFile& parent = currentFolder();
    std::map<unsigned char, Bytes> outer, p;
    const unsigned char templateTag = m_kite4 ? kTagFcp : kTagFci;
    if (!SimJavaTlv::parse(a.data, outer) || outer.size() != 1 || !outer.count(templateTag)) Fail(kSwWrongData);
    if (!SimJavaTlv::parse(outer[templateTag], p)) Fail(kSwWrongData);
    const Bytes& descriptor = Need(p, kTagDescriptor);
    if (descriptor.empty() || (descriptor[0] != kFile && descriptor[0] != kFolder)) Fail(kSwWrongData);
    const bool folder = descriptor[0] == kFolder;
    const uint16_t fid = Be16Value(Need(p, kTagFid));
    // Kite4 takes a file's size under its own tag and a folder's under the Kite tag.
    const uint16_t size = Be16Value(Need(p, m_kite4 && !folder ? kTagSizeKite4 : kTagSizeKite));
    const Bytes& access = Need(p, kTagAccess);
    if (access.size() != (folder ? 8u : 7u)) Fail(kSwWrongData);
    checkAccess(parent.access.empty() ? 0x00 : parent.access[0]);
    if (parent.child(fid) || fid == 0x3F00) Fail(kSwWrongData);
    if (!folder && m_tree.usedBytes() + size > memoryTotal) Fail(kSwNoMemory);

    SimFile* made = folder ? m_tree.addFolder(parent, fid, access) : m_tree.addFile(parent, fid, Bytes(size, 0), access);
    if (!made) Fail(kSwWrongData);
    m_currentPath = SimFileTree::pathOf(made);
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doDelete(const SimApdu& a) {
    SimFile& parent = currentFolder();
    const uint16_t fid = Be16Value(a.data);
    if (!parent.child(fid)) Fail(kSwNotFound);
    checkAccess(parent.access.empty() ? 0x00 : parent.access[0]);
    m_tree.remove(parent, fid);
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doList(const SimApdu& a) {
    if (a.p1 > 0x01) Fail(kSwWrongP1P2);
    const SimFile& folder = currentFolder();
    const bool folders = a.p1 == 0x00;
    std::vector<uint16_t> ids;
    for (const auto& c : folder.children)
        if (c->folder == folders) ids.push_back(c->fid);
    Bytes out;
    for (size_t i = a.p2; i < ids.size() && i < a.p2 + kListPage; ++i) {
        Bytes fid, entry;
        PutBe16(fid, ids[i]);
        SimJavaTlv::put(entry, kTagAccess, fid);
        SimJavaTlv::put(out, kTagFci, entry);
    }
    return Respond(out);
}

Bytes SimKiteApplet::doRead(const SimApdu& a) {
    const SimFile& f = currentFile();
    if (a.p1 & 0x80) Fail(kSwWrongP1P2);
    checkAccess(f.access.empty() ? 0x00 : f.access[0]);
    const size_t offset = static_cast<size_t>((a.p1 << 8) | a.p2);
    if (offset > f.size()) Fail(kSwOutsideFile);
    const size_t n = a.hasLe ? a.le : 256;
    const size_t take = std::min(n, f.size() - offset);
    const auto from = f.content.begin() + static_cast<std::ptrdiff_t>(offset);
    return Respond(Bytes(from, from + static_cast<std::ptrdiff_t>(take)), take < n ? kSwEndOfFile : kSwOk);
}

Bytes SimKiteApplet::doUpdate(const SimApdu& a) {
    SimFile& f = currentFile();
    if (a.p1 & 0x80) Fail(kSwWrongP1P2);
    checkAccess(f.access.size() > 1 ? f.access[1] : 0x00);
    const size_t offset = static_cast<size_t>((a.p1 << 8) | a.p2);
    if (offset > f.size()) Fail(kSwOutsideFile);
    if (a.data.size() > f.size() - offset) Fail(kSwWrongLength);
    std::copy(a.data.begin(), a.data.end(), f.content.begin() + static_cast<std::ptrdiff_t>(offset));
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doGetData(const SimApdu& a) {
    if (a.p1 != 0x01) Fail(kSwWrongP1P2);
    switch (a.p2) {
    case 0x81:
        return Respond(serial);
    case 0x82:
        return Respond(Bytes{0x04, 0x02});
    case 0x83:
        return Respond(Bytes{stateFirstByte, 0x00, 0x00, 0x00});
    case 0x84:
        return Respond(Bytes(m_verified.begin(), m_verified.end()));
    case 0x89: {
        Bytes out = {0x00, 0x00};
        PutBe16(out, static_cast<uint16_t>(memoryTotal >> 10));
        return Respond(out);
    }
    case 0x8A: {
        const size_t used = m_tree.usedBytes();
        const size_t free = used >= memoryTotal ? 0 : memoryTotal - used;
        Bytes out;
        PutBe16(out, static_cast<uint16_t>(std::min<size_t>(free, 0xFFFF)));
        return Respond(out);
    }
    default:
        Fail(kSwDataNotFound);
    }
}

Bytes SimKiteApplet::doChallenge(const SimApdu& a) {
    if (a.p1 || a.p2) Fail(kSwWrongP1P2);
    m_challenge = Random(a.hasLe ? a.le : 256);
    return Respond(m_challenge);
}

Bytes SimKiteApplet::doAuthenticate(const SimApdu& a) {
    if (a.p1 != 0x00 || !(a.p2 & 0x80)) Fail(kSwWrongP1P2);
    const unsigned char reference = static_cast<unsigned char>(a.p2 & 0x7F);
    const Bytes& key = keyAt(reference);
    if (a.data.size() != 8) Fail(kSwWrongLength);
    const Bytes challenge = m_challenge;
    m_challenge.clear();  // one challenge answers one attempt
    if (challenge.size() != 8) Fail(kSwConditions);
    SimKitePin& pin = m_pins[reference];
    if (pin.triesLeft == 0) Fail(0x6983);
    m_verified.erase(reference);
    if (!SameBytes(TdesMac(key, challenge), a.data)) {
        --pin.triesLeft;
        if (m_session == reference) m_session = 0;
        Fail(0x6300);
    }
    pin.triesLeft = pin.limit;
    m_verified.insert(reference);
    m_session = reference;
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doChangeReference(const SimApdu& a) {
    if (a.p1 != 0x01 || !(a.p2 & 0x80)) Fail(kSwWrongP1P2);
    const unsigned char reference = static_cast<unsigned char>(a.p2 & 0x7F);
    keyAt(reference);
    if (!m_verified.count(reference)) Fail(kSwSecurity);
    if (a.data.size() != kKeySize) Fail(kSwWrongLength);
    m_keys[reference] = a.data;
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doChangeKey(const SimApdu& a) {
    if ((a.p1 != 0x00 && a.p1 != 0x10) || !(a.p2 & 0x80)) Fail(kSwWrongP1P2);
    const unsigned char reference = static_cast<unsigned char>(a.p2 & 0x7F);
    keyAt(reference);
    // Outside secure messaging only the verified reference itself may be changed.
    if (!m_inProtected && !m_verified.count(reference)) Fail(kSwSecurity);
    if (a.data.size() != kKeySize) Fail(kSwWrongLength);
    m_keys[reference] = a.data;
    SimKitePin& pin = m_pins[reference];
    pin.triesLeft = pin.limit;
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doPutData(const SimApdu& a) {
    if (a.p1 != 0x01 || a.p2 != 0x6E) Fail(kSwWrongP1P2);
    std::map<unsigned char, Bytes> p;
    if (!SimJavaTlv::parse(a.data, p)) Fail(kSwWrongData);
    const Bytes& key = Need(p, kTagUnblockKey);
    if (key.size() != kKeySize || Need(p, 0x83) != Bytes{0x00, 0x01}) Fail(kSwWrongData);
    // Only the administrator sets a new user key.
    if (!m_verified.count(kAdmin)) Fail(kSwSecurity);
    m_keys[kUser] = key;
    SimKitePin& pin = m_pins[kUser];
    pin.triesLeft = pin.limit;
    return Respond(kSwOk);
}

Bytes SimKiteApplet::doProtected(const SimApdu& a) {
    if (m_inProtected) Fail(kSwClaNotSupported);
    if (m_session == 0) Fail(kSwSecurity);
    const Bytes& macKey = keyAt(m_session);
    const Bytes& encKey = keyAt(static_cast<unsigned char>(m_session + 1));
    std::map<unsigned char, Bytes> p;
    if (!SimJavaTlv::parse(a.data, p)) Fail(kSwSmObjects);
    const Bytes& do87 = Need(p, kTagCryptogram);
    if (do87.size() < 9 || do87[0] != 0x01 || do87.size() > 0xFF) Fail(kSwSmObjects);
    if (Need(p, kTagLe) != Bytes{0xFF}) Fail(kSwSmObjects);

    Bytes m = MacHead(a, do87.size());
    m.insert(m.end(), do87.begin(), do87.end());
    PadZeros(m);
    m.insert(m.end(), {kTagLe, 0x01, 0xFF});
    PadZeros(m);
    if (!SameBytes(RetailMac(macKey, m), Need(p, kTagMac))) Fail(kSwSmObjects);

    Bytes plain = TdesCbc(encKey, Bytes(do87.begin() + 1, do87.end()), Bytes(), false);
    if (!Unpad2(plain)) Fail(kSwSmObjects);
    ++protectedCount;

    SimApdu inner;
    inner.cla = static_cast<unsigned char>(a.cla & ~0x0C);
    inner.ins = a.ins;
    inner.p1 = a.p1;
    inner.p2 = a.p2;
    inner.data = plain;
    Bytes answer;
    m_inProtected = true;
    try {
        answer = dispatch(inner);
    } catch (const SimStatus& s) {
        answer = Respond(s.sw);
    }
    m_inProtected = false;
    const uint16_t sw = StatusOf(answer);
    if (sw != kSwOk) return Respond(sw);

    const Bytes data(answer.begin(), answer.end() - 2);
    Bytes value = {0x01};
    const Bytes cryptogram = TdesCbc(encKey, Pad2(data), Bytes(), true);
    value.insert(value.end(), cryptogram.begin(), cryptogram.end());
    Bytes out;
    SimJavaTlv::put(out, kTagCryptogram, value);
    Bytes m2 = MacHead(a, value.size());
    m2.insert(m2.end(), value.begin(), value.end());
    Bytes mac = RetailMac(macKey, m2);
    if (corruptAnswerMac) mac[0] ^= 0x01;
    SimJavaTlv::put(out, kTagMac, mac);
    return Respond(out);
}

// ---------------------------------------------------------------- keys

void SimKiteApplet::addKey(uint16_t fid, unsigned char number, const std::string& name, const SimRsaKey& key,
                           const Bytes& der) {
    m_numberedKeys[number] = key;
    m_tree.putFile({0x3F00, 0x6666, 0x6000, fid}, Bytes{number, 0x00, 0x00, 0x00}, kFreeFile);
    // The size table counts bytes up to FF, in eights above (bit 4000).
    const size_t bytes = static_cast<size_t>(RsaBits(key) + 7) / 8;
    const uint16_t entry = bytes > 0xFF ? static_cast<uint16_t>(0x4000 | (bytes / 8)) : static_cast<uint16_t>(bytes);
    if (m_sizeTable.size() < 2u * number + 2) m_sizeTable.resize(2u * number + 2, 0x00);
    m_sizeTable[2u * number] = static_cast<unsigned char>(entry & 0xFF);
    m_sizeTable[2u * number + 1] = static_cast<unsigned char>(entry >> 8);
    m_tree.putFile({0x3F00, 0x6666, 0x1001, 0x1001}, m_sizeTable, kFreeFile);
    char tag[8];
    std::snprintf(tag, sizeof tag, "&%04x", fid);
    m_index.push_back('=');
    m_index.insert(m_index.end(), name.begin(), name.end());
    m_index.insert(m_index.end(), tag, tag + 5);
    m_tree.putFile({0x3F00, 0x6666, 0x6000, 0xECEC}, m_index, kFreeFile);
    if (der.empty()) return;
    // Record: two bytes, the length to the end of the certificate (low byte
    // first), the certificate, six bytes, a zero, the name, a zero.
    const size_t length = der.size() + 4;
    Bytes record = {0x00, 0x00, static_cast<unsigned char>(length & 0xFF), static_cast<unsigned char>(length >> 8)};
    record.insert(record.end(), der.begin(), der.end());
    record.insert(record.end(), 7, 0x00);
    record.insert(record.end(), name.begin(), name.end());
    record.push_back(0x00);
    m_tree.putFile({0x3F00, 0x6666, 0x1002, m_nextRecord++}, record, kFreeFile);
}

void SimKiteApplet::addFipsKey(uint16_t fid, const std::string& name, const SimRsaKey& key, const Bytes& der) {
    Bytes nameField = {0x05, static_cast<unsigned char>(name.size())};
    nameField.insert(nameField.end(), name.begin(), name.end());
    // Six bytes, four fields, the name.
    Bytes descriptor = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00};
    descriptor.insert(descriptor.end(), nameField.begin(), nameField.end());
    m_tree.putFolder(FidPath{0x3F00, 0x6666, 0x5000, 0x0220, fid}, kFreeFolder);
    m_tree.putFile(FidPath{0x3F00, 0x6666, 0x5000, 0x0220, fid, 0x0001}, descriptor, kFreeFile);
    m_objectKeys[FidPath{0x3F00, 0x6666, 0x5000, 0x0220, fid}] = key;
    if (der.empty()) return;
    const uint16_t cert = static_cast<uint16_t>(0x1000 | (fid & 0x0FFF));
    // One byte, one field, the name.
    Bytes certDescriptor = {0x00, 0x01, 0x01, 0x11};
    certDescriptor.insert(certDescriptor.end(), nameField.begin(), nameField.end());
    m_tree.putFolder(FidPath{0x3F00, 0x6666, 0x5000, 0x0220, cert}, kFreeFolder);
    m_tree.putFile(FidPath{0x3F00, 0x6666, 0x5000, 0x0220, cert, 0x0001}, certDescriptor, kFreeFile);
    m_tree.putFile(FidPath{0x3F00, 0x6666, 0x5000, 0x0220, cert, 0x0002}, der, kFreeFile);
}

Bytes SimKiteApplet::doEnvironment(const SimApdu& a) {
    if (a.p1 == 0x03 && a.p2 == 0xFE) {  // the environment emptied
        m_environmentKey.reset();
        return Respond(kSwOk);
    }
    if (a.p1 == 0x01 && a.p2 == 0xB8) {  // a Kite key by reference 2b + 3, from 3F00/6666/1001
        if (m_currentPath != FidPath{0x3F00, 0x6666, 0x1001}) Fail(kSwConditions);
        if (a.data.size() != 3 || a.data[0] != 0x83 || a.data[1] != 0x01) Fail(kSwWrongData);
        const unsigned char reference = a.data[2];
        if (reference < 3 || (reference - 3) % 2) Fail(kSwDataNotFound);
        auto it = m_numberedKeys.find(static_cast<unsigned char>((reference - 3) / 2));
        if (it == m_numberedKeys.end()) Fail(kSwDataNotFound);
        m_environmentKey = it->second;
        return Respond(kSwOk);
    }
    if (a.p1 == 0x03 && a.p2 == 0x33) {  // the key object selected, on a FIPS token
        auto it = m_objectKeys.find(m_currentPath);
        if (it == m_objectKeys.end()) Fail(kSwDataNotFound);
        m_environmentKey = it->second;
        return Respond(kSwOk);
    }
    Fail(kSwWrongP1P2);
}

Bytes SimKiteApplet::doDecipher(const SimApdu& a) {
    if (a.p1 != 0x80 || a.p2 != 0x86) Fail(kSwWrongP1P2);
    // A FIPS token deciphers only under secure messaging, and only for its user.
    if (m_fips && !m_inProtected) Fail(kSwSecurity);
    if (!verified(userReference())) Fail(kSwSecurity);
    if (!m_environmentKey) Fail(kSwConditions);
    if (a.data.empty() || a.data[0] != 0x00) Fail(kSwWrongData);  // the padding indicator
    Bytes plain;
    if (!RsaDecrypt(m_environmentKey, Bytes(a.data.begin() + 1, a.data.end()), plain)) Fail(kSwWrongData);
    ++decipherCount;
    return Respond(plain);
}

}  // namespace cardsim
