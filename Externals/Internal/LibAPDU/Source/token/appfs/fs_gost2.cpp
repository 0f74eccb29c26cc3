#include "fs_gost2.h"

#include <set>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_gost2");

const unsigned short kRoot = 0x3F00;
const size_t kRecord = 7;
const size_t kSelectReply = 9, kListReply = 258, kStatusReply = 2;
// Select carries the path in a one-byte Lc.
const size_t kMaxPathIds = 127;

const unsigned char kReadFree = 0x01, kWriteFree = 0x08;
const unsigned char kAccessBase = 0xB6, kFolderAccess = 0xB7, kAccessTag = 0x0D;

TBytes Command(unsigned char p1, unsigned char p2) { return {0x80, 0x4C, p1, p2}; }
}  // namespace

CFSGost2::CFSGost2(IApplet* owner) : CFSCommon(owner) {}

CFSGost2::~CFSGost2() = default;

void CFSGost2::select(path p) {
    if (!p.empty() && p.front() == kRoot) p.erase(p.begin());
    if (p.size() > kMaxPathIds) LIBAPDU_RAISE(kSwBadArgument);
    TBytes command;
    if (p.empty()) {
        command = {0x80, 0x4C, 0x80, 0x01, 0x00};
    } else {
        command = {0x80, 0x4C, 0x80, 0x02, static_cast<unsigned char>(p.size() * 2)};
        for (unsigned short id : p) PutBE16(command, id);
        command.push_back(0x00);
    }
    const TBytes reply = exchange(command, kSelectReply);

    // Any answer but a record leaves a description of nothing: the card was
    // asked and said yes, so the path is taken.
    m_info = CFileInfo();
    CByteReader r = AnswerData(reply);
    if (r.remaining() == kRecord) {
        r.skip(2);
        const unsigned char type = r.u8();
        r.skip(1);
        const unsigned char flags = r.u8();
        const unsigned short size = r.be16();
        if (type == 0x01)
            m_info = CFileInfo(1, size, (flags & kReadFree) ? 0 : 2, (flags & kWriteFree) ? 0 : 2);
        else
            m_info = CFileInfo(2, size, 0, 2);
    }
    p.insert(p.begin(), kRoot);
    m_path.swap(p);
}

CFileInfo CFSGost2::info() { return m_info; }

std::vector<unsigned short> CFSGost2::list(unsigned char type) {
    if (m_info.type != 2) LIBAPDU_RAISE(0x6283);
    if (type != 1 && type != 2) LIBAPDU_RAISE(0xFACE);
    std::vector<unsigned short> out;
    std::set<unsigned short> anchors;
    TBytes command = {0x80, 0x4C, 0x70, 0x01, 0x00};
    for (;;) {
        const TBytes reply = exchange(command, kListReply);
        CByteReader r = AnswerData(reply);
        if (r.remaining() % kRecord) LIBAPDU_RAISE(kSwBadAnswer);
        const size_t entries = r.remaining() / kRecord;
        unsigned short last = 0;
        for (size_t i = 0; i < entries; ++i) {
            CByteReader e = r.sub(kRecord);
            last = e.be16();
            if (e.u8() == type) out.push_back(last);
        }
        if (entries < kPageEntries) return out;
        // The next page starts after this page's last entry, whatever its type;
        // a card that hands back a page already asked for would never end.
        if (!anchors.insert(last).second) LIBAPDU_RAISE(kSwBadAnswer);
        command = {0x80, 0x4C, 0x70, 0x00, 0x02};
        PutBE16(command, last);
        command.push_back(0x00);
    }
}

void CFSGost2::create(unsigned short fid, CFileInfo info) {
    if (info.size > kMaxFileSize) LIBAPDU_RAISE(0x6400);
    if (info.type == 1) {
        TBytes check = Command(0x10, 0x00);
        check.insert(check.end(), {0x02, 0x00, 0x00});
        exchange(check, kStatusReply);
        check.resize(5);
        PutBE16(check, info.size);
        exchange(check, kStatusReply);
        unsigned char access = kAccessBase;
        if (info.readAccess == 0) access |= kReadFree;
        if (info.writeAccess == 0) access |= kWriteFree;
        TBytes command = Command(0x30, 0x01);
        command.push_back(0x04);
        PutBE16(command, fid);
        command.push_back(kAccessTag);
        command.push_back(access);
        exchange(command, kStatusReply);
    } else if (info.type == 2) {
        TBytes command = Command(0x40, 0x00);
        command.push_back(0x04);
        PutBE16(command, fid);
        command.push_back(kAccessTag);
        command.push_back(kFolderAccess);
        exchange(command, kStatusReply);
    } else {
        LIBAPDU_RAISE(0xFACE);
    }
}

void CFSGost2::remove() {
    // Nothing selected yet, or the root: the delete would act on the root.
    if (m_path.size() <= 1) LIBAPDU_RAISE(kSwRefused);
    const path current = m_path;
    select(current);
    TBytes reply(kStatusReply, 0);
    applet->sender()->send(Command(0x50, 0x00), reply);
    IAppError* error = applet->error();
    unsigned short sw = error->extractSW(reply);
    if (sw == 0x6712 || sw == 0x6713) sw = kSwRefused;
    error->raiseSW(sw);
}

void CFSGost2::read_bit(TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n > kPiece) LIBAPDU_RAISE(kSwBadArgument);
    const size_t end = offset + n;
    if (offset > m_info.size || end > m_info.size || end > kMaxEnd) LIBAPDU_RAISE(kSwBadPieceSize);
    TBytes command = Command(0x60, 0x00);
    command.push_back(0x04);
    PutBE16(command, offset);
    command.push_back(0x00);
    command.push_back(static_cast<unsigned char>(n));
    TBytes reply = exchange(command, n + 2);
    if (reply.size() != n + 2) LIBAPDU_RAISE(kSwBadPieceSize);
    std::copy(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n), piece.begin());
}

void CFSGost2::write_bit(const TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n > kPiece) LIBAPDU_RAISE(kSwBadArgument);
    const size_t end = offset + n;
    if (offset > m_info.size || end > m_info.size || end > kMaxEnd) LIBAPDU_RAISE(0x6A84);
    TBytes command = Command(0x20, 0x02);
    command.push_back(static_cast<unsigned char>(n + 4));
    PutBE16(command, offset);
    command.push_back(0x00);
    command.push_back(static_cast<unsigned char>(n));
    command.insert(command.end(), piece.begin(), piece.end());
    exchange(command, kStatusReply);
}

}  // namespace libapdu
