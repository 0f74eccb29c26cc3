#include "appcry/cry_kite.h"

#include <algorithm>
#include <cstdio>

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appcry/cry_kite");

const unsigned short kProviderRsa = 0x1001;
const unsigned char kObjectFlags = 3;
const size_t kSelectReplySize = 258;
const size_t kDecipherReplySize = 1026;

const path kCertDir = {0x3F00, 0x6666, 0x1002};
const path kKeyDir = {0x3F00, 0x6666, 0x6000};
const path kKeyIndex = {0x3F00, 0x6666, 0x6000, 0xECEC};
const path kSizeDir = {0x3F00, 0x6666, 0x1001};
const path kSizeTable = {0x3F00, 0x6666, 0x1001, 0x1001};
const path kFallbackKeyDir = {0x3F00, 0x6666, 0x5000, 0x0201};
const path kObjectDir = {0x3F00, 0x6666, 0x5000, 0x0220};

const size_t kRecordHeader = 4;
const size_t kTailSkip = 6;
const unsigned short kFallbackNameOffset = 0x0B;
const size_t kKeyDescriptorHeader = 6;
const size_t kKeyFieldsBeforeName = 4;
const unsigned short kFipsKeyLength = 128;

[[noreturn]] void Raise(unsigned short code, unsigned long line) { ExternalRaise(code, kSource, line); }

path Child(path p, unsigned short id) {
    p.push_back(id);
    return p;
}

CCryptoInfo NewObject(const path& p) {
    CCryptoInfo o;
    o.provider = kProviderRsa;
    o.flags = kObjectFlags;
    o.path = p;
    return o;
}

// One byte of the selected file at `offset`.
unsigned char ReadByte(CAdapter& a, unsigned short offset) {
    TBytes b(1, 0);
    a.fs->read(b, offset);
    if (b.size() != 1) Raise(kSwBadAnswer, __LINE__);
    return b[0];
}

unsigned char UserPinReference(CAdapter& a) { return static_cast<unsigned char>(PinExtractAccess(a.pin->pathUser()) & 0xFF); }
}  // namespace

// ---------------------------------------------------------------- Kite finder

CKite4Finder::CKite4Finder(const CAdapter& adapter) : m_adapter(adapter) {}

unsigned char CKite4Finder::pinReference() const {
    CAdapter a = m_adapter;
    return UserPinReference(a);
}

void CKite4Finder::getcerts() {
    certs.clear();
    for (unsigned short fid : ListChildren(m_adapter, kCertDir, 1)) {
        if ((fid & 0xF000) != 0x0000) continue;
        CCryptoInfo entry = NewObject(Child(kCertDir, fid));
        TBytes record;
        try {
            m_adapter.fs->select(entry.path);
            record = FileRead(m_adapter);
        } catch (const IException&) {
            continue;
        }
        // A record too short for its header, or whose length does not lie
        // between the header and the end of the file, is dropped like an
        // unreadable one.
        if (record.size() < kRecordHeader) continue;
        const size_t length = record[2] | (record[3] << 8);
        if (length < kRecordHeader || length > record.size()) continue;
        entry.certificate.assign(record.begin() + kRecordHeader, record.begin() + static_cast<std::ptrdiff_t>(length));
        const TBytes tail(record.begin() + static_cast<std::ptrdiff_t>(length), record.end());
        if (tail.size() < kTailSkip) {
            entry.name = {static_cast<unsigned char>(fid & 0xFF)};
        } else {
            auto start = std::find(tail.begin() + kTailSkip, tail.end(), 0x00);
            if (start != tail.end()) {
                ++start;
                entry.name.assign(start, std::find(start, tail.end(), 0x00));
            }
        }
        certs.push_back(std::move(entry));
    }
}

bool CKite4Finder::keyLength(const TBytes& table, size_t number, unsigned short& length) const {
    if (2 * number + 1 >= table.size()) return false;  // no entry: not listed
    const unsigned short e = static_cast<unsigned short>(table[2 * number] | (table[2 * number + 1] << 8));
    length = static_cast<unsigned short>((e & 0xFF) * ((e & 0x4000) ? 8 : 1));
    return length != 0;
}

TBytes CKite4Finder::indexName(const TBytes& index, unsigned short fid) const {
    char tag[8];
    std::snprintf(tag, sizeof tag, "&%04x", fid);
    const TBytes pattern(tag, tag + 5);
    const auto at = std::search(index.begin(), index.end(), pattern.begin(), pattern.end());
    if (at == index.end()) Raise(kSwNotFound, __LINE__);
    auto equals = at;
    for (;;) {
        if (equals == index.begin()) Raise(kSwBadAnswer, __LINE__);
        --equals;
        if (*equals == '=') break;
    }
    return TBytes(equals + 1, std::find(equals + 1, at, '&'));
}

void CKite4Finder::getkeys() {
    keys.clear();
    TBytes index, table;
    try {
        m_adapter.fs->select(kKeyIndex);
        index = FileRead(m_adapter);
    } catch (const IException&) {
        index.clear();
    }
    try {
        m_adapter.fs->select(kSizeTable);
        table = FileRead(m_adapter);
    } catch (const IException&) {
        return;
    }
    const bool fallback = index.empty();
    const path& dir = fallback ? kFallbackKeyDir : kKeyDir;
    for (unsigned short fid : ListChildren(m_adapter, dir, 1)) {
        const bool wanted = fallback ? (fid & 0xFF00) == 0x0500 : ((fid & 0xF000) == 0x1000 || (fid & 0xF000) == 0x2000);
        if (!wanted) continue;
        CCryptoInfo entry = NewObject(Child(dir, fid));
        unsigned short number = 0;
        try {
            entry.pinReference = pinReference();
            if (fallback) {
                number = static_cast<unsigned char>((fid - 1) & 0xFF);
            } else {
                m_adapter.fs->select(entry.path);
                number = ReadByte(m_adapter, 0);
            }
        } catch (const IException&) {
            continue;
        }
        if (!keyLength(table, number, entry.keyLength)) continue;
        try {
            if (fallback) {
                m_adapter.fs->select(entry.path);
                entry.name = {static_cast<unsigned char>(ReadByte(m_adapter, kFallbackNameOffset) + 1)};
            } else {
                entry.name = indexName(index, fid);
            }
        } catch (const IException&) {
            entry.name.clear();
        }
        entry.path.push_back(number);
        keys.push_back(std::move(entry));
    }
}

// ---------------------------------------------------------------- Kite4 FIPS finder

CKite4FipsFinder::CKite4FipsFinder(const CAdapter& adapter) : m_adapter(adapter) {}

void CKite4FipsFinder::valid_field(const TBytes& buf) {
    if (buf.size() < 2 || buf.size() < 2u + buf[1]) Raise(kSwBadAnswer, __LINE__);
}

void CKite4FipsFinder::get_field(TBytes& buf) {
    valid_field(buf);
    buf = TBytes(buf.begin() + 2, buf.begin() + 2 + buf[1]);
}

void CKite4FipsFinder::skip_field(TBytes& buf) {
    valid_field(buf);
    buf.erase(buf.begin(), buf.begin() + 2 + buf[1]);
}

void CKite4FipsFinder::getcerts() {
    for (unsigned short fid : ListChildren(m_adapter, kObjectDir, 2)) {
        if ((fid & 0xF000) != 0x1000) continue;
        CCryptoInfo entry = NewObject(Child(kObjectDir, fid));
        try {
            m_adapter.fs->select(Child(entry.path, 0x0002));
            entry.certificate = FileRead(m_adapter);
        } catch (const IException&) {
            continue;
        }
        try {
            m_adapter.fs->select(Child(entry.path, 0x0001));
            TBytes fields = FileRead(m_adapter);
            // An empty descriptor has no first byte to drop: it names nothing.
            if (fields.empty()) Raise(kSwBadAnswer, __LINE__);
            fields.erase(fields.begin());
            skip_field(fields);
            get_field(fields);
            entry.name = fields;
        } catch (const IException&) {
            entry.name.clear();
        }
        certs.push_back(std::move(entry));
    }
}

void CKite4FipsFinder::getkeys() {
    for (unsigned short fid : ListChildren(m_adapter, kObjectDir, 2)) {
        if ((fid & 0xF000) != 0x3000) continue;
        CCryptoInfo entry = NewObject(Child(kObjectDir, fid));
        entry.keyLength = kFipsKeyLength;
        try {
            entry.pinReference = UserPinReference(m_adapter);
        } catch (const IException&) {
            continue;
        }
        try {
            m_adapter.fs->select(Child(entry.path, 0x0001));
            TBytes fields = FileRead(m_adapter);
            if (fields.size() < kKeyDescriptorHeader) Raise(kSwBadAnswer, __LINE__);
            fields.erase(fields.begin(), fields.begin() + kKeyDescriptorHeader);
            for (size_t i = 0; i < kKeyFieldsBeforeName; ++i) skip_field(fields);
            get_field(fields);
            entry.name = fields;
        } catch (const IException&) {
            entry.name.clear();
        }
        keys.push_back(std::move(entry));
    }
}

// ---------------------------------------------------------------- facets

CCryKiteFamily::CCryKiteFamily(IApplet* applet, std::vector<unsigned short> keySizes)
    : CCryContainers(applet, kSource, std::move(keySizes)) {}

void CCryKiteFamily::select(path p) {
    selectContainer(p);
    if (m_current.privateKey.empty()) return;  // a certificate alone
    try {
        prepareKey(p);
    } catch (...) {
        // The card may hold part of another key's environment: with nothing
        // selected, no decipher can run under it.
        m_current = CCryptoInfo();
        throw;
    }
}

void CCryKiteFamily::exchange(const TBytes& command) {
    TBytes reply(kSelectReplySize, 0);
    applet()->sender()->send(command, reply);
    CheckSW(applet(), reply);
}

TBytes CCryKiteFamily::decrypt(const TBytes& data) {
    if (!isValidDataForRSA(m_current.modulus, data)) Raise(kSwBadAnswer, __LINE__);
    if (m_current.privateKey.empty()) Raise(kSwNotFound, __LINE__);
    const size_t n = data.size();
    if (n + 1 > 0xFFFF) Raise(kSwBadArgument, __LINE__);
    TBytes c;
    c.reserve(n + 10);
    c.insert(c.end(), {0x00, 0x2A, 0x80, 0x86});
    const bool shortForm = n + 1 <= 0xFF;
    if (shortForm) {
        c.push_back(static_cast<unsigned char>(n + 1));
    } else {
        c.push_back(0x00);
        PutBE16(c, static_cast<unsigned short>(n + 1));
    }
    c.push_back(0x00);  // padding indicator, counted in Lc
    c.insert(c.end(), data.begin(), data.end());
    if (shortForm)
        c.push_back(0x00);
    else
        c.insert(c.end(), {0x04, 0x00});
    TBytes reply(kDecipherReplySize, 0);
    sendDecipher(c, reply);
    CheckSW(applet(), reply);
    return TBytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(ResponseDataSize(reply)));
}

CCryKite::CCryKite(IApplet* applet) : CCryKiteFamily(applet, {128}) {}

std::unique_ptr<CCryFinder> CCryKite::makeFinder(const CAdapter& adapter) const {
    return std::unique_ptr<CCryFinder>(new CKite4Finder(adapter));
}

void CCryKite::prepareKey(const path& p) {
    applet()->fs()->select(kSizeDir);
    exchange({0x00, 0x22, 0x03, 0xFE, 0x00});
    // The key number is the path's last element; the card knows key b as reference 2b + 3.
    const unsigned char reference = static_cast<unsigned char>(2 * (p.back() & 0xFF) + 3);
    exchange({0x00, 0x22, 0x01, 0xB8, 0x03, 0x83, 0x01, reference, 0x00});
}

void CCryKite::sendDecipher(const TBytes& command, TBytes& reply) { applet()->sender()->send(command, reply); }

CCryKite4::CCryKite4(IApplet* applet) : CCryKite(applet) { m_providerInfo.keySizes.push_back(256); }

CCryKite4Fips::CCryKite4Fips(IApplet* applet) : CCryKiteFamily(applet, {128}) {}

std::unique_ptr<CCryFinder> CCryKite4Fips::makeFinder(const CAdapter& adapter) const {
    return std::unique_ptr<CCryFinder>(new CKite4FipsFinder(adapter));
}

void CCryKite4Fips::prepareKey(const path& p) {
    applet()->fs()->select(p);
    exchange({0x00, 0x22, 0x03, 0x33, 0x00});
}

void CCryKite4Fips::sendDecipher(const TBytes& command, TBytes& reply) { applet()->pack()->sm(command, reply); }

}  // namespace libapdu
