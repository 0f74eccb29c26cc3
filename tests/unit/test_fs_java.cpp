// The file systems of the Java and Heron applets, which share one command set
// apart from the class and instruction bytes: every case runs on both.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "appfs/fs_heron.h"
#include "appfs/fs_java.h"
#include "apperror/apperror.h"
#include "scripted_sender.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::RaisedCode;
using testing_card::ScriptedSender;
using testing_card::TestApplet;

namespace {

struct Family {
    const char* name;
    IApplet* (*make)(ISender*);
    // Class and instruction bytes of each command.
    const char* select;
    const char* list;
    const char* create;
    const char* remove;
    const char* read;
    const char* write;
    const char* marker;
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

const Family kJava = {
    "Java", [](ISender* s) -> IApplet* { return new TestApplet<CFSJava, CErrorJava>(s); },
    "00 A4", "80 01", "80 16", "00 E4", "80 18", "80 15", "80 1B",
};
const Family kHeron = {
    "Heron", [](ISender* s) -> IApplet* { return new TestApplet<CFSHeron, CErrorHeron>(s); },
    "80 03", "80 0D", "80 09", "80 01", "80 1C", "80 1B", "80 1D",
};

class FsJavaFamily : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        applet.reset(GetParam().make(&card));
        fs = applet->fs();
    }
    void TearDown() override { EXPECT_EQ(card.pending(), 0u) << "scripted commands left unsent"; }

    const Family& F() const { return GetParam(); }
    const path& current() const { return dynamic_cast<CFSJavaFamily&>(*fs).currentPath(); }

    void expectMarker(const std::string& answer = "90 00") {
        card.expectPrefix(F().marker + std::string(" 00 00 12 10 10"), 23, answer);
    }
    // Selects 3F00/0001 as a transparent file of the given size.
    void selectFile(unsigned short size) {
        char reply[64];
        std::snprintf(reply, sizeof reply, "01 01 02 03 02 %02X %02X 04 02 0F 10 90 00", size >> 8, size & 0xFF);
        card.expect(F().select + std::string(" 08 04 02 00 01 00"), reply);
        fs->select({0x3F00, 0x0001});
        ASSERT_EQ(fs->info(), CFileInfo(1, size, 0x0F, 0x10));
    }
    // Selects 3F00/6666/5000 as a folder.
    void selectFolder() {
        card.expect(F().select + std::string(" 08 04 04 66 66 50 00 00"), "01 01 01 04 01 10 90 00");
        fs->select({});
        ASSERT_EQ(fs->info().type, 2);
    }

    ScriptedSender card;
    std::unique_ptr<IApplet> applet;
    IAppFS* fs = nullptr;
};

// ---------------------------------------------------------------- select

struct SelectCase {
    path request;
    const char* command;  // after the class and instruction bytes
    path stored;
};

TEST_P(FsJavaFamily, SelectPrefixesRelativePathsWithTheAppletFolder) {
    const SelectCase cases[] = {
        {{}, "08 04 04 66 66 50 00 00", {0x3F00, 0x6666, 0x5000}},
        {{0x3F00}, "00 04 00", {0x3F00}},
        {{0xE00E, 0x0B00}, "08 04 08 66 66 50 00 E0 0E 0B 00 00", {0x3F00, 0x6666, 0x5000, 0xE00E, 0x0B00}},
        {{0x3F00, 0xE00E}, "08 04 02 E0 0E 00", {0x3F00, 0xE00E}},
        {{0x3F01}, "08 04 06 66 66 50 00 3F 01 00", {0x3F00, 0x6666, 0x5000, 0x3F01}},
    };
    for (const SelectCase& c : cases) {
        card.expect(F().select + (" " + std::string(c.command)), "90 00");
        fs->select(c.request);
        EXPECT_EQ(current(), c.stored) << c.command;
    }
}

struct ReplyCase {
    const char* reply;  // data before 90 00
    CFileInfo info;
};

TEST_P(FsJavaFamily, SelectReadsTheReplyElementsItFinds) {
    const ReplyCase cases[] = {
        {"01 01 01 03 02 00 00 04 01 0F", {2, 0, 0x00, 0x0F}},
        {"01 01 02 03 02 08 00 04 02 0F 10", {1, 2048, 0x0F, 0x10}},
        {"", {0, 0, 0xFF, 0xFF}},
        {"01 01 02 03 FF 00 02 08 00 04 02 0F 10", {1, 2048, 0x0F, 0x10}},  // escaped length
        {"04 02 0F 10 03 02 08 00 01 01 02", {1, 2048, 0x0F, 0x10}},        // any order
        {"03 04 00 01 12 34 01 04 00 00 00 01 04 01 22", {2, 0x1234, 0x00, 0x22}},  // four-byte values
        {"01 00 03 01 20", {1, 0x20, 0xFF, 0xFF}},                           // empty type: a file
        {"01 01 07 04 03 01 02 03", {1, 0, 0x01, 0x02}},                     // any other type: a file
        {"03 02 00 10 04 02 0F 10", {0, 16, 0xFF, 0xFF}},                    // no type, no access bytes
        // Elements that do not fit the reply, and short access values, count as absent.
        {"01 01 02 03 05 08 00", {1, 0, 0xFF, 0xFF}},
        {"01 01 02 03 FF 00", {1, 0, 0xFF, 0xFF}},
        {"01 01 02 04 01 0F", {1, 0, 0xFF, 0xFF}},
        {"01 01 01 04 00", {2, 0, 0xFF, 0xFF}},
        {"01 01 02 04 FF 01 00 0F 10", {1, 0, 0xFF, 0xFF}},
        // A 00 or FF tag ends every search.
        {"00 01 02 03 02 08 00", {0, 0, 0xFF, 0xFF}},
        {"01 01 02 FF 02 08 00 03 02 08 00", {1, 0, 0xFF, 0xFF}},
        {"01", {0, 0, 0xFF, 0xFF}},
    };
    for (const ReplyCase& c : cases) {
        card.expect(F().select + std::string(" 00 04 00"), c.reply + std::string(" 90 00"));
        fs->select({0x3F00});
        EXPECT_EQ(fs->info(), c.info) << c.reply;
    }
}

TEST_P(FsJavaFamily, FailedSelectKeepsTheCurrentFile) {
    selectFile(0x0800);
    card.expect(F().select + std::string(" 08 04 02 00 02 00"), "6A 82");
    EXPECT_EQ(RaisedCode([&] { fs->select({0x3F00, 0x0002}); }), 0x6A82);
    EXPECT_EQ(fs->info(), CFileInfo(1, 0x0800, 0x0F, 0x10));
    EXPECT_EQ(current(), (path{0x3F00, 0x0001}));

    card.expect(F().select + std::string(" 08 04 02 00 02 00"), "67 34");  // the applet's own "not found"
    EXPECT_EQ(RaisedCode([&] { fs->select({0x3F00, 0x0002}); }), 0x6A82);
}

TEST_P(FsJavaFamily, PathsTooLongForOneByteLcAreRefusedBeforeSending) {
    path absolute(128, 0x0101);
    absolute[0] = 0x3F00;  // 127 identifiers after the root: Lc FE
    card.expectPrefix(F().select + std::string(" 08 04 FE"), 4 + 1 + 254 + 1, "90 00");
    fs->select(absolute);
    EXPECT_EQ(current().size(), 128u);

    absolute.push_back(0x0102);
    EXPECT_EQ(RaisedCode([&] { fs->select(absolute); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { fs->select(path(126, 0x0101)); }), 0x6B00);  // 128 once prefixed
    EXPECT_EQ(current().size(), 128u);
}

// ---------------------------------------------------------------- list

TEST_P(FsJavaFamily, ListNeedsAFolderAndAKnownKind) {
    EXPECT_EQ(RaisedCode([&] { fs->list(2); }), 0x6283);  // nothing selected
    card.expect(F().select + std::string(" 00 04 00"), "90 00");
    fs->select({0x3F00});  // a reply without elements describes nothing
    EXPECT_EQ(RaisedCode([&] { fs->list(2); }), 0x6283);
    selectFile(16);
    EXPECT_EQ(RaisedCode([&] { fs->list(1); }), 0x6283);
    selectFolder();
    EXPECT_EQ(RaisedCode([&] { fs->list(0); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { fs->list(3); }), 0xFACE);
}

struct ListCase {
    unsigned char kind;
    std::vector<std::pair<const char*, const char*>> pages;  // command after CLA INS, reply
    long code;                                              // -1: success
    std::vector<unsigned short> ids;
};

TEST_P(FsJavaFamily, ListPagesUntilTheCardHasNoMore) {
    const ListCase cases[] = {
        {2, {{"01 00 04 09 02 00 00 CD", "0A 04 E0 0E 0B 00 0B 01 00 90 00"}}, -1, {0xE00E, 0x0B00}},
        {1, {{"02 00 04 09 02 00 00 CD", "0A 02 00 05 0B 01 00 90 00"}}, -1, {0x0005}},
        {1, {{"02 00 04 09 02 00 00 CD", "0B 00 0A 00 90 00"}}, -1, {}},  // empty 0B: complete
        {2,
         {{"01 00 04 09 02 00 00 CD", "0A 02 00 01 0B 01 01 90 00"},
          {"01 00 04 09 02 00 64 CD", "0A 02 00 02 0B 04 00 00 00 00 90 00"}},
         -1,
         {0x0001, 0x0002}},
        {2, {{"01 00 04 09 02 00 00 CD", "0A 03 00 01 02 0B 01 00 90 00"}}, -1, {0x0001}},  // odd byte dropped
        {2, {{"01 00 04 09 02 00 00 CD", "0B 01 00 90 00"}}, 0x6281, {}},
        {2, {{"01 00 04 09 02 00 00 CD", "0A 02 00 01 90 00"}}, 0x6281, {}},
        {2, {{"01 00 04 09 02 00 00 CD", "0A 09 00 01 0B 01 00 90 00"}}, 0x6281, {}},  // 0A runs past the data
        {2, {{"01 00 04 09 02 00 00 CD", "90 00"}}, 0x6281, {}},
        {2, {{"01 00 04 09 02 00 00 CD", "6A 82"}}, 0x6A82, {}},
    };
    for (const ListCase& c : cases) {
        selectFolder();
        for (const auto& page : c.pages) card.expect(F().list + (" " + std::string(page.first)), page.second);
        std::vector<unsigned short> ids;
        EXPECT_EQ(RaisedCode([&] { ids = fs->list(c.kind); }), c.code) << c.pages.front().second;
        EXPECT_EQ(ids, c.ids) << c.pages.front().second;
        EXPECT_EQ(card.pending(), 0u);
    }
}

TEST_P(FsJavaFamily, ListStopsAfterThePageStartingAt65400) {
    selectFolder();
    for (unsigned int start = 0; start <= 65400; start += 100) {
        const TBytes cmd = Concat(Hex(F().list + std::string(" 01 00 04 09 02")),
                               TBytes{static_cast<unsigned char>(start >> 8), static_cast<unsigned char>(start), 0xCD});
        card.expect(cmd, Hex("0A 02 12 34 0B 01 01 90 00"));
    }
    const std::vector<unsigned short> ids = fs->list(2);
    EXPECT_EQ(ids.size(), 655u);
}

// ---------------------------------------------------------------- create

TEST_P(FsJavaFamily, CreateSendsTheDescriptionThenTheChangeMarker) {
    selectFolder();
    card.expect(F().create + std::string(" 01 00 12 01 01 02 02 02 00 05 03 02 08 00 04 05 0F 10 10 10 10"), "90 00");
    expectMarker();
    fs->create(0x0005, CFileInfo(1, 0x0800, 0x0F, 0x10));
    EXPECT_EQ(card.sent.back()[7] & 0x01, 0x01) << "the marker's first byte is odd";

    // A folder takes no size; all five access bytes are its write access.
    card.expect(F().create + std::string(" 01 00 12 01 01 01 02 02 00 07 03 02 00 00 04 05 10 10 10 10 10"), "90 00");
    expectMarker();
    fs->create(0x0007, CFileInfo(2, 0x0123, 0, 0x10));

    card.expect(F().create + std::string(" 01 00 12 01 01 02 02 02 00 08 03 02 7F FF 04 05 00 11 11 11 11"), "90 00");
    expectMarker();
    fs->create(0x0008, CFileInfo(1, 0x7FFF, 0x00, 0x11));

    // Creating selects nothing.
    EXPECT_EQ(current(), (path{0x3F00, 0x6666, 0x5000}));
    EXPECT_EQ(fs->info().type, 2);
}

TEST_P(FsJavaFamily, ChangeMarkersAreFresh) {
    selectFolder();
    for (int i = 0; i < 2; ++i) {
        card.expect(F().create + std::string(" 01 00 12 01 01 01 02 02 00 07 03 02 00 00 04 05 10 10 10 10 10"), "90 00");
        expectMarker();
        fs->create(0x0007, CFileInfo(2, 0, 0, 0x10));
    }
    const auto& sent = card.sent;
    EXPECT_NE(sent[2], sent[4]);
}

struct RefusedCreate {
    unsigned short fid;
    CFileInfo info;
    long code;
};

TEST_P(FsJavaFamily, CreateRefusesBeforeSending) {
    selectFolder();
    const RefusedCreate cases[] = {
        {0x0000, {1, 16, 0, 0}, 0x6900}, {0x3F00, {2, 0, 0, 0}, 0x6900}, {0x3FFF, {1, 16, 0, 0}, 0x6900},
        {0xFFFF, {1, 16, 0, 0}, 0x6900}, {0x0005, {1, 0x8000, 0, 0}, 0x6400}, {0x0005, {2, 0xFFFF, 0, 0}, 0x6400},
        {0x0005, {0, 16, 0, 0}, 0xFACE}, {0x0005, {3, 16, 0, 0}, 0xFACE},
    };
    for (const RefusedCreate& c : cases)
        EXPECT_EQ(RaisedCode([&] { fs->create(c.fid, c.info); }), c.code) << c.fid << " size " << c.info.size;
    EXPECT_EQ(card.sent.size(), 1u);  // only the select
}

TEST_P(FsJavaFamily, CreateDepthIsLimitedTo30Identifiers) {
    path deep(30, 0x0101);
    deep[0] = 0x3F00;
    card.expectPrefix(F().select + std::string(" 08 04 3A"), 4 + 1 + 58 + 1, "01 01 01 90 00");
    fs->select(deep);
    card.expectPrefix(F().create + std::string(" 01 00 12"), 23, "90 00");
    expectMarker();
    fs->create(0x0005, CFileInfo(1, 16, 0, 0));

    deep.push_back(0x0102);
    card.expectPrefix(F().select + std::string(" 08 04 3C"), 4 + 1 + 60 + 1, "01 01 01 90 00");
    fs->select(deep);
    EXPECT_EQ(RaisedCode([&] { fs->create(0x0005, CFileInfo(1, 16, 0, 0)); }), 0x6400);
}

TEST_P(FsJavaFamily, CreateAndRemoveReport6707AsRefused) {
    selectFolder();
    card.expectPrefix(F().create + std::string(" 01 00 12"), 23, "67 07");
    EXPECT_EQ(RaisedCode([&] { fs->create(0x0005, CFileInfo(1, 16, 0, 0)); }), 0x6900);  // and no marker

    card.expectPrefix(F().create + std::string(" 01 00 12"), 23, "6A 84");
    EXPECT_EQ(RaisedCode([&] { fs->create(0x0005, CFileInfo(1, 16, 0, 0)); }), 0x6400);

    // The marker's own failure is raised, although the file exists by then.
    card.expectPrefix(F().create + std::string(" 01 00 12"), 23, "90 00");
    expectMarker("6F 00");
    EXPECT_EQ(RaisedCode([&] { fs->create(0x0005, CFileInfo(1, 16, 0, 0)); }), 0x6F00);

    selectFile(16);
    card.expect(F().select + std::string(" 00 04 00"), "01 01 01 90 00");
    card.expect(F().remove + std::string(" 00 00 02 00 01"), "67 07");
    EXPECT_EQ(RaisedCode([&] { fs->remove(); }), 0x6900);
}

// ---------------------------------------------------------------- remove

TEST_P(FsJavaFamily, RemoveSelectsTheParentThenDeletes) {
    card.expect(F().select + std::string(" 08 04 06 66 66 50 00 E0 0E 00"), "01 01 01 90 00");
    fs->select({0xE00E});
    card.expect(F().select + std::string(" 08 04 04 66 66 50 00 00"), "01 01 01 04 01 10 90 00");
    card.expect(F().remove + std::string(" 00 00 02 E0 0E"), "90 00");
    expectMarker();
    fs->remove();
    EXPECT_EQ(current(), (path{0x3F00, 0x6666, 0x5000}));
    EXPECT_EQ(fs->info(), CFileInfo(2, 0, 0, 0x10));
}

TEST_P(FsJavaFamily, RemoveNeedsAFileBelowTheRoot) {
    EXPECT_EQ(RaisedCode([&] { fs->remove(); }), 0x6900);  // nothing selected yet
    card.expect(F().select + std::string(" 00 04 00"), "01 01 01 90 00");
    fs->select({0x3F00});
    EXPECT_EQ(RaisedCode([&] { fs->remove(); }), 0x6900);
    EXPECT_EQ(card.sent.size(), 1u);
}

TEST_P(FsJavaFamily, RemoveStopsWhenTheParentCannotBeSelected) {
    selectFile(16);
    card.expect(F().select + std::string(" 00 04 00"), "69 82");
    EXPECT_EQ(RaisedCode([&] { fs->remove(); }), 0x6900);
    EXPECT_EQ(current(), (path{0x3F00, 0x0001}));
}

// ---------------------------------------------------------------- pieces

TEST_P(FsJavaFamily, PieceCommands) {
    selectFile(0x0800);
    card.expect(F().read + std::string(" 00 00 04 0E 02 07 F6 0A"), "00 01 02 03 04 05 06 07 08 09 90 00");
    TBytes piece(10);
    fs->read(piece, 0x07F6);  // the last 10 bytes of a 2048-byte file
    EXPECT_EQ(piece, Hex("00 01 02 03 04 05 06 07 08 09"));

    card.expect(F().write + std::string(" 00 00 09 0E 02 00 10 10 03 AA BB CC"), "90 00");
    fs->write(Hex("AA BB CC"), 0x0010);
    EXPECT_EQ(dynamic_cast<CFSCommon&>(*fs).bit_size(), 245);
}

struct RangeCase {
    unsigned short size;
    unsigned short offset;
    size_t n;
};

TEST_P(FsJavaFamily, PiecesOutsideTheFileAreRefusedBeforeSending) {
    const RangeCase cases[] = {
        {0x0800, 0x07F7, 10},  // one byte past the end
        {0x0800, 0x0801, 1},   // starts beyond the end
        {0x0000, 0x0000, 1},
        {0xFFFF, 0xFFF0, 32},  // would wrap to 0010 in 16 bits
    };
    for (const RangeCase& c : cases) {
        selectFile(c.size);
        TBytes piece(c.n);
        auto& impl = dynamic_cast<CFSCommon&>(*fs);
        EXPECT_EQ(RaisedCode([&] { impl.read_bit(piece, c.offset); }), 0x6282) << c.offset;
        EXPECT_EQ(RaisedCode([&] { impl.write_bit(piece, c.offset); }), 0x6A84) << c.offset;
    }
    EXPECT_EQ(card.pending(), 0u);
    EXPECT_EQ(card.sent.size(), 4u);  // the selects only
}

TEST_P(FsJavaFamily, ReadAnswersOfAnotherLengthAreRefused) {
    selectFile(0x0100);
    for (const char* reply : {"90 00", "01 02 03 90 00", "01 02 03 04 05 90 00"}) {
        card.expect(F().read + std::string(" 00 00 04 0E 02 00 00 04"), reply);
        TBytes data(4, 0x55);
        EXPECT_EQ(RaisedCode([&] { fs->read(data, 0); }), 0x6282) << reply;
        EXPECT_EQ(data, TBytes(4, 0x55));
    }
    card.expect(F().read + std::string(" 00 00 04 0E 02 00 00 04"), "69 82");
    TBytes data(4);
    EXPECT_EQ(RaisedCode([&] { fs->read(data, 0); }), 0x6900);
}

TEST_P(FsJavaFamily, PiecesTooLongForTheirLengthByteAreRefused) {
    selectFile(0x1000);
    auto& impl = dynamic_cast<CFSCommon&>(*fs);
    TBytes big(256);
    EXPECT_EQ(RaisedCode([&] { impl.read_bit(big, 0); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { impl.write_bit(TBytes(250), 0); }), 0x6B00);
    card.expectPrefix(F().write + std::string(" 00 00 FF 0E 02 00 00 10 F9"), 4 + 1 + 255, "90 00");
    impl.write_bit(TBytes(249, 0x01), 0);
}

TEST_P(FsJavaFamily, OperationsTheFamilyLacksAreNotSupported) {
    EXPECT_EQ(RaisedCode([&] { fs->selectByName({0x3F00}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { fs->selectByFID(0x3F00); }), 0xFACE);
    EXPECT_TRUE(card.sent.empty());
}

// ---------------------------------------------------------------- round trips

// The card side of one transparent file: select answers with its size, and the
// family's read and write commands work on its bytes with the card's own checks.
class FakeFileCard : public ISender {
public:
    FakeFileCard(const Family& f, size_t size) : m_read(Hex(f.read)), m_write(Hex(f.write)), m_file(size, 0) {}

    void send(const TBytes& c, TBytes& response) override {
        ++commands;
        if (c.size() >= 2 && c[0] == m_write[0] && c[1] == m_write[1]) return write(c, response);
        if (c.size() >= 2 && c[0] == m_read[0] && c[1] == m_read[1]) return read(c, response);
        char reply[64];
        std::snprintf(reply, sizeof reply, "01 01 02 03 02 %02X %02X 04 02 00 00 90 00",
                      static_cast<unsigned>(m_file.size() >> 8), static_cast<unsigned>(m_file.size() & 0xFF));
        response = Hex(reply);
    }
    TBytes atr() override { return {}; }

    size_t commands = 0;
    const TBytes& file() const { return m_file; }

private:
    void write(const TBytes& c, TBytes& response) {
        if (c.size() < 11 || c[4] != c.size() - 5 || c[5] != 0x0E || c[6] != 0x02 || c[9] != 0x10 ||
            c[10] != c.size() - 11)
            return void(response = {0x67, 0x00});
        const size_t offset = (c[7] << 8) | c[8], n = c[10];
        if (offset + n > m_file.size()) return void(response = {0x6A, 0x84});
        std::copy(c.begin() + 11, c.end(), m_file.begin() + static_cast<std::ptrdiff_t>(offset));
        response = {0x90, 0x00};
    }
    void read(const TBytes& c, TBytes& response) {
        if (c.size() != 10 || c[4] != 0x04 || c[5] != 0x0E || c[6] != 0x02) return void(response = {0x67, 0x00});
        const size_t offset = (c[7] << 8) | c[8], n = c[9] ? c[9] : 256;
        if (offset + n > m_file.size()) return void(response = {0x6B, 0x00});
        response.assign(m_file.begin() + static_cast<std::ptrdiff_t>(offset),
                        m_file.begin() + static_cast<std::ptrdiff_t>(offset + n));
        response.insert(response.end(), {0x90, 0x00});
    }

    TBytes m_read, m_write, m_file;
};

TEST_P(FsJavaFamily, RoundTripsThroughTheFacet) {
    struct Trip {
        size_t size;
        unsigned short offset;
    };
    const Trip trips[] = {{0, 0}, {1, 0}, {245, 0}, {246, 0}, {0x7FFF, 0}, {300, 0x7FFF - 300}, {490, 3}};
    for (const Trip& t : trips) {
        FakeFileCard fake(GetParam(), 0x7FFF);
        std::unique_ptr<IApplet> a(GetParam().make(&fake));
        IAppFS* f = a->fs();
        f->select({0x3F00, 0x0001});

        TBytes data(t.size);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
        f->write(data, t.offset);
        TBytes back(t.size);
        f->read(back, t.offset);

        EXPECT_EQ(back, data) << t.size << " at " << t.offset;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), fake.file().begin() + t.offset));
        const size_t pieces = (t.size + 244) / 245;
        EXPECT_EQ(fake.commands, 1 + 2 * pieces) << t.size;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FsJavaFamily, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- Java only

TEST(FsJava, ResizeSendsTheNewSizeAndKeepsTheDescription) {
    ScriptedSender card;
    TestApplet<CFSJava, CErrorJava> applet(&card);
    IAppFS* fs = applet.fs();
    card.expect("00 A4 08 04 02 00 01 00", "01 01 02 03 02 00 10 04 02 00 00 90 00");
    fs->select({0x3F00, 0x0001});

    card.expect("80 1A 00 00 04 03 02 12 34", "90 00");
    fs->resize(0x1234);
    card.expect("80 1A 00 00 04 03 02 7F FF", "90 00");
    fs->resize(0x7FFF);
    EXPECT_EQ(fs->info().size, 0x10);

    EXPECT_EQ(RaisedCode([&] { fs->resize(0x8000); }), 0x6400);
    card.expect("80 1A 00 00 04 03 02 00 20", "6A 84");
    EXPECT_EQ(RaisedCode([&] { fs->resize(0x20); }), 0x6400);
    EXPECT_EQ(card.pending(), 0u);
}

}  // namespace
