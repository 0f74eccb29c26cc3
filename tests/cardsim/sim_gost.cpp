#include "sim_gost.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>

namespace cardsim {

const Bytes SimGostApplet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x01, 0x01, 0x01, 0x06, 0x02};
const Bytes SimGostApplet::kDefaultUserPin = {'1', '2', '3', '4', '5', '6'};
const Bytes SimGostApplet::kDefaultAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};

namespace {
const SimPinWords kWords = {SimGostApplet::kSwWrongPin, SimGostApplet::kSwPinBlocked, SimGostApplet::kSwBadPinLength};
const unsigned char kMinLength = 6, kMaxLength = 32;
const size_t kVerifiedAt = 0, kLimitAt = 11, kUserFailuresAt = 12, kAdminFailuresAt = 13, kSerialAt = 16;
const size_t kFreeAt = 9;
const size_t kMaxFree = 0xFFFF;

uint32_t Le32(SimReader& r) {
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8) v |= static_cast<uint32_t>(r.u8()) << shift;
    return v;
}
void PutBe32(Bytes& out, uint32_t v) {
    PutBe16(out, static_cast<uint16_t>(v >> 16));
    PutBe16(out, static_cast<uint16_t>(v));
}
}  // namespace

bool SimGostApplet::Object::isPrivate() const {
    const Bytes* p = find(kAtrPrivate);
    return p && *p == Bytes{0x01};
}

const Bytes* SimGostApplet::Object::find(uint32_t id) const {
    for (const auto& a : attributes)
        if (a.first == id) return &a.second;
    return nullptr;
}

SimGostApplet::SimGostApplet() {
    user().set(kDefaultUserPin);
    admin().set(kDefaultAdminPin);
    for (auto& p : m_pins) {
        p.minLength = kMinLength;
        p.maxLength = kMaxLength;
    }
    setLimit(10);
    for (size_t i = 0; i < 8; ++i) m_serial.push_back(static_cast<unsigned char>(0x60 + i));
    m_capacity = kMaxFree;
}

size_t SimGostApplet::used() const {
    size_t n = 0;
    for (const auto& o : m_objects) {
        n += kObjectCost;
        for (const auto& a : o.second.attributes) n += kAttributeCost + a.second.size();
    }
    return n;
}

size_t SimGostApplet::freeMemory() const {
    const size_t u = used();
    return u >= m_capacity ? 0 : std::min(m_capacity - u, kMaxFree);
}

void SimGostApplet::charge(size_t more) const {
    const size_t u = used();
    if (u >= m_capacity || m_capacity - u < more) Fail(kSwNoMemory);
}

uint16_t SimGostApplet::addObject(unsigned char kind) {
    while (m_objects.count(m_nextHandle) || m_nextHandle == 0) ++m_nextHandle;
    const uint16_t h = m_nextHandle++;
    m_objects[h].kind = kind;
    return h;
}

SimGostApplet::Object& SimGostApplet::objectAt(uint16_t h) {
    auto it = m_objects.find(h);
    if (it == m_objects.end()) Fail(kSwNoObject);
    return it->second;
}

std::string SimGostApplet::dump() const {
    std::string out;
    char line[64];
    for (const auto& o : m_objects) {
        std::snprintf(line, sizeof line, "%04X kind %02X%s\n", o.first, o.second.kind,
                      o.second.isPrivate() ? " private" : "");
        out += line;
        for (const auto& a : o.second.attributes) {
            std::snprintf(line, sizeof line, "  %08X (%zu) ", static_cast<unsigned>(a.first), a.second.size());
            // Long values show their start only.
            const Bytes head(a.second.begin(), a.second.begin() + std::min<size_t>(a.second.size(), 16));
            out += line + ToHex(head) + (a.second.size() > 16 ? " ..." : "") + "\n";
        }
    }
    return out;
}

void SimGostApplet::setLimit(unsigned char limit) {
    for (auto& p : m_pins) p.limit = limit;
}

void SimGostApplet::onDeselect() {
    for (auto& p : m_pins) p.verified = false;
}

SimPlainPin& SimGostApplet::pinAt(unsigned char reference) {
    if (reference > kUserRef) Fail(kSwNoSuchPin);
    return m_pins[reference];
}

Bytes SimGostApplet::statusRecord() const {
    Bytes r(kRecordSize, 0);
    r[kVerifiedAt] = (m_pins[kUserRef].verified ? 1 : 0) | (m_pins[kAdminRef].verified ? 2 : 0);
    r[1] = 0x03;  // version
    r[2] = 0x02;
    const size_t free = freeMemory();
    r[kFreeAt] = static_cast<unsigned char>(free >> 8);
    r[kFreeAt + 1] = static_cast<unsigned char>(free);
    r[kLimitAt] = m_pins[kUserRef].limit;
    r[kUserFailuresAt] = m_pins[kUserRef].failures;
    r[kAdminFailuresAt] = m_pins[kAdminRef].failures;
    for (size_t i = 0; i < 8 && i < m_serial.size(); ++i) r[kSerialAt + i] = m_serial[i];
    r.insert(r.end(), m_tail.begin(), m_tail.end());
    return r;
}

Bytes SimGostApplet::doVerify(SimReader& r) {
    kWords.verifyLengthPrefixed(pinAt(r.u8()), r);
    return Respond(kSwOk);
}

// ref, both lengths, then both PINs.
Bytes SimGostApplet::doChange(SimReader& r) {
    SimPlainPin& p = pinAt(r.u8());
    const unsigned char currentLength = r.u8();
    const unsigned char freshLength = r.u8();
    const Bytes current = r.take(currentLength);
    const Bytes fresh = r.take(freshLength);
    if (!r.empty()) Fail(kSwBadPinLength);
    if (fresh.size() < p.minLength || fresh.size() > p.maxLength) Fail(kSwBadPinLength);
    // The current PIN is checked, and counted, as by a verification.
    kWords.answer(p.present(current));
    p.value = fresh;
    return Respond(kSwOk);
}

Bytes SimGostApplet::doLogout() {
    bool any = false;
    for (auto& p : m_pins) {
        any = any || p.verified;
        p.verified = false;
    }
    if (!any) Fail(kSwNobodyLoggedIn);
    return Respond(kSwOk);
}

Bytes SimGostApplet::doObjects(const SimApdu& a) {
    SimReader r(a.data, kSwBadPinLength);
    if (a.p1 == 0x20) {  // new object of a kind; answers its handle
        const unsigned char kind = r.u8();
        if (!r.empty()) Fail(kSwBadPinLength);
        charge(kObjectCost);
        Bytes out;
        PutBe16(out, addObject(kind));
        return Respond(out);
    }
    if (a.p1 == 0x30) {
        const uint16_t h = r.be16();
        if (!r.empty()) Fail(kSwBadPinLength);
        objectAt(h);
        m_objects.erase(h);
        return Respond(kSwOk);
    }
    if (a.p1 == 0x10) {  // one byte, the count, then handle and kind of each
        if (a.data != Bytes{0x01}) Fail(kSwBadPinLength);
        Bytes out = {0x00};
        PutBe16(out, static_cast<uint16_t>(m_objects.size()));
        for (const auto& o : m_objects) {
            PutBe16(out, o.first);
            out.push_back(o.second.kind);
        }
        return Respond(out);
    }
    Fail(kSwWrongP1P2);
}

Bytes SimGostApplet::doAttributes(const SimApdu& a) {
    SimReader r(a.data, kSwBadPinLength);
    const uint16_t h = r.be16();
    Object& o = objectAt(h);
    // A private object shows whoever has not presented the user PIN only that it is private.
    const bool hidden = o.isPrivate() && !user().verified;
    if (a.p1 == 0x20) {  // eight bytes of header, then the whole value whatever Le says
        const uint32_t id = Le32(r);
        if (!r.empty()) Fail(kSwBadPinLength);
        const Bytes* v = o.find(id);
        if (!v || (hidden && id != kAtrPrivate)) Fail(kSwNoAttribute);
        Bytes out;
        PutBe32(out, id);
        PutBe16(out, 0);
        PutBe16(out, static_cast<uint16_t>(v->size()));
        out.insert(out.end(), v->begin(), v->end());
        return Respond(out);
    }
    if (a.p1 == 0x30) {
        const uint32_t id = Le32(r);
        const uint16_t len = r.be16();
        Bytes value = r.take(len);
        if (!r.empty()) Fail(kSwBadPinLength);
        if (hidden) Fail(kSwNoAttribute);
        for (auto& at : o.attributes) {
            if (at.first != id) continue;
            if (value.size() > at.second.size()) charge(value.size() - at.second.size());
            at.second.swap(value);
            return Respond(kSwOk);
        }
        charge(kAttributeCost + value.size());
        o.attributes.emplace_back(id, std::move(value));
        return Respond(kSwOk);
    }
    if (a.p1 == 0x40) {  // identifier, length (both high byte first), value
        if (!r.empty()) Fail(kSwBadPinLength);
        Bytes out;
        for (const auto& at : o.attributes) {
            if (hidden && at.first != kAtrPrivate) continue;
            PutBe32(out, at.first);
            PutBe16(out, static_cast<uint16_t>(at.second.size()));
            out.insert(out.end(), at.second.begin(), at.second.end());
        }
        return Respond(out);
    }
    Fail(kSwWrongP1P2);
}

// The label comes back behind a length byte, padded with spaces; it is set
// with the label as data (an empty one as a bare header with Le).
Bytes SimGostApplet::doLabel(const SimApdu& a) {
    if (a.p1 == 0x10 && a.data == Bytes{0x01}) {
        const size_t n = std::min(m_label.size(), kLabelSize);
        Bytes out(1 + kLabelSize, 0x20);
        out[0] = static_cast<unsigned char>(n);
        std::copy(m_label.begin(), m_label.begin() + static_cast<std::ptrdiff_t>(n), out.begin() + 1);
        return Respond(out);
    }
    if (a.p1 == 0x20) {
        if (a.data.size() > kLabelSize) Fail(kSwLabelTooLong);
        m_label = a.data;
        return Respond(kSwOk);
    }
    Fail(kSwWrongP1P2);
}

Bytes SimGostApplet::doRandom(const SimApdu& a) {
    if (a.p1 != 0x40) Fail(kSwWrongP1P2);
    SimReader r(a.data, kSwBadPinLength);
    const size_t n = r.be16();
    if (!r.empty()) Fail(kSwBadPinLength);
    Bytes out(n);
    if (n && RAND_bytes(out.data(), static_cast<int>(n)) != 1) Fail(kSwNoPreciseDiagnosis);
    return Respond(out);
}

Bytes SimGostApplet::process(const SimApdu& a) {
    if (a.cla != 0x80) Fail(kSwClaNotSupported);
    SimReader r(a.data, kSwBadPinLength);
    if (a.ins == 0x10 && a.p2 == 0x00) {
        if (a.p1 == 0x20) return doVerify(r);
        if (a.p1 == 0x10) return doChange(r);
        Fail(kSwWrongP1P2);
    }
    // The status and logout commands carry one byte 01.
    if (a.ins == 0x15 && a.p2 == 0x00 && a.data == Bytes{0x01}) {
        if (a.p1 == 0x10) return Respond(statusRecord());
        if (a.p1 == 0x20) return doLogout();
        Fail(kSwWrongP1P2);
    }
    if (a.p2 == 0x00) {
        if (a.ins == 0x12) return doObjects(a);
        if (a.ins == 0x13) return doAttributes(a);
        if (a.ins == 0x17) return doLabel(a);
        if (a.ins == 0x14) return doRandom(a);
    }
    Fail(kSwInsNotSupported);
}

}  // namespace cardsim
