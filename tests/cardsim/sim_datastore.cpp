#include "sim_datastore.h"

#include <cstdio>

namespace cardsim {

const Bytes SimDataStoreApplet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x03, 0x01};
const Bytes SimDataStoreApplet::kDefaultUserPin = {'1', '2', '3', '4'};
const Bytes SimDataStoreApplet::kDefaultAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};
const Bytes SimDataStoreApplet::kDefaultGlobalPin = {'0', '0', '0', '0', '0', '0'};

namespace {
const SimPinWords kWords = {SimDataStoreApplet::kSwWrongPin, SimDataStoreApplet::kSwPinBlocked,
                            SimDataStoreApplet::kSwBadPinLength};

// Record layout: five tables of one byte per PIN from byte 7.
const size_t kVerifiedAt = 7, kFailuresAt = 10, kLimitAt = 13, kMinAt = 16, kMaxAt = 19;
const size_t kSerialAt = 22;
const size_t kFree16At = 5, kFree32At = 30;

const size_t kMaxPage = 36;  // entries of 7 bytes in a 256-byte answer
const size_t kMaxLabel = 32;
const uint16_t kDirectoryObject = 0x3333;
const size_t kSlots = 512;
}  // namespace

const Bytes SimPlatformApplet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0xFF, 0x00, 0x00};

SimDataStoreApplet::SimDataStoreApplet() {
    m_pins[0].set(kDefaultUserPin);
    m_pins[0].limit = 5;
    m_pins[1].set(kDefaultAdminPin);
    m_pins[1].limit = 3;
    m_pins[1].minLength = 8;
    m_pins[2].set(kDefaultGlobalPin);
    m_pins[2].limit = 10;
    m_pins[2].minLength = 6;
    m_pins[2].maxLength = 8;
}

SimPlainPin* SimDataStoreApplet::pin(unsigned n) { return n >= 1 && n <= 3 ? &m_pins[n - 1] : nullptr; }

void SimDataStoreApplet::onDeselect() {
    // The record being built is the session's; the store keeps only committed ones.
    m_building = false;
    m_built.clear();
    if (m_keepPin) return;
    for (auto& p : m_pins) p.verified = false;
}

SimPlainPin& SimDataStoreApplet::pinAt(unsigned char reference) {
    if (reference > 2) Fail(kSwNoSuchPin);
    return m_pins[reference];
}

Bytes SimDataStoreApplet::statusRecord() const {
    Bytes r(m_recordSize, 0);
    r[0] = 0x02;  // version 2.1.0
    r[1] = 0x01;
    for (size_t i = 0; i < 3; ++i) {
        const SimPlainPin& p = m_pins[i];
        r[kVerifiedAt + i] = p.verified ? 1 : 0;
        r[kFailuresAt + i] = p.failures;
        r[kLimitAt + i] = p.limit;
        r[kMinAt + i] = p.minLength;
        r[kMaxAt + i] = p.maxLength;
    }
    for (size_t i = 0; i < 8; ++i)
        r[kSerialAt + i] = i < m_serial.size() ? m_serial[i] : static_cast<unsigned char>(0xD5 + i);
    const size_t free = freeMemory();
    if (m_recordSize >= 34) {
        for (size_t i = 0; i < 4; ++i) r[kFree32At + i] = static_cast<unsigned char>(free >> (24 - 8 * i));
    } else {
        const size_t shown = free > 0xFFFF ? 0xFFFF : free;
        r[kFree16At] = static_cast<unsigned char>(shown >> 8);
        r[kFree16At + 1] = static_cast<unsigned char>(shown);
    }
    return r;
}

Bytes SimDataStoreApplet::doVerify(SimReader& r) {
    kWords.verifyLengthPrefixed(pinAt(r.u8()), r);
    return Respond(kSwOk);
}

Bytes SimDataStoreApplet::doChange(SimReader& r) {
    SimPlainPin& p = pinAt(r.u8());
    const Bytes fresh = TakeLengthPrefixed(r, kSwBadPinLength);
    kWords.changeVerified(p, fresh, kSwNotVerified);
    return Respond(kSwOk);
}

Bytes SimDataStoreApplet::doLogout() {
    for (auto& p : m_pins) p.verified = false;
    return Respond(kSwOk);
}

Bytes SimDataStoreApplet::process(const SimApdu& a) {
    if (a.cla != 0x80) Fail(kSwClaNotSupported);
    SimReader r(a.data, kSwBadPinLength);
    if (a.ins == 0x10 && a.p2 == 0x00) {
        switch (a.p1) {
        case 0x10:
            return doVerify(r);
        case 0x20:
            return doChange(r);
        case 0x30:
            if (!a.data.empty()) Fail(kSwWrongLength);
            return doLogout();
        }
        Fail(kSwWrongP1P2);
    }
    if (a.ins == 0x30 && a.p1 == 0x30 && a.p2 == 0x00) return Respond(statusRecord());
    if (a.ins == 0x30 && (a.p1 == 0x10 || a.p1 == 0x20) && a.p2 == 0x00) return doLabel(a);
    if (a.ins == 0x20 && a.p2 == 0x00) return doRecords(a);
    Fail(kSwInsNotSupported);
}

// ---------------------------------------------------------------- label

Bytes SimDataStoreApplet::doLabel(const SimApdu& a) {
    if (a.p1 == 0x10) {
        Bytes out = m_label;
        out.resize(kMaxLabel, 0x20);  // the applet pads its label with spaces
        return Respond(out);
    }
    // L label, then 02 as the expected length: the label is the command data. An
    // empty label arrives as 80 30 20 00 02 once the transport has dropped the
    // empty Lc.
    if (a.data.size() > kMaxLabel) Fail(kSwBadPinLength);
    m_label = a.data;
    return Respond(kSwOk);
}

// ---------------------------------------------------------------- record store

void SimDataStoreApplet::putRecord(uint16_t handle, uint16_t objectId, unsigned char flag, const Bytes& data) {
    SimRecord& r = m_records[handle];
    r.objectId = objectId;
    r.flag = flag;
    r.data = data;
    if (handle >= m_next) m_next = static_cast<uint32_t>(handle) + 1;
}

size_t SimDataStoreApplet::usedMemory() const {
    size_t used = m_building ? m_built.size() : 0;
    for (const auto& r : m_records) used += r.second.data.size();
    return used;
}

size_t SimDataStoreApplet::freeMemory() const {
    const size_t used = usedMemory();
    return used >= m_capacity ? 0 : m_capacity - used;
}

uint16_t SimDataStoreApplet::takeHandle() {
    if (m_policy == Handles::kList) {
        while (!m_list.empty()) {
            const uint16_t h = m_list.front();
            m_list.pop_front();
            if (!m_records.count(h)) return h;
        }
    }
    if (m_policy == Handles::kSequential) {
        while (m_next <= 0xFFFF && m_records.count(static_cast<uint16_t>(m_next))) ++m_next;
        if (m_next > 0xFFFF) Fail(kSwNoHandle);
        return static_cast<uint16_t>(m_next++);
    }
    for (uint32_t h = m_start; h <= 0xFFFF; ++h)
        if (!m_records.count(static_cast<uint16_t>(h))) return static_cast<uint16_t>(h);
    Fail(kSwNoHandle);
}

Bytes SimDataStoreApplet::doRecords(const SimApdu& a) {
    SimReader r(a.data);
    switch (a.p1) {
    case 0x60: {  // enumerate from a start handle
        const uint16_t start = r.be16();
        Bytes out;
        size_t n = 0;
        const size_t page = m_pageSize < kMaxPage ? m_pageSize : kMaxPage;
        for (auto it = m_ignoreStart ? m_records.begin() : m_records.lower_bound(start);
             it != m_records.end() && n < page; ++it, ++n) {
            PutBe16(out, it->first);
            PutBe16(out, it->second.objectId);
            out.push_back(it->second.flag);
            PutBe16(out, static_cast<uint16_t>(it->second.data.size()));
        }
        return Respond(out);
    }
    case 0x10: {  // create-record: opens the record being built
        const uint16_t size = r.be16();
        if (!r.empty()) Fail(kSwWrongLength);
        m_building = false;
        m_built.clear();
        if (size > freeMemory()) Fail(kSwNoRoom);
        m_building = true;
        m_built.assign(size, 0);
        return Respond(kSwOk);
    }
    case 0x40: {  // fill the record being built
        const uint16_t offset = r.be16();
        const uint16_t length = r.be16();
        const Bytes data = r.take(length);
        if (!r.empty()) Fail(kSwWrongLength);
        if (!m_building) Fail(kSwConditions);
        if (static_cast<size_t>(offset) + length > m_built.size()) Fail(kSwBadRange);
        std::copy(data.begin(), data.end(), m_built.begin() + offset);
        return Respond(kSwOk);
    }
    case 0x50: {  // commit as new, or in place of a record
        const unsigned char mode = r.u8();
        if (!m_building) Fail(kSwConditions);
        if (mode == 0x01) {
            const unsigned char flag = r.u8();
            const uint16_t id = r.be16();
            if (!r.empty()) Fail(kSwWrongLength);
            const uint16_t h = takeHandle();
            SimRecord& rec = m_records[h];
            rec.objectId = id;
            rec.flag = flag;
            rec.data.swap(m_built);
            m_building = false;
            m_built.clear();
            Bytes out;
            PutBe16(out, h);
            return Respond(out);
        }
        if (mode != 0x00) Fail(kSwWrongData);
        const uint16_t h = r.be16();
        if (!r.empty()) Fail(kSwWrongLength);
        auto it = m_records.find(h);
        if (it == m_records.end()) Fail(kSwNoSuchRecord);
        it->second.data.swap(m_built);
        m_building = false;
        m_built.clear();
        return Respond(kSwOk);
    }
    case 0x30: {  // read
        const uint16_t h = r.be16();
        const uint16_t offset = r.be16();
        const uint16_t length = r.be16();
        if (!r.empty()) Fail(kSwWrongLength);
        auto it = m_records.find(h);
        if (it == m_records.end()) Fail(kSwNoSuchRecord);
        if (m_readProtection && it->second.flag && !m_pins[0].verified) Fail(kSwNotVerified);
        const Bytes& d = it->second.data;
        if (static_cast<size_t>(offset) + length > d.size()) Fail(kSwBadRange);
        return Respond(Bytes(d.begin() + offset, d.begin() + offset + length));
    }
    case 0x20: {  // delete
        const uint16_t h = r.be16();
        if (!r.empty()) Fail(kSwWrongLength);
        if (!m_records.erase(h)) Fail(kSwNoSuchRecord);
        return Respond(kSwOk);
    }
    }
    Fail(kSwWrongP1P2);
}

std::vector<SimDataStoreApplet::Slot> SimDataStoreApplet::directorySlots() const {
    std::vector<Slot> out;
    for (const auto& rec : m_records) {
        if (rec.second.objectId != kDirectoryObject) continue;
        const Bytes& d = rec.second.data;
        for (size_t i = 0; i < kSlots && 4 * i + 3 < d.size(); ++i) {
            const uint16_t parent = static_cast<uint16_t>(d[4 * i] | (d[4 * i + 1] << 8));
            const uint16_t fid = static_cast<uint16_t>(d[4 * i + 2] | (d[4 * i + 3] << 8));
            if (parent || fid) out.push_back({static_cast<uint16_t>(i), parent, fid});
        }
        break;
    }
    return out;
}

std::string SimDataStoreApplet::dump() const {
    // "HHHH id IIII flag FF size N", one line per record, in handle order.
    std::string out;
    char line[64];
    for (const auto& rec : m_records) {
        std::snprintf(line, sizeof line, "%04X id %04X flag %02X size %u\n", rec.first, rec.second.objectId,
                      rec.second.flag, static_cast<unsigned>(rec.second.data.size()));
        out += line;
    }
    return out;
}

// ---------------------------------------------------------------- platform applet

Bytes SimPlatformApplet::process(const SimApdu& a) {
    if (a.cla != 0x80 || a.ins != 0xEC) Fail(kSwInsNotSupported);
    if (a.p1 != 0xA2 || a.p2 != 0x10) Fail(kSwWrongP1P2);
    const size_t capacity = m_store ? m_store->capacity() : 0x8000;
    const uint32_t free = static_cast<uint32_t>(m_store ? m_store->freeMemory() : capacity);
    Bytes out(m_answerSize - 2, 0);
    auto putLe32 = [&](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    putLe32(16, 1);                                          // factor A
    putLe32(20, static_cast<uint32_t>(capacity / 512));  // factor B
    putLe32(out.size() - 4, free);
    return Respond(out);
}

}  // namespace cardsim
