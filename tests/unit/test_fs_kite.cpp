// The Kite and Kite4 file systems against a scripted card: the exact command
// bytes, the select and list replies (well-formed and not), the change marker
// and the refusals made before anything is sent.
#include "appfs/fs_kite.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct KiteFs {
    explicit KiteFs(bool kite4 = false, bool fips = false)
        : applet(&sender, new CErrorKite), info(new FakeInfo(fips)) {
        fs = kite4 ? new CFSKite4(&applet) : new CFSKite(&applet);
        applet.setFs(fs);
        applet.setInfo(info);
    }
    ~KiteFs() { EXPECT_TRUE(sender.done()) << "scripted commands were never sent"; }

    // Selects 3F00/6666/0005, a file of `size` bytes with access 0F 10.
    void selectFile(unsigned short size) {
        TBytes reply = H("6F 0D 82 03 01 00 00 81 02");
        reply.push_back(static_cast<unsigned char>(size >> 8));
        reply.push_back(static_cast<unsigned char>(size & 0xFF));
        reply[7] = fs->tag_file_size();
        reply = Concat(reply, H("86 02 0F 10 90 00"));
        sender.expect("00 A4 08 00 04 66 66 00 05 00", Hex(reply));
        fs->select({0x3F00, 0x6666, 0x0005});
    }
    void selectFolder() {
        sender.expect("00 A4 08 00 02 66 66 00", "6F 0A 82 03 38 00 00 86 03 0F 0F 0F 90 00");
        fs->select({});
    }
    // The change marker after a create or remove: select 3F00/6666/0001, write 16 random bytes.
    void expectMarker() {
        TBytes reply = H("6F 0D 82 03 01 00 00 81 02 00 10 86 02 00 00 90 00");
        reply[7] = fs->tag_file_size();
        sender.expect(H("00 A4 08 00 04 66 66 00 01 00"), reply);
        sender.expectPrefix("00 D6 00 00 10", 21, "90 00");
    }

    ScriptedSender sender;
    TestApplet applet;
    FakeInfo* info;
    CFSKite* fs;
};

std::string Describe(const CFileInfo& i) {
    char b[40];
    std::snprintf(b, sizeof b, "type %u size %u r %02X w %02X", i.type, i.size, i.readAccess, i.writeAccess);
    return b;
}

// ---------------------------------------------------------------- select

TEST(KiteFsSelect, PathsBecomeCommandsFromTheRootOrTheAppletFolder) {
    struct Case {
        bool fips;
        path in;
        const char* command;
        path current;
        int infoAsked;
    };
    const Case cases[] = {
        {false, {}, "00 A4 08 00 02 66 66 00", {0x3F00, 0x6666}, 1},
        {true, {}, "00 A4 08 00 04 66 66 50 00 00", {0x3F00, 0x6666, 0x5000}, 1},
        {false, {0x3F00}, "00 A4 00 00 00", {0x3F00}, 0},
        {true, {0x3F00, 0x6666, 0x0001}, "00 A4 08 00 04 66 66 00 01 00", {0x3F00, 0x6666, 0x0001}, 0},
        {false, {0xE00E, 0x0B00}, "00 A4 08 00 06 66 66 E0 0E 0B 00 00", {0x3F00, 0x6666, 0xE00E, 0x0B00}, 1},
        {true, {0xE00E}, "00 A4 08 00 06 66 66 50 00 E0 0E 00", {0x3F00, 0x6666, 0x5000, 0xE00E}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        KiteFs k(false, c.fips);
        k.sender.expect(c.command, "90 00", 258);
        k.fs->select(c.in);
        EXPECT_EQ(k.fs->currentPath(), c.current);
        EXPECT_EQ(k.info->asked, c.infoAsked);
        EXPECT_EQ(k.fs->info(), CFileInfo());
    }
}

TEST(KiteFsSelect, RepliesGiveTheDescriptionAndMalformedElementsCountAsAbsent) {
    struct Case {
        const char* name;
        const char* reply;
        CFileInfo kite, kite4;
    };
    const CFileInfo none;
    const Case cases[] = {
        {"file of 2048 bytes", "6F 0D 82 03 01 00 00 81 02 08 00 86 02 0F 10", {1, 2048, 0x0F, 0x10}, {1, 0, 0x0F, 0x10}},
        {"Kite4 size tag", "6F 0A 82 01 01 80 02 01 00 86 01 0F", {1, 0, 0x0F, 0xFF}, {1, 256, 0x0F, 0xFF}},
        {"folder", "6F 0A 82 03 38 00 00 86 03 0F 0F 0F", {2, 0, 0x00, 0x0F}, {2, 0, 0x00, 0x0F}},
        {"four size bytes, low 16 bits", "6F 0B 82 01 01 81 04 00 01 12 34 86 00", {1, 0x1234, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"no 6F", "82 03 01 00 00 81 02 08 00", none, none},
        {"elements after 6F outside it", "6F 05 82 03 01 00 00 86 02 0F 10", {1, 0, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"6F runs past the data", "6F 20 82 03 01 00 00 81 02 08 00", none, none},
        {"86 runs past its 6F", "6F 09 82 03 01 00 00 86 05 0F 10 00 00 00", {1, 0, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"size runs past its 6F", "6F 08 82 03 01 00 00 81 09 08", {1, 0, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"tag without a length", "6F 06 82 03 01 00 00 86", {1, 0, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"short FF escape", "6F 08 82 03 01 00 00 86 FF 00", {1, 0, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"FF escape", "6F FF 00 0C 82 03 01 00 00 81 02 00 10 86 01 0F", {1, 16, 0x0F, 0xFF}, {1, 0, 0x0F, 0xFF}},
        {"empty 82", "6F 08 82 00 81 02 08 00 86 01 0F", none, none},
        {"empty 86", "6F 0B 82 03 01 00 00 81 02 00 40 86 00", {1, 64, 0xFF, 0xFF}, {1, 0, 0xFF, 0xFF}},
        {"00 tag ends the walk", "6F 09 00 82 03 01 00 00 86 01 0F", none, none},
        {"empty reply", "", none, none},
    };
    for (bool kite4 : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (kite4 ? " (Kite4)" : " (Kite)"));
            KiteFs k(kite4);
            k.sender.expect("00 A4 00 00 00", std::string(c.reply) + " 90 00");
            k.fs->select({0x3F00});
            EXPECT_EQ(Describe(k.fs->info()), Describe(kite4 ? c.kite4 : c.kite));
        }
    }
}

TEST(KiteFsSelect, AFailedSelectKeepsTheCurrentFile) {
    KiteFs k;
    k.selectFile(100);
    k.sender.expect("00 A4 08 00 04 66 66 00 07 00", "6A 82");
    EXPECT_EQ(RaisedCode([&] { k.fs->select({0x3F00, 0x6666, 0x0007}); }), 0x6A82);
    EXPECT_EQ(k.fs->currentPath(), (path{0x3F00, 0x6666, 0x0005}));
    EXPECT_EQ(k.fs->info(), CFileInfo(1, 100, 0x0F, 0x10));
    // Kite's own word for a missing file.
    k.sender.expect("00 A4 08 00 04 66 66 00 07 00", "6F 86");
    EXPECT_EQ(RaisedCode([&] { k.fs->select({0x3F00, 0x6666, 0x0007}); }), 0x6A82);
}

TEST(KiteFsSelect, RefusedBeforeSending) {
    KiteFs k;
    // 127 identifiers still fit the one-byte Lc; 128 do not.
    path longest(126, 0x1111);
    k.sender.expectPrefix("00 A4 08 00 FE 66 66", 5 + 254 + 1, "90 00");
    k.fs->select(longest);
    longest.push_back(0x1111);
    EXPECT_EQ(RaisedCode([&] { k.fs->select(longest); }), 0x6B00);
    path absolute(129, 0x2222);
    absolute[0] = 0x3F00;
    EXPECT_EQ(RaisedCode([&] { k.fs->select(absolute); }), 0x6B00);

    // A relative path needs the information facet.
    k.applet.setInfo(new IAppInfo);
    EXPECT_EQ(RaisedCode([&] { k.fs->select({0x0001}); }), 0xFACE);
    EXPECT_EQ(k.sender.sent.size(), 1u);
}

// ---------------------------------------------------------------- list

TEST(KiteFsList, PagesUntilAReplyAddsNothing) {
    for (unsigned char type : {1, 2}) {
        SCOPED_TRACE(static_cast<int>(type));
        const std::string p1 = type == 2 ? "00" : "01";
        KiteFs k;
        k.selectFolder();
        k.sender.expect("80 16 " + p1 + " 00 00", "6F 04 86 02 00 01 6F 04 86 02 00 02 90 00", 258);
        // A 6F without an identifier is skipped; one with four bytes gives its low 16 bits.
        k.sender.expect("80 16 " + p1 + " 02 00", "6F 03 82 01 01 6F 06 86 04 00 01 00 03 90 00", 258);
        k.sender.expect("80 16 " + p1 + " 03 00", "90 00", 258);
        EXPECT_EQ(k.fs->list(type), (std::vector<unsigned short>{0x0001, 0x0002, 0x0003}));
    }
}

TEST(KiteFsList, RepliesAreReadInsideTheirElements) {
    KiteFs k;
    k.selectFolder();
    // The second 6F claims more than the data holds: the walk ends there.
    k.sender.expect("80 16 00 00 00", "6F 04 86 02 00 01 6F 08 86 02 00 02 90 00");
    // An 86 running past its 6F is skipped with that 6F.
    k.sender.expect("80 16 00 01 00", "6F 04 86 06 00 09 6F 03 86 01 07 90 00");
    // An empty 86 names nothing: a page of them adds nothing and ends the list.
    k.sender.expect("80 16 00 02 00", "6F 02 86 00 6F 02 86 00 90 00");
    EXPECT_EQ(k.fs->list(2), (std::vector<unsigned short>{0x0001, 0x0007}));
}

TEST(KiteFsList, StopsPastTwoHundredAndFiftyFiveIdentifiers) {
    KiteFs k;
    k.selectFolder();
    TBytes page;
    for (int i = 0; i < 64; ++i) page = Concat(page, H("6F 04 86 02 12 34"));
    page = Concat(page, H("90 00"));
    for (int index : {0, 64, 128, 192}) {
        char cmd[32];
        std::snprintf(cmd, sizeof cmd, "80 16 00 %02X 00", index);
        k.sender.expect(H(cmd), page);
    }
    EXPECT_EQ(k.fs->list(2).size(), 256u);
}

TEST(KiteFsList, OnlyInsideAFolder) {
    KiteFs k;
    EXPECT_EQ(RaisedCode([&] { k.fs->list(2); }), 0x6283);
    k.sender.expect("00 A4 00 00 00", "90 00");
    k.fs->select({0x3F00});
    EXPECT_EQ(RaisedCode([&] { k.fs->list(1); }), 0x6283);
    k.selectFile(10);
    EXPECT_EQ(RaisedCode([&] { k.fs->list(2); }), 0x6283);
    k.selectFolder();
    k.sender.expect("80 16 00 00 00", "6A 82");
    EXPECT_EQ(RaisedCode([&] { k.fs->list(2); }), 0x6A82);
}

// ---------------------------------------------------------------- create and remove

TEST(KiteFsCreate, TemplatesOfEachGeneration) {
    struct Case {
        bool kite4;
        CFileInfo info;
        const char* command;
    };
    const Case cases[] = {
        {false, {1, 0x0800, 0x0F, 0x10},
         "00 E0 00 00 1D 6F 1B 82 03 01 00 00 85 03 00 00 00 83 02 00 05 81 02 08 00 86 07 0F 10 10 10 10 10 10"},
        {false, {2, 0x0800, 0x0F, 0x10},
         "00 E0 00 00 1E 6F 1C 82 03 38 00 00 85 03 00 00 00 83 02 00 05 81 02 00 00 86 08 10 10 10 10 10 10 10 10"},
        {true, {1, 0x0800, 0x0F, 0x10},
         "00 E0 00 00 19 62 17 82 01 01 85 01 00 83 02 00 05 80 02 08 00 86 07 0F 10 10 10 10 10 10"},
        {true, {2, 0x0800, 0x0F, 0x10},
         "00 E0 00 00 1A 62 18 82 01 38 85 01 00 83 02 00 05 81 02 00 00 86 08 10 10 10 10 10 10 10 10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        KiteFs k(c.kite4);
        k.selectFolder();
        k.sender.expect(c.command, "90 00", 258);
        k.expectMarker();
        k.fs->create(0x0005, c.info);
        EXPECT_EQ(k.fs->currentPath(), (path{0x3F00, 0x6666, 0x0001}));
    }
}

TEST(KiteFsCreate, RefusalsAndTheCardsAnswers) {
    KiteFs k;
    k.selectFolder();
    for (unsigned short fid : {0x0000, 0x3F00, 0x3FFF, 0xFFFF}) {
        EXPECT_EQ(RaisedCode([&] { k.fs->create(fid, CFileInfo(1, 10, 0, 0)); }), 0x6900);
    }
    for (unsigned char type : {0, 3}) {
        EXPECT_EQ(RaisedCode([&] { k.fs->create(0x0005, CFileInfo(type, 10, 0, 0)); }), 0xFACE);
    }
    EXPECT_EQ(k.sender.sent.size(), 1u);

    // An existing identifier: 6A80 becomes 6A89; no marker follows a failure.
    k.sender.expectPrefix("00 E0 00 00 1D", 34, "6A 80");
    EXPECT_EQ(RaisedCode([&] { k.fs->create(0x0005, CFileInfo(1, 10, 0, 0)); }), 0x6A89);
    k.sender.expectPrefix("00 E0 00 00 1D", 34, "6A 84");
    EXPECT_EQ(RaisedCode([&] { k.fs->create(0x0005, CFileInfo(1, 10, 0, 0)); }), 0x6400);
}

TEST(KiteFsCreate, AFailingMarkerLeavesTheChangeDone) {
    for (bool selectFails : {true, false}) {
        SCOPED_TRACE(selectFails);
        KiteFs k;
        k.selectFolder();
        k.sender.expectPrefix("00 E0 00 00 1E", 35, "90 00");
        if (selectFails) {
            k.sender.expect("00 A4 08 00 04 66 66 00 01 00", "6A 82");
        } else {
            k.sender.expect("00 A4 08 00 04 66 66 00 01 00", "6F 0D 82 03 01 00 00 81 02 00 10 86 02 00 00 90 00");
            k.sender.expectPrefix("00 D6 00 00 10", 21, "69 82");
        }
        k.fs->create(0x0100, CFileInfo(2, 0, 0, 0));
        EXPECT_EQ(k.fs->currentPath(), (selectFails ? path{0x3F00, 0x6666} : path{0x3F00, 0x6666, 0x0001}));
    }
}

TEST(KiteFsRemove, SelectsTheParentDeletesAndMarks) {
    KiteFs k;
    k.selectFile(10);
    k.sender.expect("00 A4 08 00 02 66 66 00", "6F 0A 82 03 38 00 00 86 03 0F 0F 0F 90 00");
    k.sender.expect("00 E4 00 00 02 00 05", "90 00", 2);
    k.expectMarker();
    k.fs->remove();

    // The card's "not allowed" for this file becomes 6900.
    k.selectFile(10);
    k.sender.expect("00 A4 08 00 02 66 66 00", "6F 0A 82 03 38 00 00 86 03 0F 0F 0F 90 00");
    k.sender.expect("00 E4 00 00 02 00 05", "69 81");
    EXPECT_EQ(RaisedCode([&] { k.fs->remove(); }), 0x6900);
}

TEST(KiteFsRemove, NothingBelowTheRootSelectedIsRefusedBeforeSending) {
    KiteFs k;
    EXPECT_EQ(RaisedCode([&] { k.fs->remove(); }), 0x6900);
    k.sender.expect("00 A4 00 00 00", "90 00");
    k.fs->select({0x3F00});
    EXPECT_EQ(RaisedCode([&] { k.fs->remove(); }), 0x6900);
    EXPECT_EQ(k.sender.sent.size(), 1u);
}

// ---------------------------------------------------------------- read and write

TEST(KiteFsData, ReadsAndWritesInPiecesOf255) {
    KiteFs k;
    k.selectFile(610);
    k.sender.expect(H("00 B0 00 0A FF"), Concat(TBytes(255, 0x11), H("90 00")), 257);
    k.sender.expect(H("00 B0 01 09 FF"), Concat(TBytes(255, 0x22), H("90 00")), 257);
    k.sender.expect(H("00 B0 02 08 5A"), Concat(TBytes(90, 0x33), H("90 00")), 92);
    TBytes data(600);
    k.fs->read(data, 10);
    EXPECT_EQ(data[0], 0x11);
    EXPECT_EQ(data[254], 0x11);
    EXPECT_EQ(data[255], 0x22);
    EXPECT_EQ(data[599], 0x33);

    const TBytes bytes(300, 0x5A);
    k.sender.expect(Concat(H("00 D6 00 00 FF"), TBytes(255, 0x5A)), H("90 00"), 2);
    k.sender.expect(Concat(H("00 D6 00 FF 2D"), TBytes(45, 0x5A)), H("90 00"), 2);
    k.fs->write(bytes, 0);
}

TEST(KiteFsData, StaysInsideTheFile) {
    KiteFs k;
    k.selectFile(100);
    TBytes piece(10);
    // Up to the last byte is fine; one more is refused before sending.
    k.sender.expect(H("00 B0 00 5A 0A"), Concat(TBytes(10, 1), H("90 00")));
    k.fs->read_bit(piece, 90);
    EXPECT_EQ(RaisedCode([&] { k.fs->read_bit(piece, 91); }), 0x6282);
    EXPECT_EQ(RaisedCode([&] { k.fs->read_bit(piece, 200); }), 0x6282);
    EXPECT_EQ(RaisedCode([&] { k.fs->write_bit(piece, 91); }), 0x6A84);
    TBytes big(256);
    EXPECT_EQ(RaisedCode([&] { k.fs->read_bit(big, 0); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { k.fs->write_bit(big, 0); }), 0x6B00);

    // offset + n is computed wide: FFFF + 2 does not wrap to 1.
    k.selectFile(0xFFFF);
    TBytes two(2);
    EXPECT_EQ(RaisedCode([&] { k.fs->read_bit(two, 0xFFFF); }), 0x6282);
    EXPECT_EQ(RaisedCode([&] { k.fs->write_bit(two, 0xFFFF); }), 0x6A84);

    // A reply of another length than asked.
    k.sender.expect(H("00 B0 00 00 02"), H("01 02 03 90 00"));
    EXPECT_EQ(RaisedCode([&] { k.fs->read_bit(two, 0); }), 0x6282);
    k.sender.expect(H("00 B0 00 00 02"), H("69 82"));
    EXPECT_EQ(RaisedCode([&] { k.fs->read_bit(two, 0); }), 0x6900);
}

TEST(KiteFsData, TheRestIsNotOffered) {
    KiteFs k;
    EXPECT_EQ(RaisedCode([&] { k.fs->resize(10); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { k.fs->selectByFID(1); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { k.fs->selectByName({1}); }), 0xFACE);
    EXPECT_EQ(k.fs->bit_size(), 255);
}

}  // namespace
