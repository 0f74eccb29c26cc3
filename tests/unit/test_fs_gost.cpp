// The Gost file system over its object store, command by command: the bytes of
// each object-store command, the directory cache built at the first select,
// and create, remove, read and write on top of it.
#include <gtest/gtest.h>

#include "applet_gost.h"
#include "appfs/fs_gost.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kListFile[] = "80 12 10 00 01 01";
const char kStatus[] = "80 15 10 00 01 01";

// A status record whose free memory (bytes 9-10) is `free`.
std::string StatusAnswer(unsigned short free) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X %02X", free >> 8, free & 0xFF);
    return std::string("00 03 02 00 00 00 00 00 00 ") + buf + " 05 00 00 00 00 60 61 62 63 64 65 66 67 90 00";
}

// A listAtr record: identifier (4, high byte first), length (2), value.
std::string Atr(const char* id, const char* value) {
    const TBytes v = Hex(value);
    char len[8];
    std::snprintf(len, sizeof len, " %02X %02X ", static_cast<unsigned>(v.size() >> 8 & 0xFF), static_cast<unsigned>(v.size() & 0xFF));
    return std::string(id) + len + value;
}

struct GostFs {
    ScriptedSender s;
    CAppletGost applet{&s};
    CFSGost& fs = *static_cast<CFSGost*>(applet.fs());

    // The first select over a store that answers `listing` and, per handle, `atrs`.
    void load(const std::string& listing, const std::vector<std::pair<std::string, std::string>>& atrs,
              const path& p = {0x3F00, 0xE00E}) {
        s.expect(kListFile, listing + " 90 00", 258);
        for (const auto& a : atrs) s.expect("80 13 40 00 02 " + a.first + " 00", a.second + " 90 00", 18434);
        fs.select(p);
    }
    void loadEmpty(const path& p = {0x3F00, 0xE00E}) { load("00 00 00", {}, p); }
};

TEST(GostFsCommands, BytesOfEachObjectStoreCommand) {
    GostFs t;
    t.s.expect("80 12 20 00 01 04 00", "01 23 90 00", 258);
    EXPECT_EQ(t.fs.newFile(), 0x0123);
    t.s.expect("80 12 30 00 02 01 23 00", "90 00", 258);
    t.fs.removeFile(0x0123);
    t.s.expect("80 13 20 00 06 00 01 11 00 00 00 00", "00 00 00 11 00 00 00 02 AA BB 90 00", 16386);
    EXPECT_EQ(t.fs.getAtr(0x0001, 0x00000011), Hex("AA BB"));
    t.s.expect("80 13 30 00 0A 00 01 61 01 00 00 00 02 00 20 00", "90 00", 2);
    t.fs.setAtr(0x0001, 0x00000161, Hex("00 20"));
    // An empty value goes out as one byte 00.
    t.s.expect("80 13 30 00 09 00 01 1E F1 00 80 00 01 00 00", "90 00", 2);
    t.fs.setAtr(0x0001, 0x8000F11E, {});
    t.s.expect("80 13 40 00 02 01 00 00", "00 00 01 61 00 02 00 20 80 00 F1 1E 00 00 90 00", 18434);
    const auto atrs = t.fs.listAtr(0x0100);
    ASSERT_EQ(atrs.size(), 2u);
    EXPECT_EQ(atrs[0].id, 0x00000161u);
    EXPECT_EQ(atrs[0].value, Hex("00 20"));
    EXPECT_EQ(atrs[1].id, 0x8000F11Eu);
    EXPECT_TRUE(atrs[1].value.empty());
    // Only objects of kind 04 are files.
    t.s.expect(kListFile, "FF 00 03 00 01 04 02 00 07 01 00 04 90 00", 258);
    EXPECT_EQ(t.fs.listFile(), (std::vector<unsigned short>{0x0001, 0x0100}));
    EXPECT_TRUE(t.s.done());
}

TEST(GostFsCommands, SetAtrTakesAThreeByteLcPast255DataBytes) {
    struct Case {
        size_t valueSize;
        const char* head;  // CLA INS P1 P2 and Lc
    };
    const Case cases[] = {{247, "80 13 30 00 FF"}, {248, "80 13 30 00 00 01 00"}, {0xFFF7, "80 13 30 00 00 FF FF"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.valueSize);
        GostFs t;
        const TBytes value(c.valueSize, 0x5A);
        TBytes cmd = Hex(c.head);
        const TBytes rest = Hex("00 02 11 00 00 00");
        cmd.insert(cmd.end(), rest.begin(), rest.end());
        cmd.push_back(static_cast<unsigned char>(c.valueSize >> 8));
        cmd.push_back(static_cast<unsigned char>(c.valueSize & 0xFF));
        cmd.insert(cmd.end(), value.begin(), value.end());
        cmd.push_back(0x00);
        t.s.expect(cmd, Hex("90 00"), 2);
        t.fs.setAtr(0x0002, 0x11, value);
        EXPECT_TRUE(t.s.done());
    }
    // One byte more and the count no longer fits: refused before sending.
    GostFs t;
    EXPECT_EQ(CodeOf([&] { t.fs.setAtr(0x0002, 0x11, TBytes(0xFFF8, 0x5A)); }), 0x6B00);
    EXPECT_TRUE(t.s.sent.empty());
}

TEST(GostFsCommands, ShortOrMisshapenAnswersRaise6281) {
    struct Case {
        const char* name;
        const char* command;
        const char* answer;
        std::function<void(CFSGost&)> call;
    };
    const Case cases[] = {
        {"listFile without a count", kListFile, "00 00 90 00", [](CFSGost& f) { f.listFile(); }},
        {"listFile with nothing", kListFile, "90 00", [](CFSGost& f) { f.listFile(); }},
        {"listFile count past the records", kListFile, "00 00 02 00 01 04 90 00", [](CFSGost& f) { f.listFile(); }},
        {"listFile records past the count", kListFile, "00 00 01 00 01 04 00 02 04 90 00",
         [](CFSGost& f) { f.listFile(); }},
        {"listAtr cut in an identifier", "80 13 40 00 02 00 01 00", "00 00 01 90 00", [](CFSGost& f) { f.listAtr(1); }},
        {"listAtr cut in a length", "80 13 40 00 02 00 01 00", "00 00 01 61 00 90 00", [](CFSGost& f) { f.listAtr(1); }},
        {"listAtr cut in a value", "80 13 40 00 02 00 01 00", "00 00 01 61 00 03 00 20 90 00",
         [](CFSGost& f) { f.listAtr(1); }},
        {"getAtr under 8 bytes", "80 13 20 00 06 00 01 11 00 00 00 00", "00 00 00 11 00 00 00 90 00",
         [](CFSGost& f) { f.getAtr(1, 0x11); }},
        {"newFile with one byte", "80 12 20 00 01 04 00", "01 90 00", [](CFSGost& f) { f.newFile(); }},
        {"newFile with none", "80 12 20 00 01 04 00", "90 00", [](CFSGost& f) { f.newFile(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostFs t;
        t.s.expect(c.command, c.answer);
        EXPECT_EQ(CodeOf([&] { c.call(t.fs); }), 0x6281);
    }
}

TEST(GostFsCache, AnEmptyStoreHoldsTheRootAndTheContainerRoot) {
    for (const path& p : {path{0xE00E}, path{0x3F00, 0xE00E}}) {
        GostFs t;
        t.loadEmpty(p);
        EXPECT_EQ(t.fs.info(), CFileInfo(2, 0, 0, 0x02));
        EXPECT_TRUE(t.fs.list(1).empty());
        EXPECT_TRUE(t.fs.list(2).empty());
        t.fs.select({});
        EXPECT_EQ(t.fs.list(2), (std::vector<unsigned short>{0xE00E}));
        EXPECT_EQ(CodeOf([&] { t.fs.select({0x3F00, 0xE00E, 0x0B00}); }), 0x6A82);
        EXPECT_TRUE(t.s.done());
    }
}

TEST(GostFsCache, StoredPathsBringTheirFoldersAlong) {
    GostFs t;
    t.load("00 00 04 00 01 04 00 02 04 00 03 04 00 04 04",
           {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 00 0B 01 00 05 00") + " " + Atr("00 00 01 61", "00 20")},
            // a data object: private, no path, so no entry
            {"00 02", Atr("00 00 00 02", "01") + " " + Atr("00 00 00 11", "AA BB")},
            // an odd last path byte is dropped; an empty size is skipped; 8000BADA makes it protected
            {"00 03", Atr("80 00 F1 1E", "00 3F 0E E0 07 00 09") + " " + Atr("00 00 01 61", "") + " " +
                          Atr("00 00 01 61", "01 02 03") + " " + Atr("80 00 BA DA", "02 00 FF")},
            // a path of one byte is no path: no entry
            {"00 04", Atr("80 00 F1 1E", "01") + " " + Atr("00 00 01 61", "00 01")}});
    EXPECT_EQ(t.fs.list(1), (std::vector<unsigned short>{0x0007}));
    EXPECT_EQ(t.fs.list(2), (std::vector<unsigned short>{0x0B00}));
    t.fs.select({0x3F00, 0xE00E, 0x0B00, 0x0001, 0x0005});
    EXPECT_EQ(t.fs.info(), CFileInfo(1, 32, 0, 0x02));
    t.fs.select({0xE00E, 0x0B00});
    EXPECT_EQ(t.fs.info(), CFileInfo(2, 0, 0, 0x02));
    EXPECT_EQ(t.fs.list(2), (std::vector<unsigned short>{0x0001}));
    EXPECT_TRUE(t.fs.list(1).empty());
    t.fs.select({0xE00E, 0x0007});
    EXPECT_EQ(t.fs.info(), CFileInfo(1, 0x0203, 0x02, 0x02));
    EXPECT_EQ(CodeOf([&] { t.fs.list(1); }), 0x6283);
    EXPECT_TRUE(t.s.done());
}

TEST(GostFsCache, AProtectedEntryReadsItsContentsFromTheDataObject) {
    GostFs t;
    t.load("00 00 01 00 03 04", {{"00 03", Atr("80 00 F1 1E", "00 3F 0E E0 07 00") + " " + Atr("00 00 01 61", "01 02 03") +
                                                " " + Atr("80 00 BA DA", "02 01 FF")}},
           {0x3F00, 0xE00E, 0x0007});
    EXPECT_EQ(t.fs.info(), CFileInfo(1, 0x0203, 0x02, 0x02));
    t.s.expect("80 13 20 00 06 01 02 11 00 00 00 00", "00 00 00 11 00 00 00 03 AA BB CC 90 00");
    TBytes piece(2);
    t.fs.read_bit(piece, 1);
    EXPECT_EQ(piece, Hex("BB CC"));
    EXPECT_TRUE(t.s.done());
}

TEST(GostFsCache, AFailedFirstSelectKeepsNothingAndTheNextSelectReadsTheStoreAgain) {
    struct Case {
        const char* name;
        std::string secondAtrs;
    };
    const Case cases[] = {
        {"card error", ""},
        {"data handle of one byte", Atr("80 00 F1 1E", "00 3F 0E E0 02 00") + " " + Atr("80 00 BA DA", "07")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostFs t;
        t.s.expect(kListFile, "00 00 02 00 01 04 00 02 04 90 00");
        t.s.expect("80 13 40 00 02 00 01 00", Atr("80 00 F1 1E", "00 3F 0E E0 01 00") + " 90 00");
        t.s.expect("80 13 40 00 02 00 02 00", c.secondAtrs.empty() ? "6D 05" : c.secondAtrs + " 90 00");
        const unsigned short code = CodeOf([&] { t.fs.select({0x3F00, 0xE00E, 0x0001}); });
        EXPECT_EQ(code, c.secondAtrs.empty() ? 0x6F00 : 0x6281);
        // Nothing of the half-read store stays: the next select asks the card again.
        t.load("00 00 01 00 01 04", {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 01 00")}}, {0x3F00, 0xE00E, 0x0001});
        EXPECT_EQ(t.fs.info().type, 1);
        EXPECT_TRUE(t.s.done());
    }
}

TEST(GostFsCreate, AnOpenFileIsOneObjectWithPathContentsAndSize) {
    GostFs t;
    t.loadEmpty();
    t.s.expect(kStatus, StatusAnswer(8292));
    t.s.expect("80 12 20 00 01 04 00", "01 00 90 00");
    t.s.expect("80 13 30 00 0E 01 00 1E F1 00 80 00 06 00 3F 0E E0 05 00 00", "90 00");
    TBytes contents = Hex("80 13 30 00 6C 01 00 11 00 00 00 00 64");
    contents.resize(contents.size() + 100, 0x00);
    contents.push_back(0x00);
    t.s.expect(contents, Hex("90 00"));
    t.s.expect("80 13 30 00 0A 01 00 61 01 00 00 00 02 00 64 00", "90 00");
    t.fs.create(0x0005, CFileInfo(1, 100, 0, 0x02));
    EXPECT_TRUE(t.s.done());
    // Not selected by the create; found by a select.
    EXPECT_EQ(t.fs.info().type, 2);
    EXPECT_EQ(t.fs.list(1), std::vector<unsigned short>{0x0005});
    t.fs.select({0x3F00, 0xE00E, 0x0005});
    EXPECT_EQ(t.fs.info(), CFileInfo(1, 100, 0, 0x02));
}

TEST(GostFsCreate, AFolderIsAnEntryOnlyListedLast) {
    GostFs t;
    t.load("00 00 01 00 01 04", {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 00 0B 01 00")}});
    t.fs.create(0x0A00, CFileInfo(2, 100, 0, 0));
    EXPECT_TRUE(t.s.done());  // no command, not even the memory query
    EXPECT_EQ(t.fs.list(2), (std::vector<unsigned short>{0x0B00, 0x0A00}));
    t.fs.select({0x3F00, 0xE00E, 0x0A00});
    EXPECT_EQ(t.fs.info(), CFileInfo(2, 0, 0, 0x02));
}

TEST(GostFsCreate, AProtectedFileKeepsItsContentsInAPrivateDataObject) {
    GostFs t;
    t.loadEmpty();
    t.s.expect(kStatus, StatusAnswer(0xFFFF));
    t.s.expect("80 12 20 00 01 04 00", "01 00 90 00");
    t.s.expect("80 12 20 00 01 04 00", "01 01 90 00");
    t.s.expect("80 13 30 00 0A 01 00 DA BA 00 80 00 02 01 01 00", "90 00");
    t.s.expect("80 13 30 00 09 01 01 02 00 00 00 00 01 01 00", "90 00");
    t.s.expect("80 13 30 00 0E 01 00 1E F1 00 80 00 06 00 3F 0E E0 05 00 00", "90 00");
    t.s.expect("80 13 30 00 0B 01 01 11 00 00 00 00 03 00 00 00 00", "90 00");
    t.s.expect("80 13 30 00 0A 01 00 61 01 00 00 00 02 00 03 00", "90 00");
    // The requested access bytes give way to the user PIN's.
    t.fs.create(0x0005, CFileInfo(1, 3, 0x07, 0x00));
    EXPECT_TRUE(t.s.done());
    t.fs.select({0x3F00, 0xE00E, 0x0005});
    EXPECT_EQ(t.fs.info(), CFileInfo(1, 3, 0x02, 0x02));
}

TEST(GostFsCreate, RefusalsBeforeAnyObjectIsMade) {
    struct Case {
        const char* name;
        unsigned short fid;
        CFileInfo info;
        const char* status;  // answer to the memory query, or null when none is asked
        unsigned short code;
    };
    const Case cases[] = {
        {"reserved identifier", 0x3FFF, CFileInfo(1, 1, 0, 2), nullptr, 0x6900},
        {"file above 16384", 0x0005, CFileInfo(1, 16385, 0, 2), nullptr, 0x6400},
        {"folder above 16384", 0x0005, CFileInfo(2, 16385, 0, 2), nullptr, 0x6400},
        {"free memory one short", 0x0005, CFileInfo(1, 100, 0, 2), "8291", 0x6400},
        {"path exists", 0x0B00, CFileInfo(2, 0, 0, 2), nullptr, 0x6A89},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GostFs t;
        t.load("00 00 01 00 01 04", {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 00 0B 01 00")}});
        if (c.status) t.s.expect(kStatus, StatusAnswer(static_cast<unsigned short>(std::stoi(c.status))));
        EXPECT_EQ(CodeOf([&] { t.fs.create(c.fid, c.info); }), c.code);
        EXPECT_TRUE(t.s.done());
    }
    // Inside a file there is nothing to create.
    GostFs t;
    t.load("00 00 01 00 01 04", {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 01 00")}}, {0x3F00, 0xE00E, 0x0001});
    EXPECT_EQ(CodeOf([&] { t.fs.create(0x0002, CFileInfo(2, 0, 0, 2)); }), 0x6283);
}

TEST(GostFsCreate, AFailedAttributeWriteRemovesTheObjectsMadeAndTheEntry) {
    GostFs t;
    t.loadEmpty();
    t.s.expect(kStatus, StatusAnswer(0xFFFF));
    t.s.expect("80 12 20 00 01 04 00", "02 00 90 00");
    t.s.expect("80 12 20 00 01 04 00", "02 01 90 00");
    t.s.expect("80 13 30 00 0A 02 00 DA BA 00 80 00 02 01 02 00", "90 00");
    t.s.expect("80 13 30 00 09 02 01 02 00 00 00 00 01 01 00", "90 00");
    t.s.expect("80 13 30 00 0E 02 00 1E F1 00 80 00 06 00 3F 0E E0 05 00 00", "90 00");
    t.s.expect("80 13 30 00 0B 02 01 11 00 00 00 00 03 00 00 00 00", "6D 06");  // memory full
    // The data object first, then the file object; a failing removal ends nothing.
    t.s.expect("80 12 30 00 02 02 01 00", "6D 82");
    t.s.expect("80 12 30 00 02 02 00 00", "90 00");
    EXPECT_EQ(CodeOf([&] { t.fs.create(0x0005, CFileInfo(1, 3, 0x02, 0x02)); }), 0x6400);
    EXPECT_TRUE(t.s.done());
    EXPECT_TRUE(t.fs.list(1).empty());
    EXPECT_EQ(CodeOf([&] { t.fs.select({0x3F00, 0xE00E, 0x0005}); }), 0x6A82);

    // A second newFile that fails leaves the first object to be removed.
    t.s.expect(kStatus, StatusAnswer(0xFFFF));
    t.s.expect("80 12 20 00 01 04 00", "02 02 90 00");
    t.s.expect("80 12 20 00 01 04 00", "02 90 00");
    t.s.expect("80 12 30 00 02 02 02 00", "90 00");
    EXPECT_EQ(CodeOf([&] { t.fs.create(0x0005, CFileInfo(1, 3, 0x02, 0x02)); }), 0x6281);
    EXPECT_TRUE(t.s.done());
}

TEST(GostFsRemove, FilesLoseTheirObjectsFoldersOnlyTheirEntry) {
    GostFs t;
    t.load("00 00 02 00 01 04 00 03 04",
           {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 01 00 05 00") + " " + Atr("80 00 BA DA", "02 00")},
            {"00 03", Atr("80 00 F1 1E", "00 3F 0E E0 01 00 06 00")}},
           {0x3F00, 0xE00E, 0x0001});
    EXPECT_EQ(CodeOf([&] { t.fs.remove(); }), 0x6900);  // holds files
    EXPECT_TRUE(t.s.sent.size() == 3);
    t.fs.select({0x3F00, 0xE00E, 0x0001, 0x0005});
    t.s.expect("80 12 30 00 02 00 02 00", "90 00");
    t.s.expect("80 12 30 00 02 00 01 00", "90 00");
    t.fs.remove();
    t.fs.select({0x3F00, 0xE00E, 0x0001, 0x0006});
    t.s.expect("80 12 30 00 02 00 03 00", "90 00");
    t.fs.remove();
    EXPECT_TRUE(t.s.done());
    // The emptied folder goes without a command, and with it its entry.
    t.fs.select({0x3F00, 0xE00E, 0x0001});
    t.fs.remove();
    EXPECT_EQ(CodeOf([&] { t.fs.select({0x3F00, 0xE00E, 0x0001}); }), 0x6A82);
    t.fs.select({0x3F00});
    EXPECT_EQ(CodeOf([&] { t.fs.remove(); }), 0x6900);
    EXPECT_TRUE(t.s.done());
}

TEST(GostFsRemove, NothingSelectedIsRefusedBeforeSending) {
    GostFs t;
    EXPECT_EQ(CodeOf([&] { t.fs.remove(); }), 0x6900);
    EXPECT_TRUE(t.s.sent.empty());
}

TEST(GostFsReadWrite, BoundsAndTheProtectedFilesRefusal) {
    GostFs t;
    t.load("00 00 02 00 01 04 00 02 04",
           {{"00 01", Atr("80 00 F1 1E", "00 3F 0E E0 01 00") + " " + Atr("00 00 01 61", "00 20")},
            {"00 02", Atr("80 00 F1 1E", "00 3F 0E E0 02 00") + " " + Atr("00 00 01 61", "00 04") + " " +
                          Atr("80 00 BA DA", "03 00")}},
           {0x3F00, 0xE00E, 0x0001});
    TBytes ten(10), past(10), none;
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(past, 23); }), 0x6282);
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(past, 23); }), 0x6A84);
    t.fs.read_bit(none, 32);  // nothing to fetch
    t.fs.write_bit(none, 32);
    EXPECT_TRUE(t.s.sent.size() == 3);
    TBytes all(32, 0x11);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<unsigned char>(i);
    const std::string reply = "00 00 00 11 00 00 00 20 " + testing_card::ToHex(all) + " 90 00";
    t.s.expect("80 13 20 00 06 00 01 11 00 00 00 00", reply);
    t.fs.read_bit(ten, 22);
    EXPECT_EQ(ten, TBytes(all.begin() + 22, all.end()));
    // A write sends the whole contents back.
    t.s.expect("80 13 20 00 06 00 01 11 00 00 00 00", reply);
    TBytes back = all;
    back[30] = 0xAA;
    back[31] = 0xBB;
    t.s.expect(testing_card::Concat(Hex("80 13 30 00 28 00 01 11 00 00 00 00 20"), testing_card::Concat(back, Hex("00"))),
               Hex("90 00"));
    t.fs.write_bit(Hex("AA BB"), 30);
    // Contents shorter than the size kept.
    t.s.expect("80 13 20 00 06 00 01 11 00 00 00 00", "00 00 00 11 00 00 00 04 01 02 03 04 90 00");
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(ten, 0); }), 0x6282);
    t.s.expect("80 13 20 00 06 00 01 11 00 00 00 00", "00 00 00 11 00 00 00 04 01 02 03 04 90 00");
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(ten, 0); }), 0x6A84);
    // Refused contents: 6A82 for an open file, 6900 for a protected one.
    TBytes two(2);
    t.s.expect("80 13 20 00 06 00 01 11 00 00 00 00", "6D 60");
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(two, 0); }), 0x6A82);
    t.fs.select({0x3F00, 0xE00E, 0x0002});
    t.s.expect("80 13 20 00 06 00 03 11 00 00 00 00", "6D 60");
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(two, 0); }), 0x6900);
    t.s.expect("80 13 20 00 06 00 03 11 00 00 00 00", "6D 60");
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(two, 0); }), 0x6900);
    EXPECT_TRUE(t.s.done());
    // On a folder neither is possible.
    t.fs.select({0x3F00, 0xE00E});
    EXPECT_EQ(CodeOf([&] { t.fs.read_bit(two, 0); }), 0x6283);
    EXPECT_EQ(CodeOf([&] { t.fs.write_bit(two, 0); }), 0x6283);
}

TEST(GostFsFacet, WhatTheFamilyDoesNotOffer) {
    GostFs t;
    EXPECT_EQ(CodeOf([&] { t.fs.resize(1); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { t.fs.selectByFID(1); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { t.fs.selectByName({1}); }), 0xFACE);
    EXPECT_EQ(t.fs.bit_size(), 0xFFFF);
    t.loadEmpty();
    EXPECT_EQ(CodeOf([&] { t.fs.list(3); }), 0xFACE);
}

}  // namespace
