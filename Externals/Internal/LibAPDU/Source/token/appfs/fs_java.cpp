#include "fs_java.h"

#include "java_marker.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_java");

const JavaFamilyCommands kJavaCommands = {
    {0x00, 0xA4},  // select
    {0x80, 0x01},  // list
    {0x80, 0x16},  // create
    {0x00, 0xE4},  // remove
    {0x80, 0x18},  // read
    {0x80, 0x15},  // write
    {0x80, 0x1B},  // change marker
};

const unsigned short kRoot = 0x3F00;
// Paths that do not start at the root are taken from the applet's own folder.
const unsigned short kAppFolder[] = {0x6666, 0x5000};

const size_t kLongReply = 258;  // select, list, create
const size_t kShortReply = 2;   // status word only
const unsigned char kListLe = 0xCD;
const unsigned short kListPage = 100;
const unsigned int kLastListStart = 65400;

// Parameter and reply tags.
enum : unsigned char {
    kTagType = 0x01,
    kTagFid = 0x02,
    kTagSize = 0x03,
    kTagAccess = 0x04,
    kTagStart = 0x09,
    kTagIds = 0x0A,
    kTagMore = 0x0B,
    kTagOffset = 0x0E,
    kTagData = 0x10,
};

// ---------------------------------------------------------------- commands

TBytes Header(JavaFamilyCommands::Op op, unsigned char p1, unsigned char p2) { return TBytes{op.cla, op.ins, p1, p2}; }

void PutTag16(TBytes& out, unsigned char tag, unsigned short v) {
    out.push_back(tag);
    out.push_back(0x02);
    PutBE16(out, v);
}

TBytes SelectCommand(JavaFamilyCommands::Op op, const path& p) {
    if (p.empty()) {
        TBytes c = Header(op, 0x00, 0x04);
        c.push_back(0x00);
        return c;
    }
    TBytes c = Header(op, 0x08, 0x04);
    c.push_back(static_cast<unsigned char>(p.size() * 2));
    for (unsigned short id : p) PutBE16(c, id);
    c.push_back(0x00);
    return c;
}

TBytes ListCommand(JavaFamilyCommands::Op op, unsigned char p1, unsigned short start) {
    TBytes c = Header(op, p1, 0x00);
    c.push_back(0x04);
    PutTag16(c, kTagStart, start);
    c.push_back(kListLe);
    return c;
}

TBytes CreateCommand(JavaFamilyCommands::Op op, unsigned short fid, const CFileInfo& info) {
    const bool folder = info.type == 2;
    TBytes c = Header(op, 0x01, 0x00);
    c.push_back(0x12);
    c.insert(c.end(), {kTagType, 0x01, static_cast<unsigned char>(folder ? 0x01 : 0x02)});
    PutTag16(c, kTagFid, fid);
    PutTag16(c, kTagSize, folder ? 0 : info.size);
    c.insert(c.end(), {kTagAccess, 0x05});
    c.push_back(folder ? info.writeAccess : info.readAccess);
    c.insert(c.end(), 4, info.writeAccess);
    return c;
}

// Only the Java applet can resize a file.
TBytes ResizeCommand(unsigned short size) {
    TBytes c = {0x80, 0x1A, 0x00, 0x00, 0x04};
    PutTag16(c, kTagSize, size);
    return c;
}

TBytes RemoveCommand(JavaFamilyCommands::Op op, unsigned short fid) {
    TBytes c = Header(op, 0x00, 0x00);
    c.push_back(0x02);
    PutBE16(c, fid);
    return c;
}

TBytes ReadCommand(JavaFamilyCommands::Op op, unsigned short offset, unsigned char n) {
    TBytes c = Header(op, 0x00, 0x00);
    c.push_back(0x04);
    PutTag16(c, kTagOffset, offset);
    c.push_back(n);
    return c;
}

TBytes WriteCommand(JavaFamilyCommands::Op op, unsigned short offset, const TBytes& piece) {
    TBytes c = Header(op, 0x00, 0x00);
    c.reserve(11 + piece.size());
    c.push_back(static_cast<unsigned char>(piece.size() + 6));
    PutTag16(c, kTagOffset, offset);
    c.push_back(kTagData);
    c.push_back(static_cast<unsigned char>(piece.size()));
    c.insert(c.end(), piece.begin(), piece.end());
    return c;
}

TBytes Exchange(IApplet* applet, const TBytes& command, size_t replySize) {
    TBytes response(replySize);
    applet->sender()->send(command, response);
    return response;
}

// ---------------------------------------------------------------- replies

// The element with this tag among the reply data (the answer without SW1 SW2);
// a malformed list counts as the element being absent.
bool FindTag(const TBytes& response, unsigned char tag, TBytes& value) {
    CByteReader v(nullptr, 0);
    if (!CByteReader(response.data(), ResponseDataSize(response)).findEscapedElement(tag, v)) return false;
    value = v.take(v.remaining());
    return true;
}

unsigned int LeadingBE(const TBytes& value) { return CByteReader(value).leadingNumber(); }

// Description from a select reply; missing elements leave their fields as reset.
CFileInfo ParseSelectReply(const TBytes& response) {
    CFileInfo info;
    TBytes v;
    if (FindTag(response, kTagSize, v)) info.size = static_cast<unsigned short>(LeadingBE(v) & 0xFFFF);
    if (FindTag(response, kTagType, v)) info.type = LeadingBE(v) == 1 ? 2 : 1;
    if (FindTag(response, kTagAccess, v)) {
        // An access element too short for the file's kind is treated as absent.
        CByteReader r(v);
        if (info.type == 2 && r.remaining() >= 1) {
            info.readAccess = 0;
            info.writeAccess = r.u8();
        } else if (info.type == 1 && r.remaining() >= 2) {
            info.readAccess = r.u8();
            info.writeAccess = r.u8();
        }
    }
    return info;
}

}  // namespace

// ---------------------------------------------------------------- CFSJavaFamily

CFSJavaFamily::CFSJavaFamily(IApplet* owner, const JavaFamilyCommands& commands, const wchar_t* source)
    : CFSCommon(owner), m_cmd(commands), m_source(source) {}

void CFSJavaFamily::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, m_source, line); }

void CFSJavaFamily::checkChangeSW(const TBytes& response) {
    IAppError* e = applet->error();
    unsigned short sw = e->extractSW(response);
    if (sw == 0x6707) sw = 0x6900;
    e->raiseSW(sw);
}

void CFSJavaFamily::select(path p) {
    if (!p.empty() && p.front() == kRoot)
        p.erase(p.begin());
    else
        p.insert(p.begin(), std::begin(kAppFolder), std::end(kAppFolder));
    // Lc is one byte: 127 identifiers at most.
    if (p.size() > 0x7F) raise(kSwBadArgument, __LINE__);

    const TBytes response = Exchange(applet, SelectCommand(m_cmd.select, p), kLongReply);
    checkSW(response);

    m_info = ParseSelectReply(response);
    p.insert(p.begin(), kRoot);
    m_path.swap(p);
}

CFileInfo CFSJavaFamily::info() { return m_info; }

std::vector<unsigned short> CFSJavaFamily::list(unsigned char type) {
    if (m_info.type != 2) raise(0x6283, __LINE__);
    if (type != 1 && type != 2) raise(kErrNotSupported, __LINE__);
    const unsigned char p1 = type == 2 ? 0x01 : 0x02;

    std::vector<unsigned short> ids;
    for (unsigned int start = 0; start <= kLastListStart; start += kListPage) {
        const TBytes response =
            Exchange(applet, ListCommand(m_cmd.list, p1, static_cast<unsigned short>(start)), kLongReply);
        checkSW(response);

        TBytes v;
        if (!FindTag(response, kTagIds, v)) raise(kSwBadAnswer, __LINE__);
        // Whole identifiers only: a stray odd byte is not half an identifier.
        CByteReader r(v);
        while (r.remaining() >= 2) ids.push_back(r.be16());

        if (!FindTag(response, kTagMore, v)) raise(kSwBadAnswer, __LINE__);
        if (LeadingBE(v) == 0) break;
    }
    return ids;
}

void CFSJavaFamily::create(unsigned short fid, CFileInfo info) {
    CheckCreateFID(fid);
    if (info.size > kMaxSize) raise(0x6400, __LINE__);
    if (m_path.size() > kMaxCreateDepth) raise(0x6400, __LINE__);
    if (info.type != 1 && info.type != 2) raise(kErrNotSupported, __LINE__);

    checkChangeSW(Exchange(applet, CreateCommand(m_cmd.create, fid, info), kLongReply));
    volatile_update();
}

void CFSJavaFamily::remove() {
    // Without a selected file below the root there is nothing to delete, and the
    // parent would be an empty path, which select would take as the applet folder.
    if (m_path.size() < 2) raise(kSwRefused, __LINE__);
    const unsigned short fid = m_path.back();
    const path parent(m_path.begin(), m_path.end() - 1);

    select(parent);
    checkChangeSW(Exchange(applet, RemoveCommand(m_cmd.remove, fid), kShortReply));
    volatile_update();
}

void CFSJavaFamily::read_bit(TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n == 0) return;  // Le 00 would ask the card for 256 bytes
    if (n > 0xFF) raise(kSwBadArgument, __LINE__);
    if (static_cast<size_t>(offset) + n > m_info.size) raise(kSwBadPieceSize, __LINE__);

    // The answer is copied into the caller's piece in place.
    TBytes response = Exchange(applet, ReadCommand(m_cmd.read, offset, static_cast<unsigned char>(n)), n + 2);
    checkSW(response);
    if (response.size() != n + 2) raise(kSwBadPieceSize, __LINE__);
    std::copy(response.begin(), response.begin() + static_cast<std::ptrdiff_t>(n), piece.begin());
}

void CFSJavaFamily::write_bit(const TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    // Lc = n + 6 is one byte.
    if (n + 6 > 0xFF) raise(kSwBadArgument, __LINE__);
    if (static_cast<size_t>(offset) + n > m_info.size) raise(0x6A84, __LINE__);

    TBytes command = WriteCommand(m_cmd.write, offset, piece);
    checkSW(Exchange(applet, command, kShortReply));
}

unsigned short CFSJavaFamily::bit_size() { return kPieceSize; }

void CFSJavaFamily::volatile_update() { SendJavaMarker(applet, m_cmd.marker.cla, m_cmd.marker.ins); }

// ---------------------------------------------------------------- CFSJava

CFSJava::CFSJava(IApplet* owner) : CFSJavaFamily(owner, kJavaCommands, kSource) {}

void CFSJava::resize(unsigned short size) {
    if (size > kMaxSize) LIBAPDU_RAISE(0x6400);
    checkSW(Exchange(applet, ResizeCommand(size), kShortReply));
}

}  // namespace libapdu
