#include "fs_common.h"

#include <cstring>

#include <algorithm>
#include <stdexcept>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_common");

// A file offset is 16 bits wide: a transfer that would run past FFFF would wrap
// to the start of the file and overwrite (or return) the wrong bytes.
void CheckSpan(unsigned short offset, size_t total) {
    if (static_cast<uint64_t>(offset) + total > 0x10000u) LIBAPDU_RAISE(kSwBadArgument);
}

[[noreturn]] void NotFound() { throw 0; }
}  // namespace

void CheckCreateFID(unsigned short fid) {
    if (fid == 0x0000 || fid == 0x3F00 || fid == 0x3FFF || fid == 0xFFFF) LIBAPDU_RAISE(kSwRefused);
}

// ---------------------------------------------------------------- CFSCommon

CFSCommon::CFSCommon(IApplet* owner) : applet(owner) {}

CFSCommon::~CFSCommon() = default;

void CFSCommon::checkSW(const TBytes& response) { CheckSW(applet, response); }

TBytes CFSCommon::exchange(const TBytes& command, size_t replySize) {
    TBytes reply(replySize, 0);
    applet->sender()->send(command, reply);
    checkSW(reply);
    return reply;
}

void CFSCommon::read(TBytes& data, unsigned short offset) {
    const size_t total = data.size();
    if (total == 0) return;
    CheckSpan(offset, total);
    const size_t n = bit_size();
    if (n == 0) LIBAPDU_RAISE(kErrGeneral);  // no progress possible; never report an unread buffer as read

    TBytes piece(std::min(n, total));
    for (size_t sum = 0; sum < total; sum += n) {
        const size_t rest = total - sum;
        if (rest < piece.size()) piece.resize(rest);
        const size_t asked = piece.size();
        read_bit(piece, static_cast<unsigned short>(offset + sum));
        // A family that hands back another length would shift or overrun the caller's buffer.
        if (piece.size() != asked) LIBAPDU_RAISE(kSwBadPieceSize);
        std::copy(piece.begin(), piece.end(), data.begin() + static_cast<std::ptrdiff_t>(sum));
    }
}

void CFSCommon::write(const TBytes& data, unsigned short offset) {
    const size_t total = data.size();
    if (total == 0) return;
    CheckSpan(offset, total);
    const size_t n = bit_size();
    if (n == 0) LIBAPDU_RAISE(kErrGeneral);

    // One buffer for every piece.
    TBytes piece;
    piece.reserve(std::min(n, total));
    for (size_t sum = 0; sum < total; sum += n) {
        const size_t take = std::min(n, total - sum);
        const auto from = data.begin() + static_cast<std::ptrdiff_t>(sum);
        piece.assign(from, from + static_cast<std::ptrdiff_t>(take));
        write_bit(piece, static_cast<unsigned short>(offset + sum));
    }
}

// ---------------------------------------------------------------- TagValue

TBytes TagValue::Format() const {
    // Header into a fixed buffer, then one allocation of the exact size.
    unsigned char head[4] = {tag, 0, 0, 0};
    size_t h = 2;
    const size_t n = value.size();
    if (n < 0x80) {
        head[1] = static_cast<unsigned char>(n);
    } else if (n < 0x100) {
        head[1] = 0x81;
        head[2] = static_cast<unsigned char>(n);
        h = 3;
    } else if (n <= 0xFFFF) {
        head[1] = 0x82;
        head[2] = static_cast<unsigned char>(n >> 8);
        head[3] = static_cast<unsigned char>(n & 0xFF);
        h = 4;
    } else {
        throw std::runtime_error("data field exceeds tag maximum length");
    }
    TBytes out(h + n);
    std::memcpy(out.data(), head, h);
    if (n) std::memcpy(out.data() + h, value.data(), n);
    return out;
}

void TagValue::Append(TagValue child) {
    const TBytes encoded = child.Format();  // throws before this element changes
    value.insert(value.end(), encoded.begin(), encoded.end());
}

// ---------------------------------------------------------------- CBERTLV

CBERTLV CBERTLV::answer(const TBytes& response) {
    return CBERTLV(response.data(), ResponseDataSize(response), true, 0);
}

CBERTLV CBERTLV::getChild(uint32_t wanted, const CBERTLV* after) const {
    if (!constructed) NotFound();

    // Where to start, as a count into this element's value. `after` must lie inside
    // it; its end is checked by counts so no pointer past the end is ever formed.
    uint64_t start = 0;
    if (after) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(value);
        const uintptr_t at = reinterpret_cast<uintptr_t>(after->value);
        if (at < base || at - base > length) NotFound();
        const uint64_t into = at - base;
        if (after->length > length - into) NotFound();
        start = into + after->length;
    }
    if (start >= length) NotFound();

    CByteReader r(value + start, static_cast<size_t>(length - start));
    while (!r.empty()) {
        const unsigned char b0 = r.u8();
        uint32_t t = b0;
        if (b0 == 0x1F) {
            if (r.empty()) NotFound();
            const unsigned char b1 = r.u8();
            if ((b1 & 0x7F) == 0 || b1 == 0x1E) NotFound();
            t += static_cast<uint32_t>(b1) << 8;
            if (b1 & 0x80) {
                if (r.empty()) NotFound();
                const unsigned char b2 = r.u8();
                if (b2 & 0x80) NotFound();
                t += static_cast<uint32_t>(b2) << 16;
            }
        }

        if (r.empty()) NotFound();
        const unsigned char l = r.u8();
        if (l == 0x80 || l > 0x84) NotFound();
        uint64_t len = l;
        if (l > 0x80) {
            const size_t k = l - 0x80u;
            if (r.remaining() < k) NotFound();
            len = 0;
            for (size_t i = 0; i < k; ++i) len = (len << 8) | r.u8();
        }
        // A child running past its parent (or the data) is not a child at all.
        if (len > r.remaining()) NotFound();

        if (t == wanted) return CBERTLV(r.pos(), len, (b0 & 0x20) != 0, wanted);
        r.skip(static_cast<size_t>(len));
    }
    NotFound();
}

}  // namespace libapdu
