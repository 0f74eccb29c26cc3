#include "sim_gost2.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "sim_crypto.h"

namespace cardsim {

const Bytes SimGost2Applet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x01, 0x01};
const Bytes SimGost2Applet::kDefaultUserPin = {'1', '2', '3', '4', '5', '6', '7', '8'};

namespace {
const SimPinWords kWords = {SimGost2Applet::kSwWrongPin, SimGost2Applet::kSwPinBlocked,
                            SimGost2Applet::kSwBadPinLength};
const unsigned char kRecordKind = 2;
const unsigned char kMinBase = 6, kMaxLength = 32;
const size_t kFreeFromEnd = 26, kSmStatusAt = 23, kSerialSize = 8;
const size_t kNodeCost = 32;
const size_t kMaxEnd = 0x7FEE;
const unsigned char kFolderAccess = 0xB7;

size_t Cost(const SimGost2Applet::Node& n) {
    size_t c = kNodeCost + n.contents.size();
    for (const auto& k : n.children) c += Cost(*k);
    return c;
}

void Dump(const SimGost2Applet::Node& n, int depth, std::string& out) {
    char line[64];
    if (n.folder)
        std::snprintf(line, sizeof line, "%*s%04X/\n", depth * 2, "", n.fid);
    else
        std::snprintf(line, sizeof line, "%*s%04X (%zu) access %02X\n", depth * 2, "", n.fid, n.contents.size(),
                      n.access);
    out += line;
    for (const auto& k : n.children) Dump(*k, depth + 1, out);
}
}  // namespace

SimGost2Applet::Node* SimGost2Applet::Node::child(uint16_t id) const {
    for (const auto& k : children)
        if (k->fid == id) return k.get();
    return nullptr;
}

SimGost2Applet::SimGost2Applet() {
    m_user.set(kDefaultUserPin);
    m_user.limit = 5;
    m_user.maxLength = kMaxLength;
    setMinLength(8);
    m_root.fid = 0x3F00;
    for (size_t k = 0; k < kSerialSize; ++k) m_serial.push_back(static_cast<unsigned char>(0x72 + k));
    for (unsigned char i = 1; i <= 4; ++i) m_smParameters[i].assign(29, i);
}

const SimGost2Applet::Node* SimGost2Applet::find(const std::vector<uint16_t>& below) const {
    const Node* n = &m_root;
    for (uint16_t id : below) {
        if (!n->folder || !(n = n->child(id))) return nullptr;
    }
    return n;
}

SimGost2Applet::Node& SimGost2Applet::add(Node& parent, uint16_t fid, bool folder, size_t size, unsigned char access) {
    std::unique_ptr<Node> n(new Node);
    n->fid = fid;
    n->folder = folder;
    n->access = folder ? kFolderAccess : access;
    n->contents.assign(folder ? 0 : size, 0x00);
    n->parent = &parent;
    parent.children.push_back(std::move(n));
    return *parent.children.back();
}

size_t SimGost2Applet::used() const { return Cost(m_root); }

size_t SimGost2Applet::freeMemory() const {
    const size_t u = used();
    return u >= m_capacity ? 0 : m_capacity - u;
}

std::string SimGost2Applet::dump() const {
    std::string out;
    Dump(m_root, 0, out);
    return out;
}

void SimGost2Applet::setMinLength(unsigned char n) {
    if (n < kMinBase) n = kMinBase;
    if (n > kMinBase + 7) n = kMinBase + 7;
    m_user.minLength = n;
}

void SimGost2Applet::onDeselect() {
    m_user.verified = false;
    m_current = &m_root;
    m_session = kNoSession;
}

Bytes SimGost2Applet::statusRecord() const {
    const bool longForm = m_version > 6;
    const size_t i = longForm ? 13 : 12;
    Bytes r(longForm ? 33 : 32, 0);
    r[0] = kRecordKind;
    r[1] = m_version;
    r[2] = 0x01;  // the applet's minor version and build
    r[3] = 0x02;
    const size_t free = freeMemory() > 0xFFFFFFFFu ? 0xFFFFFFFFu : freeMemory();
    for (size_t k = 0; k < 4; ++k) r[r.size() - kFreeFromEnd + k] = static_cast<unsigned char>(free >> (24 - 8 * k));
    r[i - 1] = m_user.verified ? 1 : 0;
    r[i] = m_user.limit;
    r[i + 1] = m_user.failures;
    // Only the top three bits are the length code; the applet keeps flags below.
    r[i + 9] = static_cast<unsigned char>(((m_user.minLength - kMinBase) << 5) | 0x05);
    r[kSmStatusAt] = m_smStatus;
    std::copy(m_serial.begin(), m_serial.begin() + kSerialSize, r.end() - kSerialSize);
    return r;
}

// Lengths of the other kinds; kind 4 is three bytes shorter before version 7.
Bytes SimGost2Applet::infoRecord(unsigned char kind) const {
    switch (kind) {
    case 0:
        return statusRecord();
    case 1: {
        Bytes r(kLabelSize, 0x20);
        std::copy(m_label.begin(), m_label.begin() + static_cast<std::ptrdiff_t>(std::min(m_label.size(), kLabelSize)),
                  r.begin());
        return r;
    }
    case 4: {
        Bytes r(m_version > 6 ? 16 : 13, 0x40 + kind);
        if (m_version > 6) r[15] = static_cast<unsigned char>(m_smSupport ? 0x04 : 0x00);
        return r;
    }
    case 2:
        return Bytes(64, 0x40 + kind);
    case 3:
    case 11:
        return Bytes(32, static_cast<unsigned char>(0x40 + kind));
    case 5:
        return Bytes(2, 0x45);
    case 6:
    case 7:
        return Bytes(1, static_cast<unsigned char>(0x40 + kind));
    case 9:
        return Bytes(6, 0x49);
    default:
        Fail(kSwBadParameter);
    }
}

Bytes SimGost2Applet::doVerify(SimReader& r) {
    if (r.u8() != kUserRef) Fail(kSwNoSuchPin);
    const Bytes given = TakeLengthPrefixed(r, kSwBadLength);
    kWords.answer(m_user.present(given));
    return Respond(kSwOk);
}

Bytes SimGost2Applet::doChange(SimReader& r) {
    if (r.u8() != kUserRef) Fail(kSwNoSuchPin);
    const Bytes fresh = TakeLengthPrefixed(r, kSwBadLength);
    kWords.changeVerified(m_user, fresh, kSwNotVerified);
    return Respond(kSwOk);
}

Bytes SimGost2Applet::process(const SimApdu& a) {
    if (a.cla != 0x80) Fail(kSwClaNotSupported);
    SimReader r(a.data, kSwBadLength);
    if (a.ins == 0x0A && a.p2 == 0x00) {
        if (a.p1 == 0x10) return doVerify(r);
        if (a.p1 == 0x20) return doChange(r);
        Fail(kSwWrongP1P2);
    }
    if (a.ins == 0x38 && a.p1 == 0x10 && a.p2 == 0x00) {
        if (!a.data.empty() || a.hasLe) Fail(kSwBadLength);
        m_user.verified = false;
        return Respond(kSwOk);
    }
    if (a.ins == 0x38 && a.p1 == 0x20) return doInfo(a);
    if (a.ins == 0x38 && a.p1 == 0x30 && a.p2 == 0x01) {
        // An empty label comes as a bare header with Le.
        if (a.data.size() > kLabelSize) Fail(kSwBadLength);
        m_label = a.data;
        return Respond(kSwOk);
    }
    if (a.ins == 0x4C) return doFiles(a);
    if (a.ins == 0x3E && a.p1 == 0xD0 && a.p2 == 0x00) {
        return Respond(Random(32));
    }
    if (a.ins == 0x0A && a.p1 == 0x20 && a.p2 == 0x01) return doSetSmInfo(a, 0x02);
    if (a.ins == 0x3A && a.p1 == 0x30 && a.p2 == 0x01) return doSetSmInfo(a, 0x04);
    if (a.ins == 0xAA) return doSession(a);
    if (a.ins == 0x4E) return doSecureMessaging(a);
    if (a.ins == 0x1C) return doKeys(a);
    if (a.ins == 0x3E && a.p1 == 0x10 && a.p2 == 0x01) return doSign(a);
    if (a.ins == 0x3E) return doHash(a);
    if (a.ins == 0x5C && a.p1 == 0x10 && a.p2 == 0x04) return doAgreement(a);
    Fail(kSwInsNotSupported);
}

Bytes SimGost2Applet::doInfo(const SimApdu& a) {
    if (a.p2 == 0x08) {  // the secure-messaging block of an index 1..4
        if (a.data.size() != 1 || a.data[0] < 1 || a.data[0] > 4) Fail(kSwBadParameter);
        return Respond(m_smParameters[a.data[0]]);
    }
    if (!a.data.empty()) Fail(kSwBadLength);
    return Respond(infoRecord(a.p2));
}

// Type, first (4), number (1..3), second (16), third (64): the block of that
// number then reads as first, number, second and the first 8 bytes of a
// digest of third.
Bytes SimGost2Applet::doSetSmInfo(const SimApdu& a, unsigned char type) {
    SimReader r(a.data, kSwBadLength);
    if (r.u8() != type) Fail(kSwBadParameter);
    const Bytes first = r.take(4);
    const unsigned char number = r.u8();
    const Bytes second = r.take(16);
    const Bytes third = r.take(64);
    if (!r.empty()) Fail(kSwBadLength);
    if (number < 1 || number > 3) Fail(kSwBadParameter);
    if (!m_user.verified) Fail(kSwNotVerified);
    Bytes block = first;
    block.push_back(number);
    block.insert(block.end(), second.begin(), second.end());
    const Bytes d = Digest(EVP_sha256(), {&third});
    block.insert(block.end(), d.begin(), d.begin() + 8);
    m_smParameters[number] = block;
    return Respond(kSwOk);
}

// Modes 01 and 02 carry a TLV (tag 02); 03 and 0A carry nothing. 20 00 ends.
Bytes SimGost2Applet::doSession(const SimApdu& a) {
    if (a.p1 == 0x20 && a.p2 == 0x00) {
        if (!a.data.empty()) Fail(kSwBadLength);
        if (m_session == kNoSession) Fail(kSwRefused);
        m_session = kNoSession;
        return Respond(kSwOk);
    }
    if (a.p1 != 0x10) Fail(kSwBadParameter);
    if (a.p2 == 0x01 || a.p2 == 0x02) {
        SimReader r(a.data, kSwBadLength);
        if (r.u8() != 0x02) Fail(kSwBadParameter);
        r.take(r.u8());
        if (!r.empty()) Fail(kSwBadLength);
    } else if (a.p2 == 0x03 || a.p2 == 0x0A) {
        if (!a.data.empty()) Fail(kSwBadLength);
    } else {
        Fail(kSwBadParameter);
    }
    // One mode at a time: the open one must be ended first.
    if (m_session != kNoSession) Fail(kSwRefused);
    m_session = a.p2;
    return Respond(kSwOk);
}

// Set-up: 10 04 takes [index] 01 and the host's 64 bytes and answers 64 of
// the applet's; 20 00 takes 32 bytes and answers 32; 30 00 sets the status.
Bytes SimGost2Applet::doSecureMessaging(const SimApdu& a) {
    SimReader r(a.data, kSwBadLength);
    if (a.p1 == 0x10 && a.p2 == 0x04) {
        Bytes index;
        if (a.data.size() == 0x42) index.push_back(r.u8());
        if (!index.empty() && (index[0] < 1 || index[0] > 4)) Fail(kSwBadParameter);
        if (r.u8() != 0x01) Fail(kSwBadParameter);
        const Bytes host = r.take(64);
        if (!r.empty()) Fail(kSwBadLength);
        m_smChallenge = Random(32);
        return Respond(Digest(EVP_sha512(), {&index, &host, &m_smChallenge}));
    }
    if (a.p1 == 0x20 && a.p2 == 0x00) {
        const Bytes host = r.take(32);
        if (!r.empty() || a.hasLe) Fail(kSwBadLength);
        if (m_smChallenge.empty()) Fail(kSwRefused);
        const Bytes out = Digest(EVP_sha256(), {&m_smChallenge, &host});
        m_smChallenge.clear();
        return Respond(out);
    }
    if (a.p1 == 0x30 && a.p2 == 0x00) {
        const unsigned char s = r.u8();
        if (!r.empty()) Fail(kSwBadLength);
        if (s != 0 && s != 2 && s != 3) Fail(kSwBadParameter);
        m_smStatus = s;
        return Respond(kSwOk);
    }
    Fail(kSwBadParameter);
}

Bytes SimGost2Applet::record(const Node& n) const {
    Bytes r;
    PutBe16(r, n.fid);
    r.push_back(n.folder ? 0x02 : 0x01);
    r.push_back(0x00);
    r.push_back(n.access);
    PutBe16(r, static_cast<uint16_t>(n.folder ? 0 : n.contents.size()));
    return r;
}

void SimGost2Applet::needAccess(const Node& file, unsigned char bit) const {
    if (!(file.access & bit) && !m_user.verified) Fail(kSwNotVerified);
}

Bytes SimGost2Applet::doFiles(const SimApdu& a) {
    switch (a.p1) {
    case 0x80:
        return doSelect(a);
    case 0x70:
        return doList(a);
    case 0x10: {  // size check: is there room for a file this large?
        SimReader r(a.data, kSwBadLength);
        const size_t size = r.be16();
        if (!r.empty() || a.p2 != 0x00) Fail(kSwBadLength);
        if (size + kNodeCost > freeMemory()) Fail(kSwNoMemory);
        m_pendingSize = size;
        return Respond(kSwOk);
    }
    case 0x30:
    case 0x40:
        return doCreate(a);
    case 0x50:
        if (!a.data.empty() || a.hasLe) Fail(kSwBadLength);
        return doDelete();
    case 0x60:
        return doRead(a);
    case 0x20:
        return doWrite(a);
    default:
        Fail(kSwBadParameter);
    }
}

Bytes SimGost2Applet::doSelect(const SimApdu& a) {
    const Node* n = nullptr;
    if (a.p2 == 0x01) {
        if (!a.data.empty()) Fail(kSwBadLength);
        n = &m_root;
    } else if (a.p2 == 0x02) {
        if (a.data.empty() || a.data.size() % 2) Fail(kSwBadLength);
        std::vector<uint16_t> below;
        SimReader r(a.data);
        while (!r.empty()) below.push_back(r.be16());
        n = find(below);
        if (!n) Fail(kSwNoSuchFile);
    } else {
        Fail(kSwBadParameter);
    }
    m_current = const_cast<Node*>(n);
    return Respond(record(*n));
}

Bytes SimGost2Applet::doList(const SimApdu& a) {
    if (!m_current->folder) Fail(kSwNoSuchFile);
    const auto& kids = m_current->children;
    size_t from = 0;
    if (a.p2 == 0x00) {  // the page after the entry named
        SimReader r(a.data, kSwBadLength);
        const uint16_t after = r.be16();
        if (!r.empty()) Fail(kSwBadLength);
        const auto it = std::find_if(kids.begin(), kids.end(), [&](const std::unique_ptr<Node>& k) { return k->fid == after; });
        if (it == kids.end()) Fail(kSwNoSuchFile);
        from = static_cast<size_t>(it - kids.begin()) + 1;
    } else if (a.p2 != 0x01 || !a.data.empty()) {
        Fail(kSwBadParameter);
    }
    Bytes out;
    for (size_t i = from; i < kids.size() && i < from + kPageEntries; ++i) {
        const Bytes rec = record(*kids[i]);
        out.insert(out.end(), rec.begin(), rec.end());
    }
    return Respond(out);
}

// Inside the selected folder: FID, 0D, access byte. A file takes the size of
// the last size check.
Bytes SimGost2Applet::doCreate(const SimApdu& a) {
    SimReader r(a.data, kSwBadLength);
    const uint16_t fid = r.be16();
    if (r.u8() != 0x0D) Fail(kSwBadParameter);
    const unsigned char access = r.u8();
    if (!r.empty()) Fail(kSwBadLength);
    const bool folder = a.p1 == 0x40;
    if ((folder && a.p2 != 0x00) || (!folder && a.p2 != 0x01)) Fail(kSwBadParameter);
    if (!m_current->folder) Fail(kSwNoSuchFile);
    if (m_current->child(fid)) Fail(kSwFileExists);
    const size_t size = folder ? 0 : m_pendingSize;
    if (size + kNodeCost > freeMemory()) Fail(kSwNoMemory);
    m_pendingSize = 0;
    add(*m_current, fid, folder, size, access);
    return Respond(kSwOk);
}

Bytes SimGost2Applet::doDelete() {
    Node* n = m_current;
    if (n == &m_root) Fail(kSwRefused);
    if (n->folder && !n->children.empty()) Fail(kSwFolderNotEmpty);
    if (!n->folder) needAccess(*n, kWriteFree);
    Node* parent = n->parent;
    auto& kids = parent->children;
    kids.erase(std::find_if(kids.begin(), kids.end(), [&](const std::unique_ptr<Node>& k) { return k.get() == n; }));
    m_current = parent;
    return Respond(kSwOk);
}

Bytes SimGost2Applet::doRead(const SimApdu& a) {
    SimReader r(a.data, kSwBadLength);
    const size_t offset = r.be16();
    if (r.u8() != 0x00) Fail(kSwBadParameter);
    const size_t n = r.u8();
    if (!r.empty() || a.p2 != 0x00) Fail(kSwBadLength);
    if (m_current->folder) Fail(kSwNoSuchFile);
    needAccess(*m_current, kReadFree);
    const Bytes& c = m_current->contents;
    if (offset + n > c.size() || offset + n > kMaxEnd) Fail(kSwOutside);
    return Respond(Bytes(c.begin() + static_cast<std::ptrdiff_t>(offset),
                         c.begin() + static_cast<std::ptrdiff_t>(offset + n)));
}

Bytes SimGost2Applet::doWrite(const SimApdu& a) {
    SimReader r(a.data, kSwBadLength);
    const size_t offset = r.be16();
    if (r.u8() != 0x00) Fail(kSwBadParameter);
    const size_t n = r.u8();
    const Bytes data = r.take(n);
    if (!r.empty() || a.p2 != 0x02) Fail(kSwBadLength);
    if (m_current->folder) Fail(kSwNoSuchFile);
    needAccess(*m_current, kWriteFree);
    Bytes& c = m_current->contents;
    if (offset + n > c.size() || offset + n > kMaxEnd) Fail(kSwOutside);
    std::copy(data.begin(), data.end(), c.begin() + static_cast<std::ptrdiff_t>(offset));
    return Respond(kSwOk);
}

// ---------------------------------------------------------------- keys and hashing

Bytes SimGost2Applet::publicKey(unsigned char id) const {
    auto it = m_keyPairs.find(id);
    return it == m_keyPairs.end() ? Bytes() : EcPublicXY(it->second);
}

const SimEcKey& SimGost2Applet::keyPair(unsigned char id) const {
    auto it = m_keyPairs.find(id);
    if (it == m_keyPairs.end()) Fail(kSwRefused);
    return it->second;
}

Bytes SimGost2Applet::doKeys(const SimApdu& a) {
    if (a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimReader r(a.data, kSwBadLength);
    switch (a.p1) {
    case 0x50: {  // generate: number, 01, flag
        const unsigned char id = r.u8();
        if (r.u8() != 0x01) Fail(kSwBadParameter);
        r.u8();
        if (!r.empty()) Fail(kSwBadLength);
        if (id != 1 && id != 2) Fail(kSwBadParameter);
        if (!m_user.verified) Fail(kSwNotVerified);
        m_keyPairs[id] = MakeEcKey();
        return Respond(Bytes{id});
    }
    case 0x60: {  // remove: kind, number
        const unsigned char kind = r.u8(), id = r.u8();
        if (!r.empty()) Fail(kSwBadLength);
        if (kind != 3 && kind != 4) Fail(kSwBadParameter);
        if (!m_user.verified) Fail(kSwNotVerified);
        keyPair(id);
        m_keyPairs.erase(id);
        return Respond(kSwOk);
    }
    case 0x70: {  // public key: kind, number
        const unsigned char kind = r.u8(), id = r.u8();
        if (!r.empty()) Fail(kSwBadLength);
        if (kind != 1 && kind != 3 && kind != 4) Fail(kSwBadParameter);
        return Respond(EcPublicXY(keyPair(id)));
    }
    case 0x10: {  // lists: 1 every key (number, parameter set 01, 00); 2 the numbers;
                  // 3 and 4 the key's own entry (4 and 3 bytes)
        const unsigned char kind = r.u8(), id = r.u8();
        if (!r.empty()) Fail(kSwBadLength);
        if (kind < 1 || kind > 4) Fail(kSwBadParameter);
        Bytes out;
        for (const auto& k : m_keyPairs) {
            if (kind == 1) out.insert(out.end(), {k.first, 0x01, 0x00});
            if (kind == 2) out.push_back(k.first);
            if (kind == 3 && k.first == id) out.insert(out.end(), {k.first, 0x01, 0x00, 0x00});
            if (kind == 4 && k.first == id) out.insert(out.end(), {k.first, 0x01, 0x01});
        }
        return Respond(out);
    }
    default:
        Fail(kSwWrongP1P2);
    }
}

Bytes SimGost2Applet::doHash(const SimApdu& a) {
    if (a.p1 == 0x30) {
        const EVP_MD* md = a.p2 == 1 ? EVP_sha256() : a.p2 == 2 ? EVP_sha512() : a.p2 == 3 ? EVP_sha3_256() : nullptr;
        if (!md || !a.data.empty() || a.hasLe) Fail(kSwBadParameter);
        m_hash.reset(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        EVP_DigestInit_ex(m_hash.get(), md, nullptr);
        return Respond(kSwOk);
    }
    if (!m_hash) Fail(kSwRefused);
    if (a.p1 == 0x40 && a.p2 == 0x00) {
        if (a.data.empty() || a.hasLe) Fail(kSwBadLength);
        EVP_DigestUpdate(m_hash.get(), a.data.data(), a.data.size());
        return Respond(kSwOk);
    }
    if (a.p1 == 0x50 && a.p2 == 0x00) {
        Bytes digest(EVP_MAX_MD_SIZE);
        unsigned int n = 0;
        EVP_DigestFinal_ex(m_hash.get(), digest.data(), &n);
        m_hash.reset();
        digest.resize(n);
        return Respond(digest);
    }
    Fail(kSwWrongP1P2);
}

Bytes SimGost2Applet::doSign(const SimApdu& a) {
    SimReader r(a.data, kSwBadLength);
    const unsigned char id = r.u8();
    r.take(r.u8());  // the extra data: the stand-in signature does not use it
    const Bytes hash = r.take(32);
    if (!r.empty()) Fail(kSwBadLength);
    if (!m_user.verified) Fail(kSwNotVerified);
    Bytes signature;
    if (!EcSignRaw(keyPair(id), hash, signature)) Fail(kSwNoPreciseDiagnosis);
    return Respond(signature);
}

Bytes SimGost2Applet::doAgreement(const SimApdu& a) {
    SimReader r(a.data, kSwBadLength);
    const unsigned char id = r.u8(), parameters = r.u8();
    if (r.u8() != 0x01) Fail(kSwBadParameter);
    const Bytes peer = r.take(64);
    const Bytes ukm = r.take(8);
    if (!r.empty()) Fail(kSwBadLength);
    if (parameters != 1 && parameters != 2) Fail(kSwBadParameter);
    if (!m_user.verified) Fail(kSwNotVerified);
    Bytes shared;
    if (!EcShared(keyPair(id), peer, shared)) Fail(kSwBadParameter);
    shared.insert(shared.end(), ukm.begin(), ukm.end());
    return Respond(Digest(EVP_sha512(), {&shared}));
}

}  // namespace cardsim
