// The transport's length rewrites on arbitrary commands. A command that the
// Java side accepts as it stands goes through unchanged; each of the three forms
// the library builds and the Java side refuses (an empty short Lc before Le, an
// extended Lc with a one-byte Le, a short Lc with a two-byte Le) comes out in a
// form it accepts, with the same header and data, asking for no fewer answer
// bytes than the command asked for (up to what a short Le can say).
#include <cstdlib>
#include <optional>

#include "Z6EZSender.h"

namespace {

using libapdu::TBytes;

struct Parsed {
    TBytes header, data;
    size_t ne = 0;  // expected answer length, 0 when none
};

// The rules javax.smartcardio.CommandAPDU(byte[]) applies to its argument.
std::optional<Parsed> JavaAccepts(const TBytes& c) {
    if (c.size() < 4) return std::nullopt;
    Parsed p;
    p.header.assign(c.begin(), c.begin() + 4);
    if (c.size() == 4) return p;
    const size_t l1 = c[4];
    if (c.size() == 5) {
        p.ne = l1 ? l1 : 256;
        return p;
    }
    if (l1 != 0) {
        if (c.size() != 5 + l1 && c.size() != 6 + l1) return std::nullopt;
        p.data.assign(c.begin() + 5, c.begin() + 5 + l1);
        if (c.size() == 6 + l1) p.ne = c.back() ? c.back() : 256;
        return p;
    }
    if (c.size() < 7) return std::nullopt;
    const size_t l2 = (static_cast<size_t>(c[5]) << 8) | c[6];
    if (c.size() == 7) {
        p.ne = l2 ? l2 : 65536;
        return p;
    }
    if (l2 == 0 || (c.size() != 7 + l2 && c.size() != 9 + l2)) return std::nullopt;
    p.data.assign(c.begin() + 7, c.begin() + 7 + l2);
    if (c.size() == 9 + l2) {
        const size_t le = (static_cast<size_t>(c[c.size() - 2]) << 8) | c.back();
        p.ne = le ? le : 65536;
    }
    return p;
}

// The forms the library builds that need a rewrite, read as the library means
// them; nothing when the command is none of them.
std::optional<Parsed> LibraryForm(const TBytes& c) {
    Parsed p;
    if (c.size() < 6) return std::nullopt;
    p.header.assign(c.begin(), c.begin() + 4);
    if (c.size() == 6 && c[4] == 0x00) {
        p.ne = c[5] ? c[5] : 256;
        return p;
    }
    if (c.size() < 8) return std::nullopt;
    if (c[4] == 0x00) {
        const size_t l2 = (static_cast<size_t>(c[5]) << 8) | c[6];
        if (l2 == 0 || c.size() != 8 + l2) return std::nullopt;
        p.data.assign(c.begin() + 7, c.begin() + 7 + l2);
        p.ne = c.back() ? c.back() : 256;
        return p;
    }
    const size_t l1 = c[4];
    if (c.size() != 7 + l1) return std::nullopt;
    p.data.assign(c.begin() + 5, c.begin() + 5 + l1);
    const size_t le = (static_cast<size_t>(c[c.size() - 2]) << 8) | c.back();
    p.ne = le ? le : 65536;
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const TBytes command(bytes, bytes + size);
    const TBytes sent = KOVA::APDUSupport::Z6EZSender::rewrite(command);
    if (JavaAccepts(command)) {
        if (sent != command) abort();
        return 0;
    }
    const std::optional<Parsed> meant = LibraryForm(command);
    if (!meant) return 0;
    const std::optional<Parsed> got = JavaAccepts(sent);
    if (!got || got->header != meant->header || got->data != meant->data) abort();
    // A short Le can ask for at most 256 bytes.
    const size_t reachable = got->data.size() <= 255 && sent.size() > 4 && sent[4] != 0 ? 256 : 65536;
    if (got->ne < std::min(meant->ne, reachable)) abort();
    return 0;
}
