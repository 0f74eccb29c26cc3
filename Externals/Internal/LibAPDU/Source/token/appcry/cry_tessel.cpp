#include "appcry/cry_tessel.h"

#include "appfs/fs_tessel.h"
#include "apppin/pin_tessel.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appcry/cry_tessel");

const unsigned short kProviderRsa = 0x1001;
const path kKeyDir = {0x3F00, 0x3000, 0x3002};
const path kCertDir = {0x3F00, 0x3000, 0x3001};
const size_t kReplySize = 1026;
const size_t kPackReplySize = 1024;
const size_t kAttributeHeader = 7;
const size_t kRecordHeader = 5;
const unsigned char kRecordCertificate = 0x11;

enum : unsigned int { kTagPublicKey = 0x7F49, kTagModulus = 0x81, kTagExponent = 0x82, kTagPlain = 0x80 };

[[noreturn]] void Raise(unsigned short code, unsigned long line) { ExternalRaise(code, kSource, line); }

path Child(path p, unsigned short id) {
    p.push_back(id);
    return p;
}

void Append(TBytes& out, const TBytes& value) { out.insert(out.end(), value.begin(), value.end()); }

// BER lengths as the card takes them: 81 n up to 255 bytes, 82 and two bytes above.
void PutLength(TBytes& out, size_t n) {
    if (n <= 0xFF) {
        out.push_back(0x81);
        out.push_back(static_cast<unsigned char>(n));
    } else {
        if (n > 0xFFFF) Raise(kSwBadArgument, __LINE__);
        out.push_back(0x82);
        PutBE16(out, static_cast<unsigned short>(n));
    }
}

void PutElement(TBytes& out, unsigned char tag, const TBytes& value) {
    out.push_back(tag);
    PutLength(out, value.size());
    Append(out, value);
}

// One element whose value is the key parts one after the other, written
// straight into the key template (no joined copy of them is made).
void PutJoined(TBytes& out, unsigned char tag, std::initializer_list<const TBytes*> parts) {
    size_t n = 0;
    for (const TBytes* part : parts) n += part->size();
    out.push_back(tag);
    PutLength(out, n);
    for (const TBytes* part : parts) Append(out, *part);
}

// A template whose length is always written as 82 and two bytes.
void PutTemplate(TBytes& out, unsigned char tag, size_t length) {
    if (length > 0xFFFF) Raise(kSwBadArgument, __LINE__);
    out.push_back(tag);
    out.push_back(0x82);
    PutBE16(out, static_cast<unsigned short>(length));
}

// The key file's description before its parts: identifier, size, access by the
// user PIN (three times), key usage.
const size_t kKeyDescriptionSize = 34;

// One BER element of a card answer, read by the rules of the certificate walk;
// every malformed tag or length, and every length past `end`, is the plain 0.
struct Element {
    unsigned int tag;
    size_t begin, end;  // the value
};

unsigned int Byte(const TBytes& d, size_t& pos, size_t end) {
    if (pos >= end) throw 0;
    return d[pos++];
}

// The length at `pos` and the span of the value after it, inside `end`.
Element ReadValue(const TBytes& d, size_t& pos, size_t end, unsigned int tag) {
    size_t length = Byte(d, pos, end);
    if (length >= 0x80) {
        const unsigned int count = static_cast<unsigned int>(length - 0x80);
        if (count == 0 || count > 4) throw 0;
        length = 0;
        for (unsigned int i = 0; i < count; ++i) length = (length << 8) | Byte(d, pos, end);
    }
    if (length > end - pos) throw 0;
    Element e = {tag, pos, pos + length};
    pos = e.end;
    return e;
}

Element ReadElement(const TBytes& d, size_t& pos, size_t end) {
    unsigned int tag = Byte(d, pos, end);
    if (tag == 0x1F) {
        const unsigned int second = Byte(d, pos, end);
        if ((second & 0x7F) == 0 || second == 0x1E) throw 0;
        tag += 256u * second;
        if (second & 0x80) {
            const unsigned int third = Byte(d, pos, end);
            if (third & 0x80) throw 0;
            tag += 65536u * third;
        }
    }
    return ReadValue(d, pos, end, tag);
}

// The value of the first child with `tag` between begin and end; none is the plain 0.
TBytes FindValue(const TBytes& d, size_t begin, size_t end, unsigned int tag) {
    size_t pos = begin;
    while (pos < end) {
        const Element e = ReadElement(d, pos, end);
        if (e.tag == tag)
            return TBytes(d.begin() + static_cast<std::ptrdiff_t>(e.begin), d.begin() + static_cast<std::ptrdiff_t>(e.end));
    }
    throw 0;
}
}  // namespace

TBytes GetValueFromAtributeFile(TBytes content) {
    if (content.size() < kAttributeHeader) return TBytes();
    CByteReader r(content.data() + kAttributeHeader, content.size() - kAttributeHeader);
    while (!r.empty()) {
        if (r.remaining() < kRecordHeader) return TBytes();
        const unsigned char first = r.u8();
        const unsigned char type = r.u8();
        r.skip(1);
        const size_t length = r.be16();
        if (length > r.remaining()) return TBytes();
        if (first == 0x00 && type == kRecordCertificate) return r.take(length);
        r.skip(length);
        while (!r.empty() && *r.pos() == 0xFF) r.skip(1);
    }
    return TBytes();
}

CCryTessel::CCryTessel(IApplet* applet) : CCryCommon(applet) {
    m_providerInfo.id = kProviderRsa;
    m_providerInfo.keySizes = {128, 256};
    m_providerInfo.flags = 3;
}

void CCryTessel::raise(unsigned short code, unsigned long line) const { Raise(code, line); }

TBytes CCryTessel::readWhole(const path& p) {
    IAppFS* fs = applet()->fs();
    fs->select(p);
    TBytes content(fs->info().size, 0);
    fs->read(content, 0);
    return content;
}

unsigned char CCryTessel::userPinReference() {
    return static_cast<unsigned char>(PinExtractAccess(applet()->pin()->pathUser()) & 0xFF);
}

std::vector<path> CCryTessel::list(unsigned short) {
    IAppFS* fs = applet()->fs();
    std::vector<path> out;
    fs->select(kKeyDir);
    for (unsigned short fid : fs->list(1))
        if ((fid & 0xFF00) == 0x0200) out.push_back(Child(kKeyDir, fid));
    fs->select(kCertDir);
    for (unsigned short fid : fs->list(1))
        if ((fid & 0xFF00) == 0x8400 && (fid & 0x0040)) out.push_back(Child(kCertDir, fid));
    return out;
}

void CCryTessel::select(path p) {
    if (p.empty()) raise(kSwNotFound, __LINE__);
    CCryptoInfo entry;
    entry.provider = kProviderRsa;
    entry.flags = 3;
    entry.path = p;
    const unsigned short kind = p.back() & 0xFF00;
    if (kind == 0x0200) {
        bool certificateRead = true;
        const unsigned char nn = static_cast<unsigned char>(p.back() & 0xFF);
        entry.pinReference = userPinReference();
        try {
            entry.certificate = GetValueFromAtributeFile(readWhole(Child(kCertDir, (nn & 0xBF) | 0x8400)));
        } catch (const IException&) {
            certificateRead = false;  // no such file: a key without certificate
        }
        // A file without certificate record gives nothing to parse: the walk's plain 0.
        if (certificateRead) entry.modulus = extractPublicKeyFromCert(entry.certificate);
        IAppFS* fs = applet()->fs();
        fs->select(Child(kKeyDir, static_cast<unsigned short>(((nn | 0x40) + 1) & 0xFFFF)));
        entry.keyLength = fs->info().size;
        entry.name = {static_cast<unsigned char>(nn & 0x0F)};
        entry.privateKey.assign(entry.keyLength, 0);

        TBytes reply(kReplySize, 0);
        applet()->sender()->send({0x80, 0x48, 0x00, 0x00, 0x00}, reply);
        CheckSW(applet(), reply);
        const size_t end = ResponseDataSize(reply);
        if (end >= 2 && reply[0] == 0x7F && reply[1] == 0x49) {
            size_t pos = 2;  // the public-key template 7F 49, then its length
            const Element key = ReadValue(reply, pos, end, kTagPublicKey);
            entry.keyPart2 = FindValue(reply, key.begin, key.end, kTagModulus);
            entry.keyPart1 = FindValue(reply, key.begin, key.end, kTagExponent);
        }
    } else if (kind == 0x8400) {
        entry.pinReference = 0;
        entry.certificate = GetValueFromAtributeFile(readWhole(p));
        entry.modulus = extractPublicKeyFromCert(entry.certificate);
        entry.keyLength = static_cast<unsigned short>(entry.modulus.size());
    } else {
        raise(kSwNotFound, __LINE__);
    }
    m_current = std::move(entry);  // only a selection that went through replaces the last one
}

unsigned char CCryTessel::genKeyPair(const unsigned char& id, bool) {
    // Template AC: the key's number (80) and the public exponent 65537 (81).
    const TBytes command = {0x00, 0x47, 0x00, 0x00, 0x0A, 0xAC, 0x08, 0x80, 0x01, id, 0x81, 0x03, 0x01, 0x00, 0x01, 0x00};
    TBytes reply(2, 0);
    applet()->sender()->send(command, reply);
    CheckSW(applet(), reply);
    return 0;
}

void CCryTessel::create(unsigned short fid, CCryptoInfo info) {
    if (fid == 0x0000 || fid == 0x3F00 || fid == 0x3FFF || fid == 0xFFFF) raise(kSwRefused, __LINE__);
    if (info.keyLength != 128 && info.keyLength != 256) raise(kSwRefused, __LINE__);
    // Tag 90 has a single length byte.
    if (info.keyPart1.size() > 0xFF) raise(kSwBadArgument, __LINE__);

    TBytes k;
    const size_t total = info.keyPart1.size() + info.keyPart2.size() + info.keyPart3.size() + info.keyPart4.size() +
                         info.keyPart5.size() + info.keyPart6.size() + info.keyPart7.size() + info.keyPart8.size();
    k.reserve(total + 18);  // two bytes before the first part, at most four before each of the other four
    k.push_back(0x90);
    k.push_back(static_cast<unsigned char>(info.keyPart1.size()));
    Append(k, info.keyPart1);
    PutElement(k, 0x91, info.keyPart2);
    PutElement(k, 0x92, info.keyPart3);
    PutJoined(k, 0x93, {&info.keyPart4, &info.keyPart5});
    PutJoined(k, 0x94, {&info.keyPart6, &info.keyPart7, &info.keyPart8});
    const size_t templateLength = 4 + kKeyDescriptionSize + 4 + k.size();
    if (templateLength > 0xFFFF) raise(kSwBadArgument, __LINE__);

    const unsigned char pin = keyOwnerReference();
    TBytes inner = {0x8A, 0x01, 0x04, 0x83, 0x02};
    PutBE16(inner, fid);
    inner.insert(inner.end(), {0x80, 0x02});
    PutBE16(inner, info.keyLength);
    inner.insert(inner.end(), {0x86, 0x0E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, pin, 0x00, pin, 0x00, 0x00, 0x00, pin});
    inner.insert(inner.end(), {0x85, 0x05, 0x05, 0x0C, 0x20, 0x00, 0xA3});

    TBytes c;
    c.reserve(templateLength + 7);
    c.insert(c.end(), {0x00, 0xE0, 0x08, 0x00, 0x00});
    PutBE16(c, static_cast<unsigned short>(templateLength));
    PutTemplate(c, 0x62, inner.size() + 4 + k.size());
    Append(c, inner);
    PutTemplate(c, 0x71, k.size());
    Append(c, k);

    TBytes reply(kPackReplySize, 0);
    try {
        applet()->pack()->sm(c, reply);
    } catch (const IException& e) {
        raise(e.code(), __LINE__);
    }
}

unsigned char CCryTessel::keyOwnerReference() {
    // The user PIN's first read selects 3F00/3000/3002 on the card; the key file
    // belongs in the directory the file system has selected, so that directory is
    // selected again after it. A place the file system does not know could not be.
    const CPinTessel* pins = dynamic_cast<const CPinTessel*>(applet()->pin());
    if (!pins || pins->designatorsRead()) return userPinReference();
    CFSTessel* fs = dynamic_cast<CFSTessel*>(applet()->fs());
    if (!fs || fs->cardPath().empty()) raise(kSwRefused, __LINE__);
    const path place = fs->cardPath();
    unsigned char reference = 0;
    try {
        reference = userPinReference();
    } catch (...) {
        // A read that failed after the card moved: the file system's selection is
        // made true again before the failure goes on (it is the one reported).
        try {
            fs->selectSimple(place);
        } catch (...) {
        }
        throw;
    }
    fs->selectSimple(place);
    return reference;
}

TBytes CCryTessel::decrypt(const TBytes& data) {
    TBytes field;
    field.reserve(data.size() + 4);
    PutElement(field, 0x82, data);
    if (field.size() > 0xFFFF) raise(kSwBadArgument, __LINE__);
    TBytes c;
    c.reserve(field.size() + 9);
    c.insert(c.end(), {0x00, 0x2A, 0x80, 0x0C, 0x00});
    PutBE16(c, static_cast<unsigned short>(field.size()));
    Append(c, field);
    c.insert(c.end(), {0x00, 0x00});
    TBytes reply(kPackReplySize, 0);
    applet()->pack()->chain(c, reply);
    CheckSW(applet(), reply);
    return FindValue(reply, 0, ResponseDataSize(reply), kTagPlain);
}

TBytes CCryTessel::signUseHashData(const unsigned char& id, const TBytes&, const TBytes& hash) {
    // Built first: a hash too long for the command is refused before any selection.
    TBytes field;
    PutElement(field, 0x80, hash);
    if (field.size() > 0xFFFF) raise(kSwBadArgument, __LINE__);
    TBytes c = {0x00, 0x2A, 0x9E, 0x8A, 0x00};
    PutBE16(c, static_cast<unsigned short>(field.size()));
    c.insert(c.end(), field.begin(), field.end());
    c.insert(c.end(), {0x00, 0x00});
    IAppFS* fs = applet()->fs();
    fs->select(Child(kKeyDir, static_cast<unsigned short>(0x0200 | id)));
    fs->select(Child(kKeyDir, static_cast<unsigned short>((id + 0x41) & 0xFF)));
    TBytes reply(kPackReplySize, 0);
    applet()->pack()->chain(c, reply);
    CheckSW(applet(), reply);
    reply.resize(ResponseDataSize(reply));
    return reply;
}

CCryptoInfo CCryTessel::info() { return m_current; }

TBytes CCryTessel::encrypt(const TBytes&) { raise(kErrNotSupported, __LINE__); }

CProviderInfo CCryTessel::provider(unsigned short id) {
    if (id != kProviderRsa) raise(kErrNotSupported, __LINE__);
    return m_providerInfo;
}

}  // namespace libapdu
