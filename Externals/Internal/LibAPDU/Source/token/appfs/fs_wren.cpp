#include "fs_wren.h"

#include <algorithm>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_wren");

const unsigned short kRoot = 0x3F00;
const unsigned char kSelectLe = 0x08;
const size_t kSelectAnswer = 10;  // eight data bytes and the status word
const size_t kListReply = 2052;
const size_t kMaxLc = 0xFF;
const unsigned short kPiece = 200;

// The applet's own words for what the other families answer in ISO terms.
const unsigned short kSwNoFile = 0x6407, kSwFileExists = 0x6408, kSwCannotRemove = 0x6406;
const unsigned short kSwExists = 0x6A89, kSwNoDirectory = 0x6283, kSwOutOfFile = 0x6A84;

void PutLE16(TBytes& out, unsigned short v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
}  // namespace

CFSWren::CFSWren(IApplet* applet) : CFSCommon(applet) {}

CFSWren::~CFSWren() = default;

unsigned short CFSWren::bit_size() { return kPiece; }

CFileInfo CFSWren::info() { return m_current; }

unsigned char CFSWren::userAccess() {
    return static_cast<unsigned char>(PinExtractAccess(applet->pin()->pathUser()) & 0xFF);
}

TBytes CFSWren::exchange(const TBytes& command, size_t replySize, unsigned short from, unsigned short to) {
    TBytes reply(replySize, 0);
    applet->sender()->send(command, reply);
    IAppError* e = applet->error();
    unsigned short sw = e->extractSW(reply);
    if (from && sw == from) sw = to;
    e->raiseSW(sw);
    return reply;
}

void CFSWren::select(path p) {
    if (p.empty() || p.front() != kRoot) p.insert(p.begin(), kRoot);
    const size_t lc = 2 * p.size() + 2;
    // The element count and Lc are one byte each: a longer path cannot be sent.
    if (lc > kMaxLc) LIBAPDU_RAISE(kSwBadArgument);

    TBytes c = {0x00, 0xA4, 0x00, 0x00, static_cast<unsigned char>(lc), 0x00, static_cast<unsigned char>(p.size())};
    for (unsigned short fid : p) PutLE16(c, fid);
    c.push_back(kSelectLe);
    const TBytes reply = exchange(c, kSelectAnswer, kSwNoFile, kSwNotFound);
    if (reply.size() != kSelectAnswer) LIBAPDU_RAISE(kSwBadAnswer);

    CByteReader r(reply);
    r.skip(2);
    const unsigned char kind = r.u8();
    const unsigned char protectedFlag = r.u8();
    const unsigned short size = r.le16();
    const unsigned char p8 = userAccess();
    m_current = kind == 0x02 ? CFileInfo(2, size, 0x00, p8) : CFileInfo(1, size, protectedFlag ? p8 : 0x00, p8);
}

void CFSWren::create(unsigned short fid, CFileInfo info) {
    CheckCreateFID(fid);
    if (info.type != 1 && info.type != 2) LIBAPDU_RAISE(kErrNotSupported);
    // Only a file is sent its read access and size; a folder gets zeros there.
    const bool file = info.type == 1;
    TBytes c = {0x00, 0xE0, 0x00, 0x00, 0x06, info.type, file ? info.readAccess : static_cast<unsigned char>(0)};
    PutLE16(c, file ? info.size : 0);
    PutLE16(c, fid);
    c.push_back(0x00);
    exchange(c, 2, kSwFileExists, kSwExists);
}

void CFSWren::remove() {
    const unsigned char kind = m_current.type == 2 ? 0x02 : 0x01;
    exchange({0x00, 0xE2, 0x00, 0x00, 0x01, kind}, 2, kSwCannotRemove, kSwRefused);
}

std::vector<unsigned short> CFSWren::list(unsigned char type) {
    if (m_current.type != 2) LIBAPDU_RAISE(kSwNoDirectory);
    const unsigned char k = type == 2 ? 0x02 : 0x01;
    const TBytes reply = exchange({0x00, 0xD2, 0x00, 0x00, 0x03, 0x00, 0x04, k, 0x00}, kListReply);

    // Two header bytes, then identifiers low byte first; a trailing odd byte is no identifier.
    std::vector<unsigned short> out;
    CByteReader r(reply.data(), ResponseDataSize(reply));
    if (r.remaining() < 2) return out;
    r.skip(2);
    while (r.remaining() >= 2) out.push_back(r.le16());
    return out;
}

void CFSWren::read_bit(TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (offset > m_current.size || offset + n > m_current.size) LIBAPDU_RAISE(kSwBadPieceSize);
    TBytes c = {0x00, 0xB0, 0x00, 0x00, 0x04};
    PutLE16(c, offset);
    PutLE16(c, static_cast<unsigned short>(n));
    c.push_back(0x00);
    // The answer is copied into the caller's piece in place.
    TBytes reply = exchange(c, n + 2);
    if (reply.size() != n + 2) LIBAPDU_RAISE(kSwBadPieceSize);
    std::copy(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n), piece.begin());
}

void CFSWren::write_bit(const TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (offset > m_current.size || offset + n > m_current.size) LIBAPDU_RAISE(kSwOutOfFile);
    if (n + 4 > kMaxLc) LIBAPDU_RAISE(kSwBadArgument);
    // The command in one allocation.
    TBytes c;
    c.reserve(9 + n);
    c.insert(c.end(), {0x00, 0xD0, 0x00, 0x00, static_cast<unsigned char>(n + 4)});
    PutLE16(c, offset);
    PutLE16(c, static_cast<unsigned short>(n));
    c.insert(c.end(), piece.begin(), piece.end());
    exchange(c, 2);
}

}  // namespace libapdu
