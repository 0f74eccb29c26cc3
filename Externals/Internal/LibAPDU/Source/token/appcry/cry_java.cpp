#include "appcry/cry_java.h"

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appcry/cry_java");

const unsigned short kProviderRsa = 0x1001;
const unsigned char kObjectFlags = 3;
const unsigned short kDescriptorFid = 0x0001;
const unsigned short kCertificateFid = 0x0002;
const size_t kKeyHeader = 6;
const size_t kNameField = 2;  // fields before the name

const size_t kInfoReplySize = 258;
const size_t kLongReplySize = 1026;
// The key-information answer: byte 2 names the object kind, a bit of byte 3 the size.
const size_t kMinKeyInfoReply = 7;
const unsigned char kKindRsaKey = 0x05;
const unsigned char kBitLongKey = 0x04;
const unsigned short kShortKey = 128, kLongKey = 256;

enum : unsigned char { kTagData = 0x10, kTagKeyData = 0x28, kLengthEscape = 0xFF };

const JavaCryCommands kJavaCommands = {0x07, 0x08, 0x0C, false};

bool IsObject(unsigned short fid, unsigned short kind) { return (fid & 0xF000) == kind; }

path Child(path p, unsigned short fid) {
    p.push_back(fid);
    return p;
}
}  // namespace

// ---------------------------------------------------------------- TLV walk

TBytes JavaCryTlvValue(const TBytes& data, size_t tail, unsigned char tag) {
    CByteReader r(data);
    unsigned char t = 0;
    CByteReader value(nullptr, 0);
    while (r.remaining() > tail) {
        // A 00 or FF tag, or a length or value past the data, ends the list malformed.
        if (!r.nextEscapedElement(t, value)) throw 0;
        if (t == tag) return value.take(value.remaining());
    }
    throw 0;
}

// ---------------------------------------------------------------- finder

const path& CJavaFamilyFinder::objectDirectory() {
    static const path kDirectory = {0x3F00, 0x6666, 0x5000, 0x0220};
    return kDirectory;
}

CJavaFamilyFinder::CJavaFamilyFinder(const CAdapter& adapter, bool descriptorFlags, const wchar_t* source)
    : m_adapter(adapter), m_descriptorFlags(descriptorFlags), m_source(source) {}

void CJavaFamilyFinder::valid_field(const TBytes& buf) {
    if (buf.empty() || buf.size() < 1u + buf[0]) ExternalRaise(kSwBadAnswer, m_source, __LINE__);
}

void CJavaFamilyFinder::get_field(TBytes& buf) {
    valid_field(buf);
    buf = TBytes(buf.begin() + 1, buf.begin() + 1 + buf[0]);
}

void CJavaFamilyFinder::skip_field(TBytes& buf) {
    valid_field(buf);
    buf.erase(buf.begin(), buf.begin() + 1 + buf[0]);
}

void CJavaFamilyFinder::getcerts() {
    for (unsigned short fid : ListChildren(m_adapter, objectDirectory(), 2)) {
        if (!IsObject(fid, 0x1000)) continue;
        CCryptoInfo object;
        object.provider = kProviderRsa;
        object.flags = kObjectFlags;
        const path folder = Child(objectDirectory(), fid);
        try {
            m_adapter.fs->select(Child(folder, kCertificateFid));
            object.certificate = FileRead(m_adapter);
        } catch (const IException&) {
            continue;  // no certificate, no object
        }
        try {
            m_adapter.fs->select(Child(folder, kDescriptorFid));
            TBytes fields = FileRead(m_adapter);
            for (size_t i = 0; i < kNameField; ++i) skip_field(fields);
            get_field(fields);
            object.name = fields;
        } catch (const IException&) {
            object.name.clear();  // listed without a name
        }
        object.path = folder;
        certs.push_back(std::move(object));
    }
}

void CJavaFamilyFinder::getkeys() {
    for (unsigned short fid : ListChildren(m_adapter, objectDirectory(), 2)) {
        if (!IsObject(fid, 0x3000)) continue;
        CCryptoInfo object;
        object.provider = kProviderRsa;
        object.flags = m_descriptorFlags ? 0 : kObjectFlags;
        const path folder = Child(objectDirectory(), fid);
        try {
            object.pinReference = static_cast<unsigned char>(PinExtractAccess(m_adapter.pin->pathUser()) & 0xFF);
        } catch (const IException&) {
            continue;
        }
        try {
            m_adapter.fs->select(Child(folder, kDescriptorFid));
            TBytes fields = FileRead(m_adapter);
            if (fields.size() < kKeyHeader) ExternalRaise(kSwBadAnswer, m_source, __LINE__);
            if (m_descriptorFlags) object.flags = (fields[0] & 0x80) ? 2 : 1;
            fields.erase(fields.begin(), fields.begin() + kKeyHeader);
            for (size_t i = 0; i < kNameField; ++i) skip_field(fields);
            get_field(fields);
            object.name = fields;
        } catch (const IException&) {
            object.name.clear();
        }
        object.path = folder;
        keys.push_back(std::move(object));
    }
}

CJavaFinder::CJavaFinder(const CAdapter& adapter) : CJavaFamilyFinder(adapter, true, kSource) {}

// ---------------------------------------------------------------- facet

CCryJavaFamily::CCryJavaFamily(IApplet* applet, const JavaCryCommands& commands, const wchar_t* source)
    : CCryContainers(applet, source, {kShortKey, kLongKey}), m_cmd(commands) {}

void CCryJavaFamily::select(path p) {
    selectContainer(p);
    if (!IsObject(p.back(), 0x3000)) return;  // a certificate alone: nothing on the card
    applet()->fs()->select(p);
    readKeySize();
    if (m_cmd.keyDataIns) readKeyData();
}

void CCryJavaFamily::readKeySize() {
    const TBytes command = {0x80, m_cmd.keyInfoIns, 0x00, kKeyReference, 0x03, 0x10, 0x01, 0x1A, 0x00};
    TBytes reply(kInfoReplySize, 0);
    applet()->sender()->send(command, reply);
    CheckSW(applet(), reply);
    if (reply.size() < kMinKeyInfoReply) raise(kSwBadAnswer, __LINE__);
    if (reply[2] != kKindRsaKey) raise(0x6283, __LINE__);
    m_current.keyLength = (reply[3] & kBitLongKey) ? kLongKey : kShortKey;
    m_current.privateKey.resize(m_current.keyLength, 0);
}

void CCryJavaFamily::readKeyData() {
    const TBytes command = {0x80, m_cmd.keyDataIns, 0x00, kKeyReference, 0x00, 0x00, 0x00};
    TBytes reply(kLongReplySize, 0);
    applet()->sender()->send(command, reply);
    CheckSW(applet(), reply);
    reply.resize(ResponseDataSize(reply));
    m_current.keyPart1 = JavaCryTlvValue(reply, 0, kTagKeyData);
}

TBytes CCryJavaFamily::decrypt(const TBytes& data) {
    if (m_cmd.checkBeforeDecipher) {
        if (!isValidDataForRSA(m_current.modulus, data)) raise(kSwBadAnswer, __LINE__);
        if (m_current.privateKey.empty()) raise(kSwNotFound, __LINE__);
    }
    if (data.size() > kMaxDecipherData) raise(kSwBadArgument, __LINE__);

    const size_t n = data.size();
    TBytes c;
    c.reserve(n + 13);
    c.insert(c.end(), {0x80, m_cmd.decipherIns, 0x03, kKeyReference, 0x00});
    PutBE16(c, static_cast<unsigned short>(n + 4));
    c.push_back(kTagData);
    c.push_back(kLengthEscape);
    PutBE16(c, static_cast<unsigned short>(n));
    c.insert(c.end(), data.begin(), data.end());
    c.insert(c.end(), {0x04, 0x00});

    TBytes reply(kLongReplySize, 0);
    if (applet()->info()->isFips())
        applet()->pack()->sm(c, reply);
    else
        applet()->sender()->send(c, reply);
    CheckSW(applet(), reply);
    reply.resize(ResponseDataSize(reply));
    return JavaCryTlvValue(reply, 2, kTagData);
}

CCryJava::CCryJava(IApplet* applet) : CCryJavaFamily(applet, kJavaCommands, kSource) {}

std::unique_ptr<CCryFinder> CCryJava::makeFinder(const CAdapter& adapter) const {
    return std::unique_ptr<CCryFinder>(new CJavaFinder(adapter));
}

}  // namespace libapdu
