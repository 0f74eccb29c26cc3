#include "sim_wren.h"

namespace cardsim {

const Bytes SimWrenApplet::kDefaultUserPin = {'1', '2', '3', '4'};

namespace {
const SimPinWords kWords = {SimWrenApplet::kSwWrongPin, SimWrenApplet::kSwPinBlocked, SimWrenApplet::kSwBadLength};

uint16_t Le16(SimReader& r) {
    const unsigned char lo = r.u8();
    return static_cast<uint16_t>(lo | (r.u8() << 8));
}
void PutLe16(Bytes& out, size_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
void End(const SimReader& r) {
    if (!r.empty()) Fail(SimWrenApplet::kSwBadLength);
}
}  // namespace

SimWrenApplet::SimWrenApplet() {
    m_user.set(kDefaultUserPin);
    m_user.limit = 8;
    m_user.minLength = 4;
    m_user.maxLength = 16;
}

void SimWrenApplet::onDeselect() {
    m_user.verified = false;
    m_current = nullptr;
}

Bytes SimWrenApplet::Answer(const Bytes& data, uint16_t sw) {
    Bytes out(data);
    out.push_back(static_cast<unsigned char>(sw));
    out.push_back(static_cast<unsigned char>(sw >> 8));
    return out;
}

Bytes SimWrenApplet::process(const SimApdu& a) {
    try {
        return handle(a);
    } catch (const SimStatus& s) {
        return Answer(Bytes(), s.sw);
    }
}

Bytes SimWrenApplet::configRecord() const {
    Bytes r(m_configSize < 19 ? 19 : m_configSize, 0);
    for (size_t i = 0; i < 4 && i < m_serial.size(); ++i) r[i] = m_serial[i];
    r[4] = 0x01;  // version 1.5
    r[5] = 0x05;
    const size_t used = m_tree.usedBytes();
    const size_t free = used >= m_capacity ? 0 : m_capacity - used;
    r[6] = static_cast<unsigned char>(m_capacity);
    r[7] = static_cast<unsigned char>(m_capacity >> 8);
    r[16] = static_cast<unsigned char>(free);
    r[17] = static_cast<unsigned char>(free >> 8);
    r[18] = m_color;
    return r;
}

SimFile& SimWrenApplet::currentFile() {
    if (!m_current || m_current->folder) Fail(kSwNoCurrentEf);
    return *m_current;
}

SimFile& SimWrenApplet::currentFolder() {
    if (!m_current || !m_current->folder) Fail(kSwNoCurrentEf);
    return *m_current;
}

Bytes SimWrenApplet::doSelect(SimReader& r) {
    if (r.u8() != 0x00) Fail(kSwWrongData);
    const unsigned char n = r.u8();
    FidPath path;
    for (unsigned i = 0; i < n; ++i) path.push_back(Le16(r));
    End(r);
    SimFile* f = m_tree.find(path);
    if (!f) Fail(kSwNoFile);
    m_current = f;
    Bytes out(8, 0);
    out[2] = f->folder ? 0x02 : 0x01;
    out[3] = f->folder ? 0x00 : (Protected(*f) ? 0x01 : 0x00);
    out[4] = static_cast<unsigned char>(f->size());
    out[5] = static_cast<unsigned char>(f->size() >> 8);
    return Answer(out, kSwOk);
}

Bytes SimWrenApplet::doCreate(SimReader& r) {
    const unsigned char type = r.u8();
    const unsigned char readAccess = r.u8();
    const uint16_t size = Le16(r);
    const uint16_t fid = Le16(r);
    End(r);
    SimFile& dir = currentFolder();
    if (dir.child(fid)) Fail(kSwFileExists);
    if (type == 0x02) {
        m_tree.addFolder(dir, fid, Bytes{0x00});
    } else if (type == 0x01) {
        const size_t used = m_tree.usedBytes();
        if (used + size > m_capacity) Fail(kSwNoMemory);
        m_tree.addFile(dir, fid, Bytes(size, 0), Bytes{readAccess ? static_cast<unsigned char>(1) : static_cast<unsigned char>(0)});
    } else {
        Fail(kSwWrongData);
    }
    return Answer(Bytes(), kSwOk);
}

Bytes SimWrenApplet::doRemove(SimReader& r) {
    const unsigned char kind = r.u8();
    End(r);
    if (!m_current || !m_current->parent) Fail(kSwCannotRemove);
    if ((kind == 0x02) != m_current->folder) Fail(kSwCannotRemove);
    if (!m_current->children.empty()) Fail(kSwCannotRemove);
    SimFile* parent = m_current->parent;
    m_tree.remove(*parent, m_current->fid);
    m_current = parent;
    return Answer(Bytes(), kSwOk);
}

Bytes SimWrenApplet::doList(SimReader& r) {
    if (r.u8() != 0x00 || r.u8() != 0x04) Fail(kSwWrongData);
    const bool folders = r.u8() == 0x02;
    End(r);
    const SimFile& dir = currentFolder();
    Bytes ids;
    size_t n = 0;
    for (const auto& c : dir.children) {
        if (c->folder != folders) continue;
        PutLe16(ids, c->fid);
        ++n;
    }
    Bytes out;
    PutLe16(out, n);
    out.insert(out.end(), ids.begin(), ids.end());
    return Answer(out, kSwOk);
}

Bytes SimWrenApplet::doRead(SimReader& r) {
    const uint16_t offset = Le16(r);
    const uint16_t length = Le16(r);
    End(r);
    const SimFile& f = currentFile();
    if (Protected(f) && !m_user.verified) Fail(kSwNotVerified);
    if (static_cast<size_t>(offset) + length > f.size()) Fail(kSwOutsideFile);
    return Answer(Bytes(f.content.begin() + offset, f.content.begin() + offset + length), kSwOk);
}

Bytes SimWrenApplet::doWrite(SimReader& r) {
    const uint16_t offset = Le16(r);
    const uint16_t length = Le16(r);
    const Bytes data = r.take(length);
    End(r);
    SimFile& f = currentFile();
    if (static_cast<size_t>(offset) + length > f.size()) Fail(kSwOutsideFile);
    std::copy(data.begin(), data.end(), f.content.begin() + offset);
    return Answer(Bytes(), kSwOk);
}

Bytes SimWrenApplet::handle(const SimApdu& a) {
    if (a.cla != 0x00) Fail(kSwClaNotSupported);
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimReader r(a.data, kSwBadLength);
    switch (a.ins) {
    case 0x20: {
        const Bytes given = TakeLengthPrefixed(r, kSwBadLength);
        kWords.answer(m_user.present(given));
        return Answer(Bytes(), kSwOk);
    }
    case 0xD4: {
        const Bytes fresh = TakeLengthPrefixed(r, kSwBadLength);
        kWords.changeVerified(m_user, fresh, kSwNotVerified);
        return Answer(Bytes(), kSwOk);
    }
    case 0xDC:
        if (a.data != Bytes{0x00}) Fail(kSwBadLength);
        m_user.verified = false;
        return Answer(Bytes(), kSwOk);
    case 0xA4:
        return doSelect(r);
    case 0xE0:
        return doCreate(r);
    case 0xE2:
        return doRemove(r);
    case 0xD2:
        return doList(r);
    case 0xB0:
        return doRead(r);
    case 0xD0:
        return doWrite(r);
    case 0xDA:
        if (a.data != Bytes{0x00}) Fail(kSwBadLength);
        return Answer(configRecord(), kSwOk);
    }
    Fail(kSwInsNotSupported);
}

}  // namespace cardsim
