// Whole-path helpers over a facet adapter, Base64 and byte-order reversal.
#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t* const kSource = kInternalSource;

const size_t kMaxPathDepth = 64;

const std::string kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned char AccessByte(CAdapter& a) { return static_cast<unsigned char>(PinExtractAccess(a.pin->pathUser()) & 0xFF); }
}  // namespace

unsigned short PinExtractAccess(const path& p) {
    if (p.empty()) LIBAPDU_RAISE(kSwBadArgument);
    return p.back();
}

CFileInfo FileMakeDirInfo(CAdapter a) { return CFileInfo(2, 0, 0, AccessByte(a)); }

CFileInfo FileMakeFileInfo(CAdapter a, unsigned short size, bool isProtected) {
    const unsigned char access = AccessByte(a);
    return CFileInfo(1, size, isProtected ? access : 0, access);
}

TBytes FileRead(CAdapter a) {
    CFileInfo d = a.fs->info();
    TBytes buffer(d.size, 0);
    a.fs->read(buffer, 0);
    return buffer;
}

void FileCreatePath(CAdapter a, const path& target, CFileInfo info) {
    path candidate = target;
    for (;;) {
        try {
            a.fs->select(candidate);
            break;
        } catch (IException&) {
            if (candidate.empty()) throw;
            candidate.pop_back();
        }
    }
    while (candidate.size() < target.size()) {
        a.fs->select(candidate);
        const unsigned short id = target[candidate.size()];
        a.fs->create(id, info);
        candidate.push_back(id);
    }
}

void FileCreateAndWrite(CAdapter a, path p, CFileInfo info, const TBytes& data) {
    if (p.empty()) LIBAPDU_RAISE(kSwBadArgument);
    const unsigned short id = p.back();
    p.pop_back();
    a.fs->select(p);
    a.fs->create(id, info);
    p.push_back(id);
    a.fs->select(p);
    a.fs->write(data, 0);
}

void FileDeletePath(CAdapter a, path p) {
    // A card that lists a directory inside itself would otherwise recurse until the
    // stack of the calling JVM thread runs out; no card nests this deep.
    if (p.size() > kMaxPathDepth) LIBAPDU_RAISE(kSwBadAnswer);
    a.fs->select(p);
    CFileInfo d = a.fs->info();
    if (d.type == 1) {
        a.fs->remove();
        return;
    }
    const std::vector<unsigned short> files = a.fs->list(1);
    const std::vector<unsigned short> dirs = a.fs->list(2);
    for (unsigned short f : files) {
        p.push_back(f);
        a.fs->select(p);
        a.fs->remove();
        p.pop_back();
    }
    for (unsigned short s : dirs) {
        p.push_back(s);
        FileDeletePath(a, p);
        p.pop_back();
    }
    a.fs->select(p);
    a.fs->remove();
}

std::string base64_encode(const TBytes& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(kBase64Alphabet[(v >> 6) & 63]);
        out.push_back(kBase64Alphabet[v & 63]);
    }
    const size_t rest = bytes.size() - i;
    if (rest) {
        const unsigned v = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

namespace {
// The value of a Base64 letter; npos for anything else ('=' and NUL included).
size_t Base64Value(char c) { return c == '\0' ? std::string::npos : kBase64Alphabet.find(c); }

// Decodes the letters up to the first other character into `out`, whose room
// for the whole result is reserved first: it is never regrown.
void Base64Decode(const char* text, size_t size, TBytes& out) {
    size_t letters = 0;
    while (letters < size && Base64Value(text[letters]) != std::string::npos) ++letters;
    out.reserve(letters / 4 * 3 + (letters % 4 == 3 ? 2 : letters % 4 == 2 ? 1 : 0));
    unsigned acc = 0;
    int count = 0;
    for (size_t i = 0; i < letters; ++i) {
        acc = (acc << 6) | static_cast<unsigned>(Base64Value(text[i]));
        if (++count == 4) {
            out.push_back(static_cast<unsigned char>(acc >> 16));
            out.push_back(static_cast<unsigned char>(acc >> 8));
            out.push_back(static_cast<unsigned char>(acc));
            acc = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<unsigned char>(acc >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<unsigned char>(acc >> 10));
        out.push_back(static_cast<unsigned char>(acc >> 2));
    }
}
}  // namespace

TBytes base64_decode(const std::string& text) {
    TBytes out;
    Base64Decode(text.data(), text.size(), out);
    return out;
}

TBytes Base64DecodeText(const TBytes& text) {
    TBytes out;
    Base64Decode(reinterpret_cast<const char*>(text.data()), text.size(), out);
    return out;
}

void reverseBuf(TBytes& v) {
    for (size_t i = 0, n = v.size(); i < n / 2; ++i) std::swap(v[i], v[n - 1 - i]);
}

}  // namespace libapdu
