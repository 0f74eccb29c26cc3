// The Gost2 file system, command by command: select and its record, list
// pages, create with its size checks, delete, and pieces of reads and writes.
#include <gtest/gtest.h>

#include "applet_gost2.h"
#include "appfs/fs_gost2.h"
#include "raised.h"
#include "scripted_sender.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

struct Gost2Fs {
    ScriptedSender s;
    CAppletGost2 applet{&s};
    CFSGost2& fs = *static_cast<CFSGost2*>(applet.fs());

    // A folder selected on the card, as the record says.
    void selectFolder(const std::string& command = "80 4C 80 01 00", const path& p = {}) {
        s.expect(command, "3F 00 02 00 B7 00 00 90 00", 9);
        fs.select(p);
    }
    // A file of `size` bytes, access byte BF.
    void selectFile(unsigned short size) {
        char rec[64];
        std::snprintf(rec, sizeof rec, "00 01 01 00 BF %02X %02X 90 00", size >> 8, size & 0xFF);
        s.expect("80 4C 80 02 02 00 01 00", rec, 9);
        fs.select({0x0001});
    }
};

// n list entries of `type` with identifiers first, first + 1, ...
std::string Entries(unsigned short first, size_t n, unsigned char type) {
    std::string out;
    char e[32];
    for (size_t i = 0; i < n; ++i) {
        const unsigned short id = static_cast<unsigned short>(first + i);
        std::snprintf(e, sizeof e, "%02X %02X %02X 00 00 00 00 ", id >> 8, id & 0xFF, type);
        out += e;
    }
    return out;
}

TEST(Gost2FsSelect, PathsAndCommands) {
    struct Case {
        path p;
        const char* command;
        path current;
    };
    const Case cases[] = {
        {{}, "80 4C 80 01 00", {0x3F00}},
        {{0x3F00}, "80 4C 80 01 00", {0x3F00}},
        {{0x3F00, 0xE00E, 0x0B00}, "80 4C 80 02 04 E0 0E 0B 00 00", {0x3F00, 0xE00E, 0x0B00}},
        {{0xE00E}, "80 4C 80 02 02 E0 0E 00", {0x3F00, 0xE00E}},
        {{0x3F00, 0x3F00, 0x0001}, "80 4C 80 02 04 3F 00 00 01 00", {0x3F00, 0x3F00, 0x0001}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Gost2Fs t;
        t.s.expect(c.command, "3F 00 02 00 B7 00 00 90 00", 9);
        t.fs.select(c.p);
        EXPECT_TRUE(t.s.done());
        // The path kept shows in what remove selects again; the root is never deleted.
        if (c.current.size() == 1) {
            EXPECT_EQ(CodeOf([&] { t.fs.remove(); }), 0x6900);
            continue;
        }
        t.s.expect(c.command, "00 01 01 00 BF 00 00 90 00");
        t.s.expect("80 4C 50 00", "90 00", 2);
        t.fs.remove();
        EXPECT_TRUE(t.s.done());
    }
}

TEST(Gost2FsSelect, TheRecordGivesTypeSizeAndAccess) {
    struct Case {
        const char* answer;
        CFileInfo info;
    };
    const Case cases[] = {
        {"00 01 01 00 09 01 00 90 00", CFileInfo(1, 256, 0, 0)},
        {"00 01 01 00 00 01 00 90 00", CFileInfo(1, 256, 2, 2)},
        {"00 01 01 00 08 00 05 90 00", CFileInfo(1, 5, 2, 0)},
        {"00 01 02 00 09 00 00 90 00", CFileInfo(2, 0, 0, 2)},
        {"00 01 02 00 09 00 90 00", CFileInfo()},        // 6 bytes
        {"00 01 02 00 09 00 00 00 90 00", CFileInfo()},  // 8 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Gost2Fs t;
        t.s.expect("80 4C 80 02 02 00 01 00", c.answer);
        t.fs.select({0x0001});
        EXPECT_EQ(t.fs.info(), c.info);
    }
}

TEST(Gost2FsSelect, AFailedSelectKeepsWhatWasCurrentAndLongPathsAreRefused) {
    Gost2Fs t;
    t.selectFile(32);
    t.s.expect("80 4C 80 02 02 00 02 00", "67 14");
    EXPECT_EQ(CodeOf([&] { t.fs.select({0x0002}); }), 0x6A82);
    EXPECT_EQ(t.fs.info(), CFileInfo(1, 32, 0, 0));
    // 127 identifiers fill the one-byte Lc; one more would wrap it.
    TBytes cmd = Hex("80 4C 80 02 FE");
    for (int i = 0; i < 127; ++i) cmd.insert(cmd.end(), {0x00, 0x01});
    cmd.push_back(0x00);
    t.s.expect(cmd, Hex("3F 00 02 00 B7 00 00 90 00"));
    t.fs.select(path(127, 0x0001));
    EXPECT_EQ(CodeOf([&] { t.fs.select(path(128, 0x0001)); }), 0x6B00);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2FsList, PagesOfThirtySixEntries) {
    Gost2Fs t;
    t.selectFolder();
    t.s.expect("80 4C 70 01 00", Entries(1, 35, 1) + "90 00", 258);
    EXPECT_EQ(t.fs.list(1).size(), 35u);
    EXPECT_TRUE(t.s.done());

    // A full page asks for the next one after its last entry.
    t.s.expect("80 4C 70 01 00", Entries(1, 36, 1) + "90 00");
    t.s.expect("80 4C 70 00 02 00 24 00", Entries(0x25, 2, 1) + "90 00", 258);
    EXPECT_EQ(t.fs.list(1).size(), 38u);
    EXPECT_TRUE(t.s.done());

    // A file and then folders: the next page starts after the last folder, not
    // after the last file kept.
    t.s.expect("80 4C 70 01 00", Entries(1, 1, 1) + Entries(0x100, 35, 2) + "90 00");
    t.s.expect("80 4C 70 00 02 01 22 00", Entries(0x123, 5, 2) + "90 00");
    EXPECT_EQ(t.fs.list(1), std::vector<unsigned short>{0x0001});
    EXPECT_TRUE(t.s.done());

    // A card that answers a page already asked for would be asked forever.
    t.s.expect("80 4C 70 01 00", Entries(1, 36, 2) + "90 00");
    t.s.expect("80 4C 70 00 02 00 24 00", Entries(1, 36, 2) + "90 00");
    EXPECT_EQ(CodeOf([&] { t.fs.list(2); }), 0x6281);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2FsList, RefusalsAndMisshapenPages) {
    Gost2Fs t;
    t.selectFolder();
    t.s.expect("80 4C 70 01 00", "00 01 01 00 00 00 00 00 90 00");
    EXPECT_EQ(CodeOf([&] { t.fs.list(1); }), 0x6281);
    t.s.expect("80 4C 70 01 00", "90 00");
    EXPECT_TRUE(t.fs.list(2).empty());
    EXPECT_EQ(CodeOf([&] { t.fs.list(3); }), 0xFACE);
    t.selectFile(4);
    EXPECT_EQ(CodeOf([&] { t.fs.list(1); }), 0x6283);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2FsCreate, CommandsOfFilesAndFolders) {
    struct Case {
        unsigned short fid;
        CFileInfo info;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        {0x0001, CFileInfo(1, 256, 0, 2), {"80 4C 10 00 02 00 00", "80 4C 10 00 02 01 00", "80 4C 30 01 04 00 01 0D B7"}},
        {0x0001, CFileInfo(1, 256, 0, 0), {"80 4C 10 00 02 00 00", "80 4C 10 00 02 01 00", "80 4C 30 01 04 00 01 0D BF"}},
        {0x0001, CFileInfo(1, 256, 2, 2), {"80 4C 10 00 02 00 00", "80 4C 10 00 02 01 00", "80 4C 30 01 04 00 01 0D B6"}},
        {0x0001, CFileInfo(1, 256, 2, 0), {"80 4C 10 00 02 00 00", "80 4C 10 00 02 01 00", "80 4C 30 01 04 00 01 0D BE"}},
        {0x0002, CFileInfo(1, 32746, 0, 2), {"80 4C 10 00 02 00 00", "80 4C 10 00 02 7F EA", "80 4C 30 01 04 00 02 0D B7"}},
        {0xE00E, CFileInfo(2, 0, 0, 2), {"80 4C 40 00 04 E0 0E 0D B7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commands.back());
        Gost2Fs t;
        for (const std::string& cmd : c.commands) t.s.expect(cmd, "90 00", 2);
        t.fs.create(c.fid, c.info);
        EXPECT_TRUE(t.s.done());
        EXPECT_EQ(t.fs.info(), CFileInfo());
    }
    Gost2Fs t;
    EXPECT_EQ(CodeOf([&] { t.fs.create(1, CFileInfo(1, 32747, 0, 2)); }), 0x6400);
    EXPECT_EQ(CodeOf([&] { t.fs.create(1, CFileInfo(2, 32747, 0, 2)); }), 0x6400);
    EXPECT_EQ(CodeOf([&] { t.fs.create(1, CFileInfo(3, 1, 0, 2)); }), 0xFACE);
    // The card's refusal of the size ends the create.
    t.s.expect("80 4C 10 00 02 00 00", "90 00");
    t.s.expect("80 4C 10 00 02 01 00", "67 09");
    EXPECT_EQ(CodeOf([&] { t.fs.create(1, CFileInfo(1, 256, 0, 2)); }), 0x6400);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2FsRemove, SelectsAgainThenDeletes) {
    struct Case {
        const char* sw;
        long code;
    };
    const Case cases[] = {{"90 00", -1}, {"67 12", 0x6900}, {"67 13", 0x6900}, {"67 05", 0x6900}, {"61 00", 0xFFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sw);
        Gost2Fs t;
        t.selectFile(8);
        t.s.expect("80 4C 80 02 02 00 01 00", "00 01 01 00 BF 00 08 90 00", 9);
        t.s.expect("80 4C 50 00", c.sw, 2);
        EXPECT_EQ(testing_card::RaisedCode([&] { t.fs.remove(); }), c.code);
        EXPECT_TRUE(t.s.done());
    }
    // Nothing selected, and the root: nothing goes to the card.
    Gost2Fs t;
    EXPECT_EQ(CodeOf([&] { t.fs.remove(); }), 0x6900);
    t.selectFolder();
    EXPECT_EQ(CodeOf([&] { t.fs.remove(); }), 0x6900);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2FsReadWrite, PiecesAndTheirBounds) {
    Gost2Fs t;
    t.selectFile(237);
    TBytes piece(237);
    TBytes answer(237, 0x5A);
    t.s.expect(Hex("80 4C 60 00 04 00 00 00 ED"), testing_card::Concat(answer, Hex("90 00")), 239);
    t.fs.read_bit(piece, 0);
    EXPECT_EQ(piece, answer);
    // An answer one byte short.
    TBytes ten(10);
    t.s.expect("80 4C 60 00 04 00 05 00 0A", "01 02 03 04 05 06 07 08 09 90 00", 12);
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(ten, 5); }), 0x6282);
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(ten, 228); }), 0x6282);
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(ten, 228); }), 0x6A84);
    TBytes big(238);
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(big, 0); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(big, 0); }), 0x6B00);
    EXPECT_TRUE(t.s.done());

    // The card's end: offset and length past 32750, whatever the size says.
    t.s.expect("80 4C 80 02 02 00 01 00", "00 01 01 00 BF 7F FF 90 00");
    t.fs.select({0x0001});
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(ten, 32741); }), 0x6282);
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(ten, 32741); }), 0x6A84);
    t.s.expect("80 4C 20 02 07 01 02 00 03 AA BB CC", "90 00", 2);
    t.fs.write_bit(Hex("AA BB CC"), 0x0102);
    EXPECT_TRUE(t.s.done());
    EXPECT_EQ(t.fs.bit_size(), 237);
}

}  // namespace
