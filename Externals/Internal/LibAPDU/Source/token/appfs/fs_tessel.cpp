#include "fs_tessel.h"

#include "apppin/pin_tessel.h"

#include <algorithm>
#include <cstdio>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_tessel");

const path kContainer = {0x3F00, 0x3000, 0x3002, 0x5000};
const path kKeyFiles = {0x3F00, 0x3000, 0x3002};
const path kCertFiles = {0x3F00, 0x3000, 0x3001};

const size_t kSelectReply = 258;
const size_t kShortReply = 2;
const size_t kNameSize = 16;
const size_t kMaxNameElements = 8;
// Lc of a select by path is one byte: 127 identifiers at most.
const size_t kMaxPathElements = 127;
const unsigned short kMaxSize = 0x7FFF;
const unsigned char kPieceSize = 255;

enum : unsigned char {
    kTagFcp = 0x62,
    kTagSize = 0x80,
    kTagFid = 0x83,
    kTagName = 0x84,
    kTagAccess = 0x86,
    kTagDescriptor = 0x87,
    kTagListEntry = 0xD2,
};

enum : unsigned char { kFdbFile = 0x01, kFdbDirectory = 0x38, kFdbThird = 0x08 };

bool LoginTypeCode(unsigned char b) { return b == 0x20 || b == 0x23 || b == 0x24 || b == 0x25; }

// The value of `tag` inside the template 62 of an answer; false when either is missing.
bool FcpValue(const TBytes& response, unsigned char tag, TBytes& value) {
    try {
        const CBERTLV fcp = CBERTLV::answer(response).getChild(kTagFcp);
        const CBERTLV e = fcp.getChild(tag);
        value.assign(e.value, e.value + e.length);
        return true;
    } catch (int) {
        return false;
    }
}

// The first up to four bytes of a value, high byte first.
unsigned int Leading(const TBytes& v) {
    unsigned int n = 0;
    for (size_t i = 0; i < v.size() && i < 4; ++i) n = (n << 8) | v[i];
    return n;
}

// The logical path a directory name stands for: eight values low byte first,
// trailing zero values removed.
path PathOfName(TBytes name) {
    name.resize(kNameSize, 0);
    path p;
    for (size_t i = 0; i < kNameSize; i += 2) p.push_back(static_cast<unsigned short>(name[i] | (name[i + 1] << 8)));
    while (!p.empty() && p.back() == 0) p.pop_back();
    return p;
}

path Joined(const path& a, const path& b) {
    path out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

bool StartsWith(const path& p, const path& prefix) {
    return p.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), p.begin());
}

// Key and certificate files of the two applet directories carry fixed names.
TBytes FileName(const path& real, unsigned short fid) {
    const unsigned char hi = static_cast<unsigned char>(fid >> 8), b = static_cast<unsigned char>(fid & 0xFF);
    const bool low = b <= 0x1D, high = b >= 0x20 && b <= 0x3D;
    if (!low && !high) return TBytes();
    char text[8] = {0};
    if (real == kKeyFiles && hi == 0x02)
        std::snprintf(text, sizeof text, high ? "kss%x" : "kxs%x", high ? b - 0x20 : b);
    else if (real == kCertFiles && hi == 0x84)
        std::snprintf(text, sizeof text, high ? "ksc%02x" : "kxc%02x", high ? b - 0x20 : b);
    else
        return TBytes();
    return TBytes(text, text + std::char_traits<char>::length(text));
}

TBytes NameCommand(const path& p) {
    TBytes command = Join({0x80, 0xA4, 0x04, 0x0C, static_cast<unsigned char>(kNameSize)}, CFSTessel::NameOf(p));
    command.push_back(0x00);
    return command;
}
}  // namespace

CFSTessel::CFSTessel(IApplet* owner) : CFSCommon(owner), m_container(kContainer), m_info(0, 0, 0xFF, 0xFF) {}

CFSTessel::~CFSTessel() = default;

TBytes CFSTessel::NameOf(const path& p) {
    TBytes name(kNameSize, 0);
    for (size_t i = 0; i < p.size() && i < kMaxNameElements; ++i) {
        name[2 * i] = static_cast<unsigned char>(p[i] & 0xFF);
        name[2 * i + 1] = static_cast<unsigned char>(p[i] >> 8);
    }
    return name;
}

CFileInfo CFSTessel::info() { return m_info; }

unsigned short CFSTessel::bit_size() { return kPieceSize; }

// ---------------------------------------------------------------- selection

void CFSTessel::interpret(const TBytes& response, bool allKinds) {
    TBytes v;
    if (FcpValue(response, kTagDescriptor, v) && !v.empty()) {
        switch (Leading(v)) {
        case kFdbDirectory: m_info.type = 2; break;
        case kFdbFile: m_info.type = 1; break;
        case kFdbThird: m_info.type = 4; break;
        default: break;
        }
    }
    if (FcpValue(response, kTagSize, v)) m_info.size = static_cast<unsigned short>(Leading(v) & 0xFFFF);
    if (m_info.type == 2) m_info.size = 0;

    const bool accessKind = m_info.type == 1 || m_info.type == 2 || (allKinds && m_info.type == 4);
    if (accessKind && FcpValue(response, kTagAccess, v)) {
        m_access = v;
        // A list too short for the file's kind leaves the access bytes as they were.
        if (m_info.type == 2 && v.size() >= 2) {
            m_info.readAccess = 0;
            m_info.writeAccess = v[1];
        } else if (m_info.type == 1 && v.size() >= 4) {
            m_info.readAccess = v[1];
            m_info.writeAccess = v[3];
        }
        rewriteAccess();
    }
    if (FcpValue(response, kTagName, v)) m_named = Joined(m_container, PathOfName(v));
}

void CFSTessel::rewriteAccess() {
    if (m_loginType == 0) return;
    TBytes copy = m_access;
    for (size_t i = 1; i < copy.size(); i += 2)
        if (LoginTypeCode(copy[i]) && copy[i] != m_loginType) copy[i] = m_loginType;
    if (copy == m_access) return;
    try {
        TagValue fcp(kTagFcp);
        fcp.Append(TagValue(kTagAccess, copy));
        const TBytes body = fcp.Format();
        if (body.size() > 0xFF) return;  // no one-byte Lc can carry it
        checkSW(exchange(Join({0x80, 0xE8, 0x00, 0x00, static_cast<unsigned char>(body.size())}, body), kShortReply));
    } catch (...) {
        // The file stays usable under the conditions the card reported.
    }
}

void CFSTessel::selectSimple(path p) {
    if (p.empty() || p.size() > kMaxPathElements) LIBAPDU_RAISE(kSwBadArgument);
    TBytes command = {0x80, 0xA4, 0x08, 0x0C, static_cast<unsigned char>(2 * p.size())};
    for (unsigned short id : p) PutBE16(command, id);
    command.push_back(0x00);
    const TBytes response = exchange(command, kSelectReply);
    m_cardPath = p;
    interpret(response, true);
}

void CFSTessel::selectByFID(unsigned short fid) {
    TBytes command = {0x80, 0xA4, 0x00, 0x0C, 0x02};
    PutBE16(command, fid);
    command.push_back(0x00);
    const TBytes response = exchange(command, kSelectReply);
    // A child of a directory whose place is known is known too.
    if (m_info.type == 2 && !m_cardPath.empty())
        m_cardPath.push_back(fid);
    else
        m_cardPath.clear();
    interpret(response, false);
}

unsigned short CFSTessel::selectName(path p) {
    if (p.size() > kMaxNameElements) LIBAPDU_RAISE(kSwNotFound);
    const TBytes response = exchange(NameCommand(p), kSelectReply);
    m_cardPath.clear();
    TBytes v;
    if (!FcpValue(response, kTagFid, v)) LIBAPDU_RAISE(kSwBadAnswer);
    return static_cast<unsigned short>(Leading(v) & 0xFFFF);
}

void CFSTessel::selectByName(path p) {
    if (p.size() > kMaxNameElements) LIBAPDU_RAISE(kSwNotFound);
    selectSimple(m_container);
    const TBytes response = exchange(NameCommand(p), kSelectReply);
    m_cardPath.clear();
    m_logical = Joined(m_container, p);
    m_named = m_logical;
    m_real = m_container;
    TBytes v;
    if (!FcpValue(response, kTagFid, v)) LIBAPDU_RAISE(kSwBadAnswer);
    m_real.push_back(static_cast<unsigned short>(Leading(v) & 0xFFFF));
    m_cardPath = m_real;
}

void CFSTessel::select(path p) {
    if (p.empty() || p.front() != 0x3F00) p.insert(p.begin(), m_container.begin(), m_container.end());
    if (p.size() > kMaxPathElements) LIBAPDU_RAISE(kSwBadArgument);
    m_logical = p;
    m_real.clear();

    if (!StartsWith(p, m_container)) {
        m_real = p;
        selectSimple(p);
        return;
    }
    if (p.size() == m_container.size()) {
        m_real = p;
        try {
            selectSimple(m_container);
        } catch (const IException&) {
            // A token without the container gets it on first use.
            selectSimple(kKeyFiles);
            createSimple(m_container.back(), FileMakeDirInfo(AppletToAdapter(applet)));
            selectSimple(m_container);
        }
        return;
    }

    m_real = m_container;
    const path relative(p.begin() + static_cast<std::ptrdiff_t>(m_container.size()), p.end());
    selectSimple(m_container);
    try {
        m_real.push_back(selectName(relative));
        selectSimple(m_real);
    } catch (const IException&) {
        // Not a directory of its own: a file inside the logical directory above it.
        const path parent(relative.begin(), relative.end() - 1);
        if (parent.empty()) LIBAPDU_RAISE(kSwNotFound);
        try {
            const unsigned short fid = selectName(parent);
            m_real = m_container;
            m_real.push_back(fid);
            m_real.push_back(relative.back());
            selectSimple(m_real);
        } catch (const IException&) {
            LIBAPDU_RAISE(kSwNotFound);
        }
    }
}

// ---------------------------------------------------------------- creation

void CFSTessel::createSimple(unsigned short fid, CFileInfo info) {
    CheckCreateFID(fid);
    if (info.size > kMaxSize) LIBAPDU_RAISE(0x6400);
    const unsigned char fh = static_cast<unsigned char>(fid >> 8), fl = static_cast<unsigned char>(fid & 0xFF);
    const unsigned char sh = static_cast<unsigned char>(info.size >> 8), sl = static_cast<unsigned char>(info.size & 0xFF);
    const unsigned char r = info.readAccess, w = info.writeAccess;

    TBytes command;
    if (info.type == 2) {
        command = {0x00, 0xE0, kFdbDirectory, 0x00, 0x1C, 0x62, 0x81, 0x19, 0x8A, 0x01, 0x04, 0x83, 0x02, fh, fl,
                   0x80, 0x02, 0x00, 0x00, 0x86, 0x0C, 0x00, w, 0x00, w, 0x00, w, 0x00, w, 0x00, w, 0x00, w};
    } else if (info.type == 4) {
        // The designator's first read selects 3F00/3000/3002 on the card, so the
        // directory the file belongs in is selected again after it.
        IAppPin* pins = applet->pin();
        const CPinTessel* tessel = dynamic_cast<const CPinTessel*>(pins);
        const bool known = tessel && tessel->designatorsRead();
        // Reading the designator moves the card; a directory whose place is not
        // known could not be selected again, and the file would land elsewhere.
        if (!known && m_cardPath.empty()) LIBAPDU_RAISE(kSwRefused);
        const unsigned char pin = static_cast<unsigned char>(PinExtractAccess(pins->pathUser()) & 0xFF);
        if (!known) selectSimple(m_cardPath);
        command = {0x00, 0xE0, kFdbThird, 0x00, 0x26, 0x62, 0x24, 0x8A, 0x01, 0x04, 0x83, 0x02, fh, fl,
                   0x80, 0x02, sh,   sl,   0x86, 0x0E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, pin,
                   0x00, pin,  0x00, 0x00, 0x00, pin,  0x85, 0x05, 0x05, 0x0C, 0x20, 0x00, 0xA3, 0x71, 0x00};
    } else if (info.type == 1) {
        command = {0x00, 0xE0, kFdbFile, 0x00, 0x18, 0x62, 0x81, 0x15, 0x8A, 0x01, 0x04, 0x83, 0x02, fh, fl,
                   0x80, 0x02, sh,   sl,   0x86, 0x08, 0x00, r,    0x00, w,    0x00, w,    0x00, w};
        const TBytes name = FileName(m_real, fid);
        if (!name.empty()) {
            command.push_back(kTagName);
            command.push_back(static_cast<unsigned char>(name.size()));
            command.insert(command.end(), name.begin(), name.end());
            command[4] = static_cast<unsigned char>(command.size() - 5);
            command[7] = static_cast<unsigned char>(command.size() - 8);
        }
    } else {
        LIBAPDU_RAISE(kErrNotSupported);
    }

    TBytes response(kShortReply, 0);
    applet->sender()->send(command, response);
    IAppError* e = applet->error();
    unsigned short sw = e->extractSW(response);
    if (info.type == 2 && sw == 0x6A80) sw = 0x6400;
    e->raiseSW(sw);
}

void CFSTessel::create(unsigned short fid, CFileInfo info) {
    CheckCreateFID(fid);
    if (info.size > kMaxSize) LIBAPDU_RAISE(0x6400);
    const bool flatten =
        info.type == 2 ? (m_real != m_logical || m_real == m_container) : m_real == m_container;
    if (!flatten) {
        reselectAfterListing();
        createSimple(fid, info);
        return;
    }

    path name(m_logical.begin() + static_cast<std::ptrdiff_t>(std::min(m_logical.size(), m_container.size())),
              m_logical.end());
    name.push_back(fid);
    if (name.size() > kMaxNameElements) LIBAPDU_RAISE(0x6400);

    path wanted = m_logical;
    wanted.push_back(fid);
    bool exists = false;
    try {
        select(wanted);
        exists = true;
    } catch (const IException& e) {
        if (e.code() == 0x6A89) throw;
    }
    if (exists) LIBAPDU_RAISE(0x6A89);

    selectSimple(m_container);
    const std::vector<unsigned short> ids = listSimple(2);
    unsigned short free = 0;
    for (unsigned short i = 1; i <= 0xFF && !free; ++i)
        if (std::find(ids.begin(), ids.end(), i) == ids.end()) free = i;
    if (!free) LIBAPDU_RAISE(0x6400);

    const unsigned char w = info.writeAccess, r = info.readAccess;
    TBytes command = {0x00, 0xE0, kFdbDirectory, 0x00, 0x2E, 0x62, 0x81, 0x2B, 0x8A, 0x01, 0x04, 0x83, 0x02,
                      0x00, static_cast<unsigned char>(free), 0x80, 0x02, 0x00, 0x00, kTagName, 0x10};
    const TBytes n = NameOf(name);
    command.insert(command.end(), n.begin(), n.end());
    command.insert(command.end(), {0x86, 0x0C, 0x00, w, 0x00, w, 0x00, w, 0x00, w, 0x00, r, 0x00, 0xFF});

    TBytes response(kShortReply, 0);
    applet->sender()->send(command, response);
    IAppError* e = applet->error();
    unsigned short sw = e->extractSW(response);
    if (sw == 0x6A80) sw = 0x6400;
    e->raiseSW(sw);
}

void CFSTessel::resize(unsigned short size) {
    if (size > 0x7FFE) LIBAPDU_RAISE(0x6400);
    TBytes command = {0x80, 0x32, 0x00, 0x01, 0x04};
    PutBE16(command, size);
    command.insert(command.end(), {0x00, 0x00});
    exchange(command, kShortReply);
}

// ---------------------------------------------------------------- listing and removal

std::vector<unsigned short> CFSTessel::listSimple(unsigned char type) {
    if (m_info.type != 2) LIBAPDU_RAISE(0x6283);
    unsigned char p1;
    switch (type) {
    case 1: p1 = kFdbFile; break;
    case 2: p1 = kFdbDirectory; break;
    case 4: p1 = kFdbThird; break;
    default: LIBAPDU_RAISE(kErrNotSupported);
    }
    TBytes answer;
    applet->pack()->chain(TBytes{0x80, 0x30, p1, 0x00, 0x00}, answer);
    checkSW(answer);

    std::vector<unsigned short> ids;
    try {
        const CBERTLV all = CBERTLV::answer(answer);
        CBERTLV e = all.getChild(kTagListEntry);
        for (;;) {
            if (e.length < 2) break;
            ids.push_back(static_cast<unsigned short>((e.value[0] << 8) | e.value[1]));
            e = all.getChild(kTagListEntry, &e);
        }
    } catch (int) {
    }
    return ids;
}

std::vector<unsigned short> CFSTessel::list(unsigned char type) {
    if (m_info.type != 2) LIBAPDU_RAISE(0x6283);
    if (type != 1 && type != 2) LIBAPDU_RAISE(kErrNotSupported);
    if (type == 1) return listSimple(1);
    if (m_real == m_logical && m_real != m_container) return listSimple(2);

    const path logical = m_logical;
    selectSimple(m_container);
    TBytes answer;
    applet->pack()->chain(TBytes{0x80, 0x30, kFdbDirectory, 0x00, 0x00}, answer);
    checkSW(answer);

    std::vector<unsigned short> ids;
    try {
        const CBERTLV all = CBERTLV::answer(answer);
        CBERTLV e = all.getChild(kTagListEntry);
        for (;;) {
            if (e.length < 2) break;
            // An entry without a whole name names no logical directory.
            if (e.length >= 2 + kNameSize) {
                m_named = Joined(m_container, PathOfName(TBytes(e.value + 2, e.value + 2 + kNameSize)));
                if (m_named.size() == logical.size() + 1 && StartsWith(m_named, logical)) ids.push_back(m_named.back());
            }
            e = all.getChild(kTagListEntry, &e);
        }
    } catch (int) {
    }
    return ids;
}

void CFSTessel::reselectAfterListing() {
    if (m_cardPath == m_container && !m_real.empty() && m_real != m_container) selectSimple(m_real);
}

void CFSTessel::removeSimple() {
    exchange(TBytes{0x00, 0xE4, static_cast<unsigned char>(m_info.type == 2 ? 0x01 : 0x00), 0x00}, kShortReply);
}

void CFSTessel::remove() {
    // Files of either kind are deleted themselves; only directories may stand
    // for a logical directory.
    if (m_info.type == 1 || m_info.type == 4 || (m_real == m_logical && m_real != m_container) || m_logical == m_named) {
        reselectAfterListing();
        removeSimple();
        return;
    }
    const path logical = m_logical;
    selectSimple(m_container);
    for (unsigned short id : listSimple(2)) {
        // Each directory answers for itself: one without a name stands for the
        // container, never for the name an earlier answer carried.
        m_named = m_container;
        path real = m_container;
        real.push_back(id);
        selectSimple(real);
        path named = m_named;
        named.resize(logical.size(), 0);
        if (named == logical) removeSimple();
    }
}

// ---------------------------------------------------------------- contents

void CFSTessel::read_bit(TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n == 0) return;
    if (n > kPieceSize) LIBAPDU_RAISE(kSwBadArgument);
    if (offset > m_info.size || offset + n > m_info.size) LIBAPDU_RAISE(kSwBadPieceSize);
    TBytes command = {0x00, 0xB0};
    PutBE16(command, offset);
    command.push_back(static_cast<unsigned char>(n));
    // The answer is copied into the caller's piece in place.
    TBytes response = exchange(command, n + 2);
    if (response.size() != n + 2) LIBAPDU_RAISE(kSwBadPieceSize);
    std::copy(response.begin(), response.begin() + static_cast<std::ptrdiff_t>(n), piece.begin());
}

void CFSTessel::write_bit(const TBytes& piece, unsigned short offset) {
    const size_t n = piece.size();
    if (n > kPieceSize) LIBAPDU_RAISE(kSwBadArgument);
    if (offset > m_info.size || offset + n > m_info.size) LIBAPDU_RAISE(0x6A84);
    // The command in one allocation.
    TBytes command;
    command.reserve(5 + n);
    command.insert(command.end(), {0x00, 0xD6});
    PutBE16(command, offset);
    command.push_back(static_cast<unsigned char>(n));
    command.insert(command.end(), piece.begin(), piece.end());
    exchange(command, kShortReply);
}

}  // namespace libapdu
