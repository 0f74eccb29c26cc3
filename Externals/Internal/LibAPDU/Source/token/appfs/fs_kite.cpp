#include "fs_kite.h"

#include <algorithm>

#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_kite");

const unsigned short kRoot = 0x3F00;
const unsigned short kAppFolder = 0x6666;
const unsigned short kFipsFolder = 0x5000;
const path kChangeMarker = {0x3F00, 0x6666, 0x0001};
const size_t kMarkerSize = 16;

const size_t kLongReply = 258;  // select, list, create
const size_t kShortReply = 2;   // remove, write
const unsigned short kPieceSize = 255;
// Lc is one byte: two bytes per identifier.
const size_t kMaxPathLength = 0x7F;
// A list of more than this many identifiers is taken as complete.
const size_t kMaxListed = 255;

enum : unsigned char {
    kTagFci = 0x6F,
    kTagFcp = 0x62,
    kTagDescriptor = 0x82,
    kTagFid = 0x83,
    kTagSizeKite = 0x81,
    kTagSizeKite4 = 0x80,
    kTagLifeCycle = 0x85,
    kTagAccess = 0x86,
    kFolderDescriptor = 0x38,
};

TBytes Exchange(IApplet* applet, const TBytes& command, size_t replySize) {
    TBytes response(replySize);
    applet->sender()->send(command, response);
    return response;
}

// The status word through the error facet, after a family-specific replacement.
void CheckReplacedSW(IApplet* applet, const TBytes& response, unsigned short from, unsigned short to) {
    IAppError* e = applet->error();
    unsigned short sw = e->extractSW(response);
    if (sw == from) sw = to;
    e->raiseSW(sw);
}

// The value's first up to four bytes, high byte first, low 16 bits.
unsigned short LeadingBE(const CByteReader& v) { return static_cast<unsigned short>(v.leadingNumber() & 0xFFFF); }

CByteReader ReplyData(const TBytes& response) { return CByteReader(response.data(), ResponseDataSize(response)); }

// Template elements of a create command.
void PutFileElements(TBytes& t, unsigned short fid, unsigned char sizeTag, unsigned short size) {
    t.insert(t.end(), {kTagFid, 0x02});
    PutBE16(t, fid);
    t.insert(t.end(), {sizeTag, 0x02});
    PutBE16(t, size);
}

void PutAccess(TBytes& t, const CFileInfo& info, bool folder) {
    t.push_back(kTagAccess);
    if (folder) {
        t.push_back(0x08);
        t.insert(t.end(), 8, info.writeAccess);
    } else {
        t.push_back(0x07);
        t.push_back(info.readAccess);
        t.insert(t.end(), 6, info.writeAccess);
    }
}

// 00 E0 00 00 Lc, then the template under its tag.
TBytes CreateApdu(unsigned char templateTag, const TBytes& body) {
    TBytes c = {0x00, 0xE0, 0x00, 0x00, static_cast<unsigned char>(body.size() + 2), templateTag,
                static_cast<unsigned char>(body.size())};
    c.insert(c.end(), body.begin(), body.end());
    return c;
}
}  // namespace

CFSKite::CFSKite(IApplet* owner) : CFSCommon(owner) {}

CFSKite::~CFSKite() = default;

CFSKite4::~CFSKite4() = default;

unsigned char CFSKite::tag_file_size() const { return kTagSizeKite; }

unsigned char CFSKite4::tag_file_size() const { return kTagSizeKite4; }

void CFSKite::select(path p) {
    if (!p.empty() && p.front() == kRoot) {
        p.erase(p.begin());
    } else {
        // The FIPS probe behind isFips() may select a file of its own through this
        // facet first; the path built here is unaffected by it.
        if (applet->info()->isFips()) p.insert(p.begin(), kFipsFolder);
        p.insert(p.begin(), kAppFolder);
    }
    if (p.size() > kMaxPathLength) LIBAPDU_RAISE(kSwBadArgument);

    TBytes command;
    if (p.empty()) {
        command = {0x00, 0xA4, 0x00, 0x00, 0x00};
    } else {
        command = {0x00, 0xA4, 0x08, 0x00, static_cast<unsigned char>(p.size() * 2)};
        for (unsigned short id : p) PutBE16(command, id);
        command.push_back(0x00);
    }
    const TBytes response = Exchange(applet, command, kLongReply);
    checkSW(response);

    // Three independent readings; an element that is missing, empty or runs past
    // its template leaves its fields as reset.
    CFileInfo info;
    CByteReader fci(nullptr, 0), v(nullptr, 0);
    if (ReplyData(response).findEscapedElement(kTagFci, fci)) {
        bool folder = false;
        if (fci.findEscapedElement(kTagDescriptor, v) && !v.empty()) {
            folder = v.u8() == kFolderDescriptor;
            info.type = folder ? 2 : 1;
            if (!folder && fci.findEscapedElement(tag_file_size(), v)) info.size = LeadingBE(v);
        }
        if (info.type != 0 && fci.findEscapedElement(kTagAccess, v) && !v.empty()) {
            if (folder) {
                info.readAccess = 0x00;
                info.writeAccess = v.u8();
            } else {
                info.readAccess = v.u8();
                if (!v.empty()) info.writeAccess = v.u8();
            }
        }
    }
    m_info = info;
    p.insert(p.begin(), kRoot);
    m_path.swap(p);
}

CFileInfo CFSKite::info() { return m_info; }

std::vector<unsigned short> CFSKite::list(unsigned char type) {
    if (m_info.type != 2) LIBAPDU_RAISE(0x6283);
    const unsigned char p1 = type == 2 ? 0x00 : 0x01;

    std::vector<unsigned short> ids;
    for (;;) {
        const TBytes command = {0x80, 0x16, p1, static_cast<unsigned char>(ids.size()), 0x00};
        const TBytes response = Exchange(applet, command, kLongReply);
        checkSW(response);

        const size_t before = ids.size();
        CByteReader r = ReplyData(response);
        unsigned char tag = 0;
        CByteReader element(nullptr, 0), fid(nullptr, 0);
        // An empty 86 names no file: it is skipped like a missing one.
        while (r.nextEscapedElement(tag, element))
            if (tag == kTagFci && element.findEscapedElement(kTagAccess, fid) && !fid.empty())
                ids.push_back(LeadingBE(fid));
        if (ids.size() == before || ids.size() > kMaxListed) break;
    }
    return ids;
}

TBytes CFSKite::createCommand(unsigned short fid, const CFileInfo& info) const {
    const bool folder = info.type == 2;
    TBytes t = {kTagDescriptor, 0x03, static_cast<unsigned char>(folder ? kFolderDescriptor : 0x01), 0x00, 0x00,
                kTagLifeCycle, 0x03, 0x00, 0x00, 0x00};
    PutFileElements(t, fid, kTagSizeKite, folder ? 0 : info.size);
    PutAccess(t, info, folder);
    return CreateApdu(kTagFci, t);
}

TBytes CFSKite4::createCommand(unsigned short fid, const CFileInfo& info) const {
    const bool folder = info.type == 2;
    TBytes t = {kTagDescriptor, 0x01, static_cast<unsigned char>(folder ? kFolderDescriptor : 0x01),
                kTagLifeCycle, 0x01, 0x00};
    // The card takes a folder's (zero) size under the Kite tag, a file's under its own.
    PutFileElements(t, fid, folder ? kTagSizeKite : kTagSizeKite4, folder ? 0 : info.size);
    PutAccess(t, info, folder);
    return CreateApdu(kTagFcp, t);
}

void CFSKite::create(unsigned short fid, CFileInfo info) {
    CheckCreateFID(fid);
    if (info.type != 1 && info.type != 2) LIBAPDU_RAISE(kErrNotSupported);
    CheckReplacedSW(applet, Exchange(applet, createCommand(fid, info), kLongReply), 0x6A80, 0x6A89);
    volatile_update();
}

void CFSKite::remove() {
    // Without a selected file below the root there is nothing to delete: the
    // empty parent would be taken as the applet folder, and the root itself
    // would be sent for deletion.
    if (m_path.size() < 2) LIBAPDU_RAISE(kSwRefused);
    const unsigned short fid = m_path.back();
    const path parent(m_path.begin(), m_path.end() - 1);

    select(parent);
    TBytes command = {0x00, 0xE4, 0x00, 0x00, 0x02};
    PutBE16(command, fid);
    CheckReplacedSW(applet, Exchange(applet, command, kShortReply), 0x6981, 0x6900);
    volatile_update();
}

void CFSKite::read_bit(TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n == 0) return;  // Le 00 would ask the card for 256 bytes
    if (n > kPieceSize) LIBAPDU_RAISE(kSwBadArgument);
    if (static_cast<size_t>(offset) + n > m_info.size) LIBAPDU_RAISE(kSwBadPieceSize);

    TBytes command = {0x00, 0xB0};
    PutBE16(command, offset);
    command.push_back(static_cast<unsigned char>(n));
    // The answer is copied into the caller's piece in place.
    TBytes response = Exchange(applet, command, n + 2);
    checkSW(response);
    if (response.size() != n + 2) LIBAPDU_RAISE(kSwBadPieceSize);
    std::copy(response.begin(), response.begin() + static_cast<std::ptrdiff_t>(n), piece.begin());
}

void CFSKite::write_bit(const TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n > kPieceSize) LIBAPDU_RAISE(kSwBadArgument);
    if (static_cast<size_t>(offset) + n > m_info.size) LIBAPDU_RAISE(0x6A84);

    // The command in one allocation.
    TBytes command;
    command.reserve(5 + n);
    command.insert(command.end(), {0x00, 0xD6});
    PutBE16(command, offset);
    command.push_back(static_cast<unsigned char>(n));
    command.insert(command.end(), piece.begin(), piece.end());
    checkSW(Exchange(applet, command, kShortReply));
}

unsigned short CFSKite::bit_size() { return kPieceSize; }

void CFSKite::volatile_update() {
    try {
        TBytes marker(kMarkerSize, 0);
        crypto_random(marker.data(), marker.size());
        select(kChangeMarker);
        write(marker, 0);
    } catch (const IException&) {
        // The change itself is done; a marker that could not be renewed must not undo that.
    }
}

}  // namespace libapdu
