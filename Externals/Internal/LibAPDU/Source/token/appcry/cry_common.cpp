#include "appcry/cry_common.h"

namespace libapdu LIBAPDU_API {

namespace {

// Tags of the elements on the way to the modulus.
enum : unsigned int { kDerSequence = 0x30, kDerBitString = 0x03, kDerInteger = 0x02 };
// The subject public key is the fifth SEQUENCE among the to-be-signed fields:
// after the signature algorithm, the issuer, the validity and the subject.
const int kPublicKeyInfoOrdinal = 5;

// A DER element's content, as offsets into the certificate.
struct DerSpan {
    size_t begin;
    size_t end;
};

[[noreturn]] void Malformed() { throw 0; }

// Reads one element header at `pos` inside `within`; its content must lie
// inside `within` as well.
DerSpan ReadElement(const TBytes& der, size_t& pos, const DerSpan& within, unsigned int& tag) {
    auto byte = [&]() -> unsigned int {
        if (pos >= within.end) Malformed();
        return der[pos++];
    };
    tag = byte();
    if (tag == 0x1F) {
        const unsigned int second = byte();
        if ((second & 0x7F) == 0 || second == 0x1E) Malformed();
        tag += 256u * second;
        if (second & 0x80) {
            const unsigned int third = byte();
            if (third & 0x80) Malformed();
            tag += 65536u * third;
        }
    }
    size_t length = byte();
    if (length >= 0x80) {
        const unsigned int count = static_cast<unsigned int>(length - 0x80);
        if (count == 0 || count > 4) Malformed();  // indefinite, or wider than 32 bits
        length = 0;
        for (unsigned int i = 0; i < count; ++i) length = (length << 8) | byte();
    }
    if (length > within.end - pos) Malformed();
    DerSpan content = {pos, pos + length};
    pos = content.end;
    return content;
}

// The `ordinal`-th element with `wanted` tag among the children of `within`;
// an element found with no content is as malformed as none found.
DerSpan Find(const TBytes& der, const DerSpan& within, unsigned int wanted, int ordinal = 1) {
    size_t pos = within.begin;
    while (pos < within.end) {
        unsigned int tag = 0;
        const DerSpan content = ReadElement(der, pos, within, tag);
        if (tag != wanted || --ordinal > 0) continue;
        if (content.begin == content.end) Malformed();
        return content;
    }
    Malformed();
}

}  // namespace

CCryFinder::~CCryFinder() = default;

namespace {
// A container of a key that lives on the card: its description, a placeholder private key.
CCryptoInfo KeyContainer(const CCryptoInfo& key) {
    CCryptoInfo c;
    c.provider = key.provider;
    c.keyLength = key.keyLength;
    c.pinReference = key.pinReference;
    c.name = key.name;
    c.flags = key.flags;
    c.path = key.path;
    c.privateKey.assign(key.keyLength, 0);
    return c;
}
}  // namespace

void CCryFinder::unite() {
    std::vector<bool> keyPaired(keys.size(), false);
    std::vector<bool> certPaired(certs.size(), false);
    for (size_t k = 0; k < keys.size(); ++k) {
        for (size_t c = 0; c < certs.size(); ++c) {
            if (keys[k].name != certs[c].name) continue;
            keyPaired[k] = certPaired[c] = true;
            CCryptoInfo pair = KeyContainer(keys[k]);
            pair.certificate = certs[c].certificate;
            pair.modulus = extractPublicKeyFromCert(certs[c].certificate);
            united.push_back(std::move(pair));
        }
    }
    for (size_t k = 0; k < keys.size(); ++k)
        if (!keyPaired[k]) united.push_back(KeyContainer(keys[k]));
    for (size_t c = 0; c < certs.size(); ++c) {
        if (certPaired[c]) continue;
        CCryptoInfo lone;
        lone.provider = certs[c].provider;
        lone.name = certs[c].name;
        lone.flags = certs[c].flags;
        lone.path = certs[c].path;
        lone.certificate = certs[c].certificate;
        lone.modulus = extractPublicKeyFromCert(certs[c].certificate);
        lone.keyLength = static_cast<unsigned short>(lone.modulus.size());
        lone.pinReference = 0;
        united.push_back(std::move(lone));
    }
}

// ---------------------------------------------------------------- container facets

CCryContainers::CCryContainers(IApplet* applet, const wchar_t* source, std::vector<unsigned short> keySizes)
    : CCryCommon(applet), m_source(source) {
    m_providerInfo.id = 0x1001;
    m_providerInfo.keySizes = std::move(keySizes);
    m_providerInfo.flags = 3;
}

void CCryContainers::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, m_source, line); }

void CCryContainers::init() {
    if (m_initialised) return;
    m_initialised = true;  // set first: a search that fails is not repeated
    std::unique_ptr<CCryFinder> finder = makeFinder(adapter());
    finder->getcerts();
    finder->getkeys();
    finder->unite();
    m_containerList = finder->containers();
}

std::vector<path> CCryContainers::list(unsigned short) {
    init();
    std::vector<path> out;
    out.reserve(m_containerList.size());
    for (const CCryptoInfo& c : m_containerList) out.push_back(c.path);
    return out;
}

void CCryContainers::selectContainer(const path& p) {
    init();
    if (p.empty()) raise(kSwNotFound, __LINE__);
    m_current = CCryptoInfo();
    for (const CCryptoInfo& c : m_containerList)
        if (c.path == p) m_current = c;  // the last one with the path wins
    if (m_current.path != p) {
        m_current = CCryptoInfo();
        raise(kSwNotFound, __LINE__);
    }
}

CCryptoInfo CCryContainers::info() { return m_current; }

TBytes CCryContainers::encrypt(const TBytes&) { raise(kErrNotSupported, __LINE__); }

CProviderInfo CCryContainers::provider(unsigned short id) {
    if (id != m_providerInfo.id) raise(kErrNotSupported, __LINE__);
    return m_providerInfo;
}

std::vector<unsigned short> ListChildren(CAdapter& a, const path& folder, unsigned char kind) {
    try {
        a.fs->select(folder);
        return a.fs->list(kind);
    } catch (const IException&) {
        return std::vector<unsigned short>();
    }
}

TBytes extractPublicKeyFromCert(const TBytes& certificate) {
    const DerSpan whole = {0, certificate.size()};
    const DerSpan cert = Find(certificate, whole, kDerSequence);
    const DerSpan tbs = Find(certificate, cert, kDerSequence);
    const DerSpan keyInfo = Find(certificate, tbs, kDerSequence, kPublicKeyInfoOrdinal);
    DerSpan bits = Find(certificate, keyInfo, kDerBitString);
    ++bits.begin;  // the count of unused bits; Find saw at least this byte
    const DerSpan rsaKey = Find(certificate, bits, kDerSequence);
    DerSpan modulus = Find(certificate, rsaKey, kDerInteger);
    // Only a sign byte is dropped: a modulus whose top bit is clear (a 2047-bit
    // key) has none, and its first byte is part of the number.
    if (certificate[modulus.begin] == 0x00) ++modulus.begin;
    return TBytes(certificate.begin() + static_cast<std::ptrdiff_t>(modulus.begin),
                  certificate.begin() + static_cast<std::ptrdiff_t>(modulus.end));
}

bool isValidDataForRSA(const TBytes& modulus, const TBytes& data) {
    if (data.empty() || data.size() != modulus.size()) return false;
    for (size_t i = 0; i < data.size(); ++i)
        if (data[i] != modulus[i]) return data[i] < modulus[i];
    return false;  // equal
}

}  // namespace libapdu
