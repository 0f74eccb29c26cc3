#include "sim_tessel.h"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "sim_crypto.h"

namespace cardsim {

const FidPath SimTesselApplet::kKeyDir = {0x3F00, 0x3000, 0x3002};
const FidPath SimTesselApplet::kContainer = {0x3F00, 0x3000, 0x3002, 0x5000};
const FidPath SimTesselApplet::kInfoFile = {0x3F00, 0x3000, 0xC000};
const Bytes SimTesselApplet::kDefaultUserPin = {'1', '2', '3', '4'};
const Bytes SimTesselApplet::kTicketKeyId = {0x00, 0x00, 0x01, 0x07};
const Bytes SimTesselApplet::kTicketKey = {0x3C, 0x1A, 0x9E, 0x52, 0x07, 0xD4, 0x6B, 0x88,
                                           0xF1, 0x25, 0x40, 0xAD, 0x19, 0x6E, 0xC3, 0x77};

namespace {

enum : unsigned char {
    kTagFcp = 0x62,
    kTagSize = 0x80,
    kTagFid = 0x83,
    kTagName = 0x84,
    kTagPinAttr = 0x85,
    kTagAccess = 0x86,
    kTagFdb = 0x87,
    kTagEntry = 0xD2,
    kTagFingers = 0xEA,
};

const uint16_t kSwBlocked = 0x6983;
const size_t kFingerSlots = 10;
const size_t kNameSize = 16;

// ---- BER-TLV of the commands the card is sent (one-byte tags, lengths up to 82 H L)

struct Tlv {
    unsigned char tag;
    Bytes value;
};

// False on any malformed element.
bool ParseBer(const Bytes& data, std::vector<Tlv>& out) {
    out.clear();
    size_t i = 0;
    while (i < data.size()) {
        Tlv e;
        e.tag = data[i++];
        if (i >= data.size()) return false;
        size_t n = data[i++];
        if (n == 0x81 || n == 0x82) {
            const size_t k = n - 0x80;
            if (data.size() - i < k) return false;
            n = 0;
            for (size_t j = 0; j < k; ++j) n = (n << 8) | data[i++];
        } else if (n >= 0x80) {
            return false;
        }
        if (data.size() - i < n) return false;
        e.value.assign(data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
        out.push_back(std::move(e));
    }
    return true;
}

const Bytes* Find(const std::vector<Tlv>& list, unsigned char tag) {
    for (const Tlv& e : list)
        if (e.tag == tag) return &e.value;
    return nullptr;
}

// The elements of the single template 62 a command carries.
std::vector<Tlv> Template(const Bytes& data) {
    std::vector<Tlv> outer, inner;
    if (!ParseBer(data, outer) || outer.size() != 1 || outer[0].tag != kTagFcp || !ParseBer(outer[0].value, inner))
        Fail(kSwWrongData);
    return inner;
}

void PutBer(Bytes& out, unsigned char tag, const Bytes& value) {
    out.push_back(tag);
    if (value.size() < 0x80) {
        out.push_back(static_cast<unsigned char>(value.size()));
    } else if (value.size() < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<unsigned char>(value.size()));
    } else {
        out.push_back(0x82);
        PutBe16(out, static_cast<uint16_t>(value.size()));
    }
    out.insert(out.end(), value.begin(), value.end());
}

// ---- the card's big numbers, on OpenSSL

struct Bn {
    BIGNUM* b = BN_new();
    Bn() = default;
    explicit Bn(const Bytes& v) { BN_bin2bn(v.data(), static_cast<int>(v.size()), b); }
    ~Bn() { BN_clear_free(b); }
    Bn(const Bn&) = delete;
    Bn& operator=(const Bn&) = delete;
    Bytes bytes(size_t pad = 0) const {
        const size_t n = std::max(pad, static_cast<size_t>(BN_num_bytes(b)));
        Bytes out(n);
        BN_bn2binpad(b, out.data(), static_cast<int>(n));
        return out;
    }
};

Bytes ModExp(const Bytes& base, const Bytes& e, const Bytes& m) {
    Bn x(base), y(e), p(m), r;
    BN_CTX* ctx = BN_CTX_new();
    BN_mod_exp(r.b, x.b, y.b, p.b, ctx);
    BN_CTX_free(ctx);
    return r.bytes();
}

Bytes Prime(BIGNUM* (*standard)(BIGNUM*)) {
    Bn p;
    standard(p.b);
    return p.bytes();
}

Bytes SmallPrime(int bits) {
    Bn p;
    BN_generate_prime_ex(p.b, bits, 0, nullptr, nullptr, nullptr);
    return p.bytes();
}

}  // namespace

SimTesselNode* SimTesselNode::child(uint16_t id) const {
    for (const auto& c : children)
        if (c->fid == id) return c.get();
    return nullptr;
}

// ---------------------------------------------------------------- the card as it leaves the factory

SimTesselApplet::SimTesselApplet(unsigned char loginType, bool withContainer) : m_userRef(loginType) {
    m_root.reset(new SimTesselNode);
    m_root->fid = 0x3F00;
    m_root->fdb = 0x38;
    m_root->access = {0x00, 0x10, 0x00, 0x10};
    const unsigned char r = m_userRef;
    putDirectory({0x3F00, 0x3000}, {0x00, 0x10, 0x00, 0x10, 0x00, 0x10});
    putDirectory({0x3F00, 0x3000, 0x3001}, {0x00, r, 0x00, r, 0x00, r});
    putDirectory(kKeyDir, {0x00, r, 0x00, r, 0x00, r, 0x00, r, 0x00, r, 0x00, r});
    if (withContainer) putDirectory(kContainer, {0x00, 0x00, 0x00, r, 0x00, r, 0x00, r, 0x00, 0x00, 0x00, 0x00});
    Bytes infoFile(128, 0);
    const char label[] = "Tessel Sim";
    std::fill(infoFile.begin(), infoFile.begin() + 32, ' ');
    std::copy(label, label + sizeof label - 1, infoFile.begin());
    infoFile[97] = 0x05;
    putFile(kInfoFile, infoFile, {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x10});

    setUserPin(kDefaultUserPin);
    SimTesselPin admin;
    admin.value = {'8', '7', '6', '5', '4', '3', '2', '1'};
    admin.kind = 0x00;
    admin.triesLeft = admin.limit = 3;
    m_pins[kAdminPin] = admin;
    SimTesselPin counted;  // counts its tries in the counter object 0020
    counted.value = {'1', '1', '1', '1'};
    counted.kind = 0x0F;
    counted.triesLeft = counted.limit = 5;
    m_pins[0x11] = counted;
    SimTesselPin other;
    other.value = {'2', '2', '2', '2'};
    other.kind = 0x05;
    m_pins[0x12] = other;

    m_ticketKeys[kTicketKeyId] = kTicketKey;
    serial = {0x54, 0x53, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
    m_current = m_root.get();
}

Bytes SimTesselApplet::aid() const { return {0xA0, 0x00, 0x00, 0x01, 0x64, 'Q', 'U', 'I', 'L', 'T', 0x00, 0x01}; }

void SimTesselApplet::onSelect() {
    m_current = m_root.get();
    m_currentPin = -1;
}

void SimTesselApplet::onDeselect() {
    onSelect();
    for (auto& p : m_pins) p.second.verified = false;
    m_bioVerified = false;
    m_unblockArmed = false;
    m_challenge.clear();
    m_session = m_agreed = false;
    m_smData.clear();
    m_chained.clear();
    m_pending.clear();
}

void SimTesselApplet::setUserPin(const Bytes& pin, unsigned char tries) {
    SimTesselPin& p = m_pins[m_userRef];
    p.value = pin;
    p.kind = 0x01;
    p.triesLeft = p.limit = tries;
    p.verified = false;
}

SimTesselPin* SimTesselApplet::pin(unsigned char reference) {
    auto it = m_pins.find(reference);
    return it == m_pins.end() ? nullptr : &it->second;
}

void SimTesselApplet::splitAnswers(size_t chunk, unsigned char sw1, bool endless) {
    m_splitChunk = chunk;
    m_splitSw1 = sw1;
    m_endless = endless;
}

void SimTesselApplet::setInfoMark(unsigned char mark) { find(kInfoFile)->content.at(97) = mark; }

void SimTesselApplet::setInfoSize(size_t size) { find(kInfoFile)->content.resize(size, 0); }

// ---------------------------------------------------------------- the tree

SimTesselNode* SimTesselApplet::find(const FidPath& p) const {
    if (p.empty() || p[0] != 0x3F00) return nullptr;
    SimTesselNode* n = m_root.get();
    for (size_t i = 1; i < p.size() && n; ++i) n = n->child(p[i]);
    return n;
}

FidPath SimTesselApplet::pathOf(const SimTesselNode* n) const {
    FidPath p;
    for (; n; n = n->parent) p.insert(p.begin(), n->fid);
    return p;
}

SimTesselNode* SimTesselApplet::putNode(const FidPath& p, unsigned char fdb, const Bytes& access) {
    SimTesselNode* parent = find(FidPath(p.begin(), p.end() - 1));
    if (!parent || parent->child(p.back())) return nullptr;
    std::unique_ptr<SimTesselNode> n(new SimTesselNode);
    n->fid = p.back();
    n->fdb = fdb;
    n->access = access;
    n->parent = parent;
    parent->children.push_back(std::move(n));
    return parent->children.back().get();
}

SimTesselNode* SimTesselApplet::putDirectory(const FidPath& p, const Bytes& access, const Bytes& name) {
    SimTesselNode* n = putNode(p, 0x38, access);
    if (n) n->name = name;
    return n;
}

SimTesselNode* SimTesselApplet::putFile(const FidPath& p, const Bytes& content, const Bytes& access) {
    SimTesselNode* n = putNode(p, 0x01, access);
    if (n) n->content = content;
    return n;
}

void SimTesselApplet::dumpNode(const SimTesselNode& n, int depth, std::string& out) const {
    char head[32];
    std::snprintf(head, sizeof head, "%04X", n.fid);
    out.append(static_cast<size_t>(2 * depth), ' ');
    out += head;
    if (n.directory()) {
        out += "/";
        if (!n.name.empty()) out += " name " + ToHex(n.name);
    } else {
        out += " (" + std::to_string(n.content.size()) + ")";
        if (n.fdb != 0x01) out += " kind " + ToHex(Bytes{n.fdb});
    }
    out += " access " + ToHex(n.access) + "\n";
    for (const auto& c : n.children) dumpNode(*c, depth + 1, out);
}

std::string SimTesselApplet::dump() const {
    std::string out;
    dumpNode(*m_root, 0, out);
    return out;
}

SimTesselNode& SimTesselApplet::currentDirectory() const {
    SimTesselNode* n = m_current ? m_current : m_root.get();
    return n->directory() ? *n : *n->parent;
}

SimTesselNode& SimTesselApplet::currentFile() const {
    if (!m_current || m_current->directory()) Fail(kSwIncompatibleFile);
    return *m_current;
}

// ---------------------------------------------------------------- access

bool SimTesselApplet::granted(unsigned char c) const {
    auto verified = [this](unsigned char ref) {
        auto it = m_pins.find(ref);
        return it != m_pins.end() && it->second.verified;
    };
    switch (c) {
    case 0x00: return true;
    case 0xFF: return false;
    case 0x20: return verified(m_userRef);
    case 0x23: return m_bioVerified;
    case 0x24: return verified(m_userRef) || m_bioVerified;
    case 0x25: return verified(m_userRef) && m_bioVerified;
    default: return verified(c);
    }
}

void SimTesselApplet::needAccess(const Bytes& access, size_t index) const {
    const unsigned char c = index < access.size() ? access[index] : 0xFF;
    if (!granted(c)) Fail(kSwSecurity);
}

// ---------------------------------------------------------------- dispatch

Bytes SimTesselApplet::answer(const Bytes& data, const SimApdu& a) {
    size_t room = a.hasLe ? a.le : 256;
    if (m_splitChunk) room = std::min(room, m_splitChunk);
    if (data.size() <= room) return Respond(data);
    Bytes first(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(room));
    m_pending.assign(data.begin() + static_cast<std::ptrdiff_t>(room), data.end());
    const size_t rest = std::min<size_t>(m_pending.size(), 256);
    return Respond(first, static_cast<uint16_t>((m_splitSw1 << 8) | (rest & 0xFF)));
}

Bytes SimTesselApplet::doGetResponse(const SimApdu& a) {
    if (m_endless) return Respond(Bytes{0x00}, static_cast<uint16_t>(m_splitSw1 << 8 | 0x01));
    if (m_pending.empty()) Fail(kSwConditions);
    Bytes rest;
    rest.swap(m_pending);
    return answer(rest, a);
}

Bytes SimTesselApplet::process(const SimApdu& a) {
    // GET RESPONSE comes with class 00, or with the class of the command it
    // continues (as javax.smartcardio sends it).
    const bool getResponse = a.ins == 0xC0 && (a.cla == 0x00 || a.cla == 0x80);
    if (!getResponse) m_pending.clear();
    if (getResponse) return doGetResponse(a);
    // Protected pieces: CLA with bits 0C.
    if ((a.cla & 0x0C) == 0x0C) return doProtected(a);
    return dispatch(a);
}

Bytes SimTesselApplet::dispatch(const SimApdu& a) {
    const uint16_t op = static_cast<uint16_t>((a.cla << 8) | a.ins);
    switch (op) {
    case 0x00C0: return doGetResponse(a);
    case 0x80A4: return doSelect(a);
    case 0x00E0: return doCreate(a);
    case 0x00E4: return doDelete(a);
    case 0x80E8: return doWriteAccess(a);
    case 0x8032: return doResize(a);
    case 0x00B0: return doRead(a);
    case 0x00D6: return doUpdate(a);
    case 0x8030: return doList(a);
    case 0x00CB:
    case 0x80CB: return doInfo(a);
    case 0x0084: return doChallenge(a);
    case 0x80CE: return doLoginState(a);
    case 0x8020: return doResponseLogin(a);
    case 0x0020: return doVerify(a, false);
    case 0x8082: return doVerify(a, true);
    case 0x8028: return doLogout(a);
    case 0x802C: return doPrepare(a);
    case 0x8024:
    case 0x1024: return doChange(a, false);
    case 0x8048:
        if (a.p2 == 0x80) return doAgreement(a);
        // With a key selected the same command reads its public key.
        return a.p1 == 0x00 && a.p2 == 0x00 && selectedKey() >= 0 ? doPublicKey(a) : doFingers(a);
    case 0x0047: return doGenerate(a);
    case 0x002A:
    case 0x102A: return doKeyOperation(a);
    case 0x8086: return doHostValue(a);
    case 0x1022: return doMatch(a);
    case 0x0022: return a.p1 == 0x03 ? doTicketLogin(a) : doMatch(a);
    default: break;
    }
    Fail(a.cla == 0x00 || a.cla == 0x80 || a.cla == 0x10 ? kSwInsNotSupported : kSwClaNotSupported);
}

// ---------------------------------------------------------------- files

Bytes SimTesselApplet::fcp(const SimTesselNode& n) const {
    auto dropped = [this](unsigned char t) { return std::find(m_dropTags.begin(), m_dropTags.end(), t) != m_dropTags.end(); };
    Bytes inner;
    Bytes fid;
    PutBe16(fid, n.fid);
    PutBer(inner, kTagFid, fid);
    PutBer(inner, kTagFdb, Bytes{n.fdb});
    Bytes size;
    PutBe16(size, static_cast<uint16_t>(n.directory() ? 0x0400 : n.content.size()));
    if (!dropped(kTagSize)) PutBer(inner, kTagSize, size);
    PutBer(inner, kTagAccess, n.access);
    if (!n.name.empty() && !dropped(kTagName)) PutBer(inner, kTagName, n.name);
    Bytes out;
    PutBer(out, kTagFcp, inner);
    return out;
}

Bytes SimTesselApplet::pinFcp(unsigned char ref) const {
    unsigned char kind = 0x0B, tries = 0x55;
    if (ref == kCounterObject) {
        // The counter object keeps the tries of the PINs of kind 0F.
        kind = 0x0E;
        for (const auto& p : m_pins)
            if (p.second.kind == 0x0F) tries = static_cast<unsigned char>(p.second.triesLeft << 4 | p.second.limit);
    } else if (ref == kBioObject && !m_pins.count(ref)) {
        kind = 0x0B;
        tries = static_cast<unsigned char>(m_bioTries << 4 | 5);
    } else {
        const SimTesselPin& p = m_pins.at(ref);
        kind = p.kind;
        tries = p.kind == 0x0F ? 0x00 : static_cast<unsigned char>(p.triesLeft << 4 | p.limit);
    }
    Bytes inner;
    PutBer(inner, kTagFid, Bytes{0x00, ref});
    PutBer(inner, kTagPinAttr, Bytes{0x00, ref, kind, 0x00, tries});
    Bytes out;
    PutBer(out, kTagFcp, inner);
    return out;
}

Bytes SimTesselApplet::doSelect(const SimApdu& a) {
    if (a.p2 != 0x0C) Fail(kSwWrongP1P2);
    SimTesselNode* target = nullptr;
    if (a.p1 == 0x08) {
        if (a.data.empty() || a.data.size() % 2) Fail(kSwWrongLength);
        FidPath p;
        SimReader r(a.data);
        while (!r.empty()) p.push_back(r.be16());
        if (p.size() == 2 && p[0] == 0x3F00 && p[1] < 0x100) {
            const unsigned char ref = static_cast<unsigned char>(p[1]);
            if (m_pins.count(ref) || ref == kCounterObject || ref == kBioObject) {
                m_currentPin = ref;
                return answer(pinFcp(ref), a);
            }
        }
        target = find(p);
    } else if (a.p1 == 0x00) {
        const uint16_t fid = Be16Value(a.data);
        target = fid == 0x3F00 ? m_root.get() : currentDirectory().child(fid);
    } else if (a.p1 == 0x04) {
        if (a.data.size() != kNameSize) Fail(kSwWrongLength);
        for (const auto& c : currentDirectory().children)
            if (c->directory() && c->name == a.data) target = c.get();
    } else {
        Fail(kSwWrongP1P2);
    }
    if (!target) Fail(kSwNotFound);
    m_current = target;
    m_currentPin = -1;
    return answer(fcp(*target), a);
}

Bytes SimTesselApplet::doCreate(const SimApdu& a) {
    if (a.p1 != 0x01 && a.p1 != 0x38 && a.p1 != 0x08) Fail(kSwWrongP1P2);
    SimTesselNode& dir = currentDirectory();
    needAccess(dir.access, 1);
    const std::vector<Tlv> t = Template(a.data);
    const Bytes* fid = Find(t, kTagFid);
    if (!fid) Fail(kSwWrongData);
    const uint16_t id = Be16Value(*fid);
    if (id == 0x3F00 || id == 0x0000 || id == 0xFFFF) Fail(kSwWrongData);
    if (dir.child(id)) Fail(kSwFileExists);
    const Bytes* size = Find(t, kTagSize);
    const size_t n = size ? Be16Value(*size) : 0;
    if (n >= 0x8000) Fail(kSwWrongData);
    size_t used = 0;
    std::vector<const SimTesselNode*> walk = {m_root.get()};
    while (!walk.empty()) {
        const SimTesselNode* w = walk.back();
        walk.pop_back();
        used += w->content.size();
        for (const auto& c : w->children) walk.push_back(c.get());
    }
    if (a.p1 != 0x38 && used + n > memoryTotal) Fail(kSwNoMemory);

    std::unique_ptr<SimTesselNode> node(new SimTesselNode);
    node->fid = id;
    node->fdb = a.p1;
    if (const Bytes* v = Find(t, kTagAccess)) node->access = *v;
    if (const Bytes* v = Find(t, kTagName)) node->name = *v;
    if (a.p1 != 0x38) node->content.assign(n, 0);
    for (const Tlv& e : t)
        if (e.tag != kTagFid && e.tag != kTagSize && e.tag != kTagAccess && e.tag != kTagName) PutBer(node->extra, e.tag, e.value);
    node->parent = &dir;
    // A key file with its key parts (71) is a key of the key folder.
    const Bytes* keyParts = Find(t, 0x71);
    const bool keyImport = a.p1 == 0x08 && keyParts && pathOf(&dir) == kKeyDir && (id & 0xFF00) == 0x0200;
    dir.children.push_back(std::move(node));
    if (keyImport) {
        std::vector<Tlv> parts;
        if (!ParseBer(*keyParts, parts)) Fail(kSwWrongData);
        const Bytes *e = Find(parts, 0x90), *n = Find(parts, 0x91), *d = Find(parts, 0x92);
        if (!e || !n || !d) Fail(kSwWrongData);
        const SimRsaKey key = RsaKeyFromParts(*n, *e, *d);
        const unsigned char nn = static_cast<unsigned char>(id & 0xFF);
        m_rsaKeys[nn] = key;
        keyFiles(nn, static_cast<size_t>(RsaBits(key) + 7) / 8);
    }
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doDelete(const SimApdu& a) {
    if (!a.data.empty()) Fail(kSwWrongLength);
    SimTesselNode* n = m_current;
    if (!n || n == m_root.get()) Fail(kSwConditions);
    if ((a.p1 == 0x01) != n->directory()) Fail(kSwIncompatibleFile);
    needAccess(n->access, n->directory() ? 3 : 5);
    SimTesselNode* parent = n->parent;
    parent->children.erase(std::find_if(parent->children.begin(), parent->children.end(),
                                        [n](const std::unique_ptr<SimTesselNode>& c) { return c.get() == n; }));
    m_current = parent;
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doWriteAccess(const SimApdu& a) {
    if (!m_current) Fail(kSwNoCurrentEf);
    const std::vector<Tlv> t = Template(a.data);
    const Bytes* access = Find(t, kTagAccess);
    if (!access) Fail(kSwWrongData);
    m_current->access = *access;
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doResize(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x01 || a.data.size() != 4) Fail(kSwWrongLength);
    SimTesselNode& f = currentFile();
    needAccess(f.access, 3);
    const size_t n = static_cast<size_t>((a.data[0] << 8) | a.data[1]);
    f.content.resize(n, 0);
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doRead(const SimApdu& a) {
    SimTesselNode& f = currentFile();
    needAccess(f.access, 1);
    const size_t offset = static_cast<size_t>((a.p1 << 8) | a.p2);
    if (offset > f.content.size()) Fail(kSwOutsideFile);
    const size_t want = a.hasLe ? a.le : 256;
    const size_t n = std::min(want, f.content.size() - offset);
    const Bytes data(f.content.begin() + static_cast<std::ptrdiff_t>(offset),
                     f.content.begin() + static_cast<std::ptrdiff_t>(offset + n));
    if (n < want) return Respond(data, kSwEndOfFile);
    return answer(data, a);
}

Bytes SimTesselApplet::doUpdate(const SimApdu& a) {
    SimTesselNode& f = currentFile();
    needAccess(f.access, 3);
    const size_t offset = static_cast<size_t>((a.p1 << 8) | a.p2);
    if (offset + a.data.size() > f.content.size()) Fail(kSwOutsideFile);
    std::copy(a.data.begin(), a.data.end(), f.content.begin() + static_cast<std::ptrdiff_t>(offset));
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doList(const SimApdu& a) {
    if (a.p1 != 0x01 && a.p1 != 0x38 && a.p1 != 0x08) Fail(kSwWrongP1P2);
    if (!m_current || !m_current->directory()) Fail(kSwIncompatibleFile);
    Bytes out;
    for (const auto& c : m_current->children) {
        if (c->fdb != a.p1) continue;
        Bytes v;
        PutBe16(v, c->fid);
        if (c->directory() && !c->name.empty()) v.insert(v.end(), c->name.begin(), c->name.end());
        PutBer(out, kTagEntry, v);
    }
    return answer(out, a);
}

// ---------------------------------------------------------------- information

Bytes SimTesselApplet::doInfo(const SimApdu& a) {
    auto be32 = [](uint32_t v) {
        return Bytes{static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                     static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    };
    if (a.cla == 0x00 && a.p1 == 0x00 && a.p2 == 0x03) return answer(version, a);
    if (a.cla == 0x80 && a.p1 == 0x01) {
        if (a.p2 == 0x14) return answer(serial, a);
        if (a.p2 == 0x10) return answer(be32(memoryTotal), a);
        if (a.p2 == 0x11) {
            size_t used = 0;
            std::vector<const SimTesselNode*> walk = {m_root.get()};
            while (!walk.empty()) {
                const SimTesselNode* w = walk.back();
                walk.pop_back();
                used += w->content.size();
                for (const auto& c : w->children) walk.push_back(c.get());
            }
            return answer(be32(static_cast<uint32_t>(used > memoryTotal ? 0 : memoryTotal - used)), a);
        }
    }
    Fail(kSwWrongP1P2);
}

Bytes SimTesselApplet::doChallenge(const SimApdu& a) {
    if (!a.hasLe || a.le == 0 || a.le > 8) Fail(kSwWrongLength);
    m_challenge = Random(a.le);
    return Respond(m_challenge);
}

Bytes SimTesselApplet::takeChallenge() {
    Bytes c;
    c.swap(m_challenge);
    if (c.size() != 8) Fail(kSwConditions);
    return c;
}

// ---------------------------------------------------------------- PINs

Bytes SimTesselApplet::doLoginState(const SimApdu& a) {
    Bytes out;
    for (const auto& p : m_pins)
        if (p.second.verified) out.insert(out.end(), {0x01, 0x02, p.first});
    if (m_bioVerified && !m_pins.count(kBioObject)) out.insert(out.end(), {0x01, 0x02, kBioObject});
    return answer(out, a);
}

SimTesselPin& SimTesselApplet::currentPin() {
    if (m_currentPin < 0) Fail(kSwConditions);
    auto it = m_pins.find(static_cast<unsigned char>(m_currentPin));
    if (it == m_pins.end()) Fail(kSwConditions);
    return it->second;
}

Bytes SimTesselApplet::checkPin(SimTesselPin& p, bool ok) {
    if (p.triesLeft == 0) Fail(kSwBlocked);
    if (!ok) {
        --p.triesLeft;
        p.verified = false;
        Fail(p.triesLeft == 0 ? kSwBlocked : static_cast<uint16_t>(0x63C0 | p.triesLeft));
    }
    p.triesLeft = p.limit;
    p.verified = true;
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doResponseLogin(const SimApdu& a) {
    if (a.data.size() != 16) Fail(kSwWrongLength);
    SimTesselPin& p = m_currentPin < 0 ? m_pins.at(m_userRef) : currentPin();
    const Bytes challenge = takeChallenge();
    // R = TDEA-CBC(first 16 bytes of SHA-1(PIN), x || challenge): its second block
    // decrypts, under the first as IV, to the challenge.
    Bytes key = Sha1(p.value);
    key.resize(16);
    const Bytes plain = simcrypto::TdesCbc(key, a.data, Bytes(), false);
    return checkPin(p, !p.value.empty() && SameBytes(Bytes(plain.begin() + 8, plain.end()), challenge));
}

Bytes SimTesselApplet::doVerify(const SimApdu& a, bool) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimTesselPin& p = currentPin();
    return checkPin(p, SameBytes(a.data, p.value));
}

Bytes SimTesselApplet::doLogout(const SimApdu& a) {
    if (a.data.size() != 4) Fail(kSwWrongLength);
    const unsigned char ref = a.data[3];
    if (ref == 0x00) {
        for (auto& p : m_pins) p.second.verified = false;
        m_bioVerified = false;
    } else {
        if (SimTesselPin* p = pin(ref)) p->verified = false;
        if (ref == kBioObject) m_bioVerified = false;
    }
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doPrepare(const SimApdu&) {
    // Arms the next change to unblock the PIN object; the administrator's task.
    if (!granted(kAdminPin)) Fail(kSwSecurity);
    m_unblockArmed = true;
    return Respond(kSwOk);
}

// A chained command (CLA 10) is kept until its last piece; false for a piece, true
// with the whole body for the last one (or a command that came whole).
bool SimTesselApplet::reassemble(const SimApdu& a, Bytes& body) {
    if (a.cla == 0x10) {
        if (!m_chained.empty() && m_chainedIns != a.ins) m_chained.clear();
        m_chainedIns = a.ins;
        m_chained.insert(m_chained.end(), a.data.begin(), a.data.end());
        return false;
    }
    body.clear();
    if (m_chainedIns == a.ins) body.swap(m_chained);
    m_chained.clear();
    body.insert(body.end(), a.data.begin(), a.data.end());
    return true;
}

Bytes SimTesselApplet::doChange(const SimApdu& a, bool secure) {
    Bytes body;
    if (!reassemble(a, body)) return Respond(kSwOk);

    // A new PIN: 62 81 (L+2) 81 L PIN, the inner length one byte whatever its value.
    if (body.size() >= 6 && body[0] == kTagFcp && body[1] == 0x81 && body[2] == body.size() - 3 && body[3] == 0x81 &&
        body[4] == body.size() - 5) {
        // It travels under secure messaging only.
        if (!secure) Fail(kSwSecurity);
        SimTesselPin& p = currentPin();
        if (!p.verified && !m_unblockArmed) Fail(kSwSecurity);
        p.value.assign(body.begin() + 5, body.end());
        p.triesLeft = p.limit;
        m_unblockArmed = false;
        return Respond(kSwOk);
    }
    const std::vector<Tlv> t = Template(body);

    if (const Bytes* erase = Find(t, kTagFingers)) {
        if (erase->size() != 1) Fail(kSwWrongData);
        if (!granted(m_userRef)) Fail(kSwSecurity);
        if (!m_fingers.erase((*erase)[0])) Fail(kSwDataNotFound);
        return Respond(kSwOk);
    }
    const Bytes* first = Find(t, 0x81);
    if (!first) Fail(kSwWrongData);
    if (const Bytes* finger = Find(t, 0x83)) {
        const Bytes* second = Find(t, 0x82);
        const Bytes* algorithm = Find(t, 0x84);
        if (!second || !algorithm || finger->size() != 1) Fail(kSwWrongData);
        if (!granted(m_userRef)) Fail(kSwSecurity);
        m_fingers[(*finger)[0]] = SimTesselFinger{*first, *second};
        return Respond(kSwOk);
    }
    Fail(kSwWrongData);
}

// ---------------------------------------------------------------- biometrics

Bytes SimTesselApplet::doFingers(const SimApdu& a) {
    if (a.p2 != 0x00) Fail(kSwWrongP1P2);
    Bytes out;
    if (a.p1 == 0x00) {
        Bytes slots(kFingerSlots, 0);
        for (const auto& f : m_fingers)
            if (f.first < kFingerSlots) slots[f.first] = static_cast<unsigned char>(f.first + 1);
        PutBer(out, kTagFingers, slots);
        return answer(out, a);
    }
    auto it = m_fingers.find(a.p1);
    if (it == m_fingers.end()) Fail(kSwDataNotFound);
    PutBer(out, 0x82, it->second.second);
    return answer(out, a);
}

Bytes SimTesselApplet::doMatch(const SimApdu& a) {
    if (a.p1 != 0x02 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    Bytes body;
    if (!reassemble(a, body)) return Respond(kSwOk);
    const std::vector<Tlv> t = Template(body);
    const Bytes* finger = Find(t, 0x83);
    const Bytes* data = Find(t, 0x81);
    if (!finger || !data || finger->size() != 1) Fail(kSwWrongData);
    auto it = m_fingers.find((*finger)[0]);
    if (it == m_fingers.end()) Fail(kSwDataNotFound);
    if (m_bioTries == 0) Fail(kSwBlocked);
    if (!SameBytes(*data, it->second.first)) {
        --m_bioTries;
        m_bioVerified = false;
        Fail(static_cast<uint16_t>(0x63C0 | m_bioTries));
    }
    m_bioTries = 5;
    m_bioVerified = true;
    return answer(Sha1(*data), a);
}

Bytes SimTesselApplet::doTicketLogin(const SimApdu& a) {
    if (a.p2 != 0x00 || a.data.size() != 12) Fail(kSwWrongLength);
    if (m_currentPin != kBioObject) Fail(kSwConditions);
    const Bytes keyId(a.data.begin(), a.data.begin() + 4), cryptogram(a.data.begin() + 4, a.data.end());
    auto it = m_ticketKeys.find(keyId);
    if (it == m_ticketKeys.end()) Fail(kSwDataNotFound);
    const Bytes challenge = takeChallenge();
    if (!SameBytes(simcrypto::TdesCbc(it->second, challenge, Bytes(), true), cryptogram)) {
        m_bioVerified = false;
        Fail(kSwSecurity);
    }
    m_bioVerified = true;
    return Respond(kSwOk);
}

// ---------------------------------------------------------------- secure messaging

Bytes SimTesselApplet::doAgreement(const SimApdu& a) {
    if (a.p1 != 0x00) Fail(kSwWrongP1P2);
    switch (m_agreement) {
    case Agreement::ShortModulus: m_p = SmallPrime(256); break;
    case Agreement::LongModulus: m_p = Prime(BN_get_rfc3526_prime_2048); break;
    default: m_p = Prime(BN_get_rfc2409_prime_1024); break;
    }
    m_g = {0x02};
    m_y = Random(20);
    Bytes publicValue = ModExp(m_g, m_y, m_p);
    Bytes p = m_p;
    if (m_agreement == Agreement::EvenModulus) p.back() = static_cast<unsigned char>(p.back() + 1);
    if (m_agreement == Agreement::CardValueOne) publicValue = {0x01};
    Bytes out;
    PutBer(out, 0x80, m_g);
    PutBer(out, 0x81, p);
    if (m_agreement != Agreement::NoTag) PutBer(out, 0x82, publicValue);
    m_agreed = true;
    m_session = false;
    return answer(out, a);
}

Bytes SimTesselApplet::doHostValue(const SimApdu& a) {
    if (a.p1 == 0xFF && a.p2 == 0xFF) {
        m_session = m_agreed = false;
        m_encKey.assign(m_encKey.size(), 0);
        m_macKey.assign(m_macKey.size(), 0);
        ++m_sessionsClosed;
        return Respond(kSwOk);
    }
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    if (!m_agreed) Fail(kSwConditions);
    if (a.data.empty()) Fail(kSwWrongLength);
    Bytes z = ModExp(a.data, m_y, m_p);
    // The host writes Z in whole 32-bit words; so does the card.
    const size_t n = (z.size() + 3) / 4 * 4;
    z.insert(z.begin(), n - z.size(), 0x00);
    if (z.size() < 40) Fail(kSwWrongData);
    const Bytes r = Random(32);
    m_encKey.assign(16, 0);
    m_macKey.assign(16, 0);
    for (size_t i = 0; i < 16; ++i) {
        m_encKey[i] = static_cast<unsigned char>(z[i] ^ r[i]);
        m_macKey[i] = static_cast<unsigned char>(z[24 + i] ^ r[16 + i]);
    }
    m_session = true;
    m_nextCounter = 1;
    m_smData.clear();
    if (m_agreement == Agreement::ShortReply) return Respond(Bytes(r.begin(), r.begin() + 31));
    return answer(r, a);
}

Bytes SimTesselApplet::doProtected(const SimApdu& a) {
    if (!m_session) Fail(kSwSecurity);
    const bool more = (a.cla & 0x10) != 0;
    const unsigned char counter = m_nextCounter;
    // 87 81 L 01 cryptogram, 8E 08 MAC; no Le.
    SimReader r(a.data, kSwSmObjects);
    if (a.hasLe || r.u8() != 0x87 || r.u8() != 0x81) {
        m_smData.clear();
        Fail(kSwSmObjects);
    }
    const size_t l = r.u8();
    if (l < 9 || r.u8() != 0x01) Fail(kSwSmObjects);
    const Bytes cryptogram = r.take(l - 1);
    if (r.u8() != 0x8E || r.u8() != 0x08) Fail(kSwSmObjects);
    const Bytes mac = r.take(8);
    if (!r.empty() || cryptogram.size() % 8) Fail(kSwSmObjects);

    Bytes macInput = {0, 0, 0, 0, 0, 0, 0, counter, a.cla, a.ins, a.p1, a.p2, 0x80, 0, 0, 0, 0x87, 0x81,
                      static_cast<unsigned char>(l), 0x01};
    macInput.insert(macInput.end(), cryptogram.begin(), cryptogram.end());
    m_smCounters.push_back(counter);
    if (!SameBytes(simcrypto::RetailMac(m_macKey, Pad2(macInput)), mac)) {
        m_smData.clear();
        m_nextCounter = 1;
        Fail(kSwSmObjects);
    }
    Bytes plain = simcrypto::TdesCbc(m_encKey, cryptogram, Bytes(), false);
    if (!Unpad2(plain)) Fail(kSwSmObjects);
    m_smData.insert(m_smData.end(), plain.begin(), plain.end());
    m_nextCounter = static_cast<unsigned char>(counter + 2);
    if (more) return Respond(kSwOk);

    SimApdu inner;
    inner.cla = static_cast<unsigned char>(a.cla & ~0x1C);
    inner.ins = a.ins;
    inner.p1 = a.p1;
    inner.p2 = a.p2;
    inner.data.swap(m_smData);
    m_nextCounter = 1;
    if (inner.cla == 0x80 && inner.ins == 0x24) return doChange(inner, true);
    return dispatch(inner);
}

// ---------------------------------------------------------------- RSA keys

void SimTesselApplet::keyFiles(unsigned char nn, size_t size) {
    const Bytes access = find(kKeyDir)->access;
    if (!find({0x3F00, 0x3000, 0x3002, static_cast<uint16_t>(0x0200 | nn)}))
        putFile({0x3F00, 0x3000, 0x3002, static_cast<uint16_t>(0x0200 | nn)}, Bytes(), access);
    const uint16_t attributes = static_cast<uint16_t>(((nn | 0x40) + 1) & 0xFF);
    if (SimTesselNode* f = find({0x3F00, 0x3000, 0x3002, attributes}))
        f->content.assign(size, 0x00);
    else
        putFile({0x3F00, 0x3000, 0x3002, attributes}, Bytes(size, 0x00), access);
}

namespace {
// An attribute file: seven header bytes, then the certificate record 00 11 00 LL LL.
Bytes CertificateAttributes(const Bytes& der) {
    Bytes out = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00};
    PutBe16(out, static_cast<uint16_t>(der.size()));
    out.insert(out.end(), der.begin(), der.end());
    out.insert(out.end(), {0xFF, 0xFF});
    return out;
}
}  // namespace

void SimTesselApplet::addKey(unsigned char nn, const SimRsaKey& key, const Bytes& der) {
    m_rsaKeys[nn] = key;
    keyFiles(nn, static_cast<size_t>(RsaBits(key) + 7) / 8);
    if (!der.empty()) addCertificate(static_cast<uint16_t>((nn & 0xBF) | 0x8400), der);
}

void SimTesselApplet::addCertificate(uint16_t fid, const Bytes& der) {
    putFile({0x3F00, 0x3000, 0x3001, fid}, CertificateAttributes(der), find({0x3F00, 0x3000, 0x3001})->access);
}

SimRsaKey SimTesselApplet::key(unsigned char nn) const {
    auto it = m_rsaKeys.find(nn);
    return it == m_rsaKeys.end() ? SimRsaKey() : it->second;
}

int SimTesselApplet::selectedKey() const {
    if (!m_current || m_currentPin >= 0 || !m_current->parent || pathOf(m_current->parent) != kKeyDir) return -1;
    const uint16_t fid = m_current->fid;
    // The key file 02nn, or the attribute file (nn OR 40) + 1.
    const int nn = (fid & 0xFF00) == 0x0200 ? (fid & 0xFF) : (fid & 0xFF00) == 0 ? ((fid - 1) & 0xBF) : -1;
    return nn >= 0 && m_rsaKeys.count(static_cast<unsigned char>(nn)) ? nn : -1;
}

Bytes SimTesselApplet::doPublicKey(const SimApdu& a) {
    const SimRsaKey k = key(static_cast<unsigned char>(selectedKey()));
    Bytes inner;
    PutBer(inner, 0x81, RsaModulus(k));
    PutBer(inner, 0x82, RsaPublicExponent(k));
    Bytes out = {0x7F, 0x49};
    Bytes wrapped;
    PutBer(wrapped, 0x00, inner);  // the length as a template takes it, after a placeholder tag
    out.insert(out.end(), wrapped.begin() + 1, wrapped.end());
    // Whole, even past 256 bytes (a 2048-bit key): the host reads it with no
    // GET RESPONSE of its own, as the terminal's transport collects the pieces.
    (void)a;
    return Respond(out);
}

Bytes SimTesselApplet::doGenerate(const SimApdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    // AC {80 01 number, 81 03 exponent}: only 65537.
    std::vector<Tlv> outer, t;
    if (!ParseBer(a.data, outer) || outer.size() != 1 || outer[0].tag != 0xAC || !ParseBer(outer[0].value, t))
        Fail(kSwWrongData);
    const Bytes* id = Find(t, 0x80);
    const Bytes* exponent = Find(t, 0x81);
    if (!id || id->size() != 1 || !exponent || *exponent != Bytes{0x01, 0x00, 0x01}) Fail(kSwWrongData);
    needAccess(find(kKeyDir)->access, 1);
    m_rsaKeys[(*id)[0]] = MakeRsaKey(1024);
    keyFiles((*id)[0], 128);
    return Respond(kSwOk);
}

Bytes SimTesselApplet::doKeyOperation(const SimApdu& a) {
    const bool decipher = a.p1 == 0x80 && a.p2 == 0x0C;
    const bool sign = a.p1 == 0x9E && a.p2 == 0x8A;
    if (!decipher && !sign) Fail(kSwWrongP1P2);
    Bytes body;
    if (!reassemble(a, body)) return Respond(kSwOk);
    const SimTesselPin* user = pin(m_userRef);
    if (!user || !user->verified) Fail(kSwSecurity);
    const int nn = selectedKey();
    if (nn < 0) Fail(kSwConditions);
    std::vector<Tlv> t;
    if (!ParseBer(body, t)) Fail(kSwWrongData);
    const Bytes* value = Find(t, decipher ? 0x82 : 0x80);
    if (!value) Fail(kSwWrongData);
    Bytes result;
    const SimRsaKey k = key(static_cast<unsigned char>(nn));
    if (decipher) {
        if (!RsaDecrypt(k, *value, result)) Fail(kSwWrongData);
        Bytes out;
        PutBer(out, 0x80, result);
        result.swap(out);
    } else if (!RsaSignRaw(k, *value, result)) {
        Fail(kSwWrongData);
    }
    ++keyOperations;
    return answer(result, a);
}

}  // namespace cardsim
