// The DataStore file system against a scripted card: the record commands byte
// for byte, the tree carried in object identifiers, the whole-record rewrite
// and its fallback when the card has no room for a copy, and the refusals made
// before any command.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "applet_datastore.h"
#include "appfs/fs_datastore.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kEnum0[] = "80 20 60 00 02 00 00 00";
const char kSelectPlatform[] = "00 A4 04 00 08 A0 00 00 04 48 FF 00 00";
const char kStatus[] = "80 30 30 00 00";

// A 30-byte status record with `free` bytes free.
TBytes Status30(unsigned short free) {
    TBytes r(30, 0);
    r[5] = static_cast<unsigned char>(free >> 8);
    r[6] = static_cast<unsigned char>(free);
    return Concat(r, {0x90, 0x00});
}

// One enumeration entry: handle, object identifier, flag, size.
std::string Entry(unsigned short h, unsigned short id, unsigned char flag, unsigned short size) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X %02X %02X %02X ", h >> 8, h & 0xFF, id >> 8, id & 0xFF, flag,
                  size >> 8, size & 0xFF);
    return buf;
}

struct DataStoreCard {
    ScriptedSender card;
    CAppletDataStore applet{&card};
    IAppFS* fs() { return applet.fs(); }
    CFSDataStore& impl() { return *static_cast<CFSDataStore*>(applet.fs()); }

    // The free-memory query of a file create on a card without the platform applet.
    void expectFreeMemory(unsigned short free) {
        card.expect(kSelectPlatform, "6A 82", 258).expect(Hex(kStatus), Status30(free), 258);
    }
    // A store of: root 0001, E00E 0002 under it, F001 0003 (12 bytes, protected) under that.
    void expectSmallStore() {
        card.expect(kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + Entry(0x0002, 0x01EE, 0, 0) + Entry(0x0003, 0x02F1, 1, 12) +
                                "90 00", 258)
            .expect("80 20 60 00 02 00 04 00", "90 00", 258);
    }
};

TEST(FsDataStore, EmptyStoreMakesTheRootRecordBeforeTheFirstChild) {
    DataStoreCard t;
    t.card.expect(kEnum0, "90 00", 258);
    t.fs()->select({0x3F00});
    EXPECT_EQ(t.fs()->info(), CFileInfo(2, 0, 0x00, 0x01));
    EXPECT_TRUE(t.fs()->list(1).empty());
    EXPECT_TRUE(t.fs()->list(2).empty());

    // 0001 is written with key A9 under the root's handle 05.
    t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2)
        .expect("80 20 50 00 04 01 00 3F 3F 00", "00 05 90 00", 256)
        .expect("80 20 10 00 02 00 00 00", "90 00", 2)
        .expect("80 20 50 00 04 01 00 05 A9 00", "00 06 90 00", 256);
    t.fs()->create(0x0001, CFileInfo(2, 0, 0, 1));
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(t.fs()->list(2), std::vector<unsigned short>{0x0001});
    const auto& cache = t.impl().cache();
    ASSERT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache[0].handle, 0x0005);
    EXPECT_EQ(cache[0].objectId, 0x3F3F);
    EXPECT_EQ(cache[1].handle, 0x0006);
    EXPECT_EQ(cache[1].path, (path{0x3F00, 0x0001}));

    // A protected file asks for the free memory first and is committed with flag 01.
    t.fs()->select({0x0001});
    t.expectFreeMemory(0x1000);
    t.card.expect("80 20 10 00 02 00 40 00", "90 00", 2).expect("80 20 50 00 04 01 01 06 F1 00", "00 07 90 00", 256);
    t.fs()->create(0xF001, CFileInfo(1, 64, 1, 1));
    EXPECT_TRUE(t.card.done());
}

TEST(FsDataStore, KeyTableMapsBothWaysAndRefusesOtherFids) {
    DataStoreCard t;
    EXPECT_EQ(t.impl().keys().size(), 67u);
    struct Case {
        unsigned short fid;
        int key;  // -1: not in the table
    } cases[] = {{0x3F00, 0x3F}, {0xE00E, 0xEE}, {0x0B00, 0x0B}, {0x0C01, 0x1C}, {0xCC00, 0xC0}, {0xCC0A, 0x10},
                 {0xCC0F, 0x15}, {0xCC10, 0xCA}, {0xCC1C, 0xBC}, {0xCC24, 0x24}, {0xF000, 0xF0}, {0xF007, 0xF7},
                 {0xDE02, 0xDF}, {0x130A, 0xA7}, {0x0001, 0xA9}, {0x7777, 0xAE}, {0x001A, -1}, {0xCC25, -1}};
    for (const Case& c : cases) {
        unsigned char key = 0;
        EXPECT_EQ(t.impl().keyOf(c.fid, key), c.key >= 0) << std::hex << c.fid;
        if (c.key >= 0) {
            EXPECT_EQ(key, c.key) << std::hex << c.fid;
        }
    }
    // AF reads back as 0001 too.
    EXPECT_EQ(t.impl().keys().at(0xAF), 0x0001);
}

TEST(FsDataStore, EnumerationBuildsPathsAndSkipsUnknownKeys) {
    DataStoreCard t;
    // Pages from a start handle; F002 (handle 0004) comes before its folder 0009;
    // a record with key 99 is not part of the tree.
    t.card.expect(kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + Entry(0x0004, 0x09F2, 1, 80) + "90 00", 258)
        .expect("80 20 60 00 02 00 05 00", Entry(0x0007, 0x0199, 0, 3) + Entry(0x0009, 0x01A9, 0, 0) + "90 00", 258)
        .expect("80 20 60 00 02 00 0A 00", "90 00", 258);
    t.fs()->select({0x3F00, 0x0001, 0xF002});
    EXPECT_EQ(t.fs()->info(), CFileInfo(1, 80, 0x01, 0x01));
    t.fs()->select({0x0001});
    EXPECT_EQ(t.fs()->list(1), std::vector<unsigned short>{0xF002});
    t.fs()->select({0x3F00});
    EXPECT_EQ(t.fs()->list(2), std::vector<unsigned short>{0x0001});
    EXPECT_EQ(t.impl().cache().size(), 3u);
}

TEST(FsDataStore, ParentRingsEndTheWalk) {
    DataStoreCard t;
    // 0005 and 0006 name each other as parent; 0008 is its own parent.
    t.card.expect(kEnum0, Entry(0x0005, 0x06A9, 0, 0) + Entry(0x0006, 0x05EE, 0, 0) + Entry(0x0008, 0x080B, 0, 0) +
                              "90 00", 258)
        .expect("80 20 60 00 02 00 09 00", "90 00", 258);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0x3F00}); }), 0x6A82);
    for (const auto& e : t.impl().cache()) EXPECT_FALSE(e.path.empty());
}

TEST(FsDataStore, EnumerationAnswersThatEndOrFail) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> script;
        unsigned short code;  // of select {3F00}
        size_t entries;       // in the cache afterwards
    } cases[] = {
        {"13 data bytes", {{kEnum0, Entry(1, 0x3F3F, 0, 0) + "00 02 01 EE 00 00 90 00"}}, 0x6281, 0},
        {"last handle FFFF ends it",
         {{kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + Entry(0xFFFF, 0x01EE, 0, 0) + "90 00"}}, 0, 2},
        {"a page from before the start",
         {{kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + "90 00"}, {"80 20 60 00 02 00 02 00", Entry(0x0001, 0x3F3F, 0, 0) + "90 00"}},
         0x6281, 0},
        {"a refused enumeration", {{kEnum0, "67 01"}}, 0x6A82, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataStoreCard t;
        for (const auto& s : c.script) t.card.expect(s.first, s.second, 258);
        EXPECT_EQ(CodeOf([&] { t.fs()->select({0x3F00}); }), c.code);
        EXPECT_TRUE(t.card.done());
        EXPECT_EQ(t.impl().cache().size(), c.entries);
    }
}

TEST(FsDataStore, AFailedEnumerationLeavesNothingToDuplicate) {
    DataStoreCard t;
    t.card.expect(kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + "90 00", 258).expect("80 20 60 00 02 00 02 00", "6F 00", 258);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0x3F00}); }), 0x6400);
    EXPECT_TRUE(t.impl().cache().empty());
    t.card.expect(kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + "90 00", 258).expect("80 20 60 00 02 00 02 00", "90 00", 258);
    t.fs()->select({0x3F00});
    EXPECT_EQ(t.impl().cache().size(), 1u);
}

TEST(FsDataStore, WriteRewritesTheWholeRecordInPlace) {
    DataStoreCard t;
    t.expectSmallStore();
    t.fs()->select({0xE00E, 0xF001});
    EXPECT_EQ(t.fs()->info(), CFileInfo(1, 12, 0x01, 0x01));
    // Past the end: refused before anything is sent.
    EXPECT_EQ(CodeOf([&] { t.fs()->write(TBytes(10, 0xAA), 5); }), 0x6A84);
    EXPECT_EQ(t.card.pending(), 0u);

    const char kContent[] = "00 01 02 03 04 05 06 07 08 09 0A 0B";
    t.card.expect("80 20 30 00 06 00 03 00 00 00 0C 00", std::string(kContent) + " 90 00", 258)
        .expect("80 20 10 00 02 00 0C 00", "90 00", 2)
        .expect("80 20 40 00 10 00 00 00 0C 00 01 AA AA AA AA AA AA AA AA AA AA 00", "90 00", 2)
        .expect("80 20 50 00 03 00 00 03 00", "90 00", 256);
    t.fs()->write(TBytes(10, 0xAA), 2);
    EXPECT_TRUE(t.card.done());

    // The whole content from offset 0 needs no read-back; no data sends nothing.
    t.card.expect("80 20 10 00 02 00 0C 00", "90 00", 2)
        .expect(Concat(Hex("80 20 40 00 10 00 00 00 0C"), Concat(TBytes(12, 0x55), {0x00})), Hex("90 00"), 2)
        .expect("80 20 50 00 03 00 00 03 00", "90 00", 256);
    t.fs()->write(TBytes(12, 0x55), 0);
    t.fs()->write(TBytes(), 4);
    EXPECT_TRUE(t.card.done());
}

TEST(FsDataStore, NoRoomForACopyRecreatesTheRecordUnderANewHandle) {
    DataStoreCard t;
    t.expectSmallStore();
    t.fs()->select({0xE00E, 0xF001});
    const TBytes data(12, 0x11);
    const TBytes fill = Concat(Concat(Hex("80 20 40 00 10 00 00 00 0C"), data), {0x00});
    t.card.expect("80 20 10 00 02 00 0C 00", "6F 00", 2)
        .expect("80 20 20 00 02 00 03 00", "90 00", 258)
        .expect("80 20 10 00 02 00 0C 00", "90 00", 2)
        .expect(fill, Hex("90 00"), 2)
        .expect("80 20 50 00 04 01 01 02 F1 00", "00 09 90 00", 256);
    t.fs()->write(data, 0);
    EXPECT_TRUE(t.card.done());
    // The cache follows the new handle: a later select still reaches the record.
    t.fs()->select({0x3F00});
    t.fs()->select({0xE00E, 0xF001});
    t.card.expect("80 20 30 00 06 00 09 00 00 00 04 00", "11 11 11 11 90 00", 258);
    TBytes back(4);
    t.fs()->read(back, 0);
    EXPECT_EQ(back, TBytes(4, 0x11));
}

TEST(FsDataStore, AFallbackThatFailsAfterTheDeleteDropsTheFile) {
    DataStoreCard t;
    t.expectSmallStore();
    t.fs()->select({0xE00E, 0xF001});
    t.card.expect("80 20 10 00 02 00 0C 00", "6F 00", 2)
        .expect("80 20 20 00 02 00 03 00", "90 00", 258)
        .expect("80 20 10 00 02 00 0C 00", "6F 00", 2);
    EXPECT_EQ(CodeOf([&] { t.fs()->write(TBytes(12, 0x11), 0); }), 0x6400);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0xF001}); }), 0x6A82);
    t.fs()->select({0xE00E});
    EXPECT_TRUE(t.fs()->list(1).empty());
}

TEST(FsDataStore, ACommitAnswerWithoutAHandleIsRefused) {
    for (const char* answer : {"90 00", "07 90 00"}) {
        SCOPED_TRACE(answer);
        DataStoreCard t;
        t.expectSmallStore();
        t.fs()->select({0xE00E});
        t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2).expect("80 20 50 00 04 01 00 02 0B 00", answer, 256);
        EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0B00, CFileInfo(2, 0, 0, 1)); }), 0x6281);
        EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0x0B00}); }), 0x6A82);
    }
}

TEST(FsDataStore, RefusalsBeforeAnyCommand) {
    DataStoreCard t;
    t.expectSmallStore();
    t.fs()->select({0xE00E});
    struct Case {
        const char* name;
        path at;
        std::function<void()> call;
        unsigned short code;
    };
    IAppFS* fs = t.fs();
    CFSDataStore& impl = t.impl();
    const Case cases[] = {
        {"reserved 0000", {0xE00E}, [&] { fs->create(0x0000, CFileInfo(2, 0, 0, 1)); }, 0x6900},
        {"reserved 3FFF", {0xE00E}, [&] { fs->create(0x3FFF, CFileInfo(2, 0, 0, 1)); }, 0x6900},
        {"size above 4000", {0xE00E}, [&] { fs->create(0xF003, CFileInfo(1, 0x4001, 0, 1)); }, 0x6400},
        {"outside the key table", {0xE00E}, [&] { fs->create(0x001A, CFileInfo(2, 0, 0, 1)); }, 0x6B00},
        {"exists", {0xE00E}, [&] { fs->create(0xF001, CFileInfo(1, 0, 0, 1)); }, 0x6A89},
        {"create on a file", {0xE00E, 0xF001}, [&] { fs->create(0xF002, CFileInfo(2, 0, 0, 1)); }, 0x6283},
        {"list on a file", {0xE00E, 0xF001}, [&] { fs->list(1); }, 0x6283},
        {"list of kind 3", {0xE00E}, [&] { fs->list(3); }, 0xFACE},
        {"read past the end", {0xE00E, 0xF001}, [&] { TBytes b(4); impl.read_bit(b, 9); }, 0x6282},
        {"read a folder", {0xE00E}, [&] { TBytes b(1); impl.read_bit(b, 0); }, 0x6283},
        {"write piece past the end", {0xE00E, 0xF001}, [&] { impl.write_bit(TBytes(13), 0); }, 0x6A84},
        {"write a folder", {0xE00E}, [&] { fs->write(TBytes(1), 0); }, 0x6283},
        {"remove the root", {0x3F00}, [&] { fs->remove(); }, 0x6900},
        {"remove a folder with a file", {0xE00E}, [&] { fs->remove(); }, 0x6900},
        {"select a missing path", {0xE00E}, [&] { fs->select({0xE00E, 0xF002}); }, 0x6A82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs->select(c.at);
        EXPECT_EQ(CodeOf(c.call), c.code);
        EXPECT_EQ(t.card.sent.size(), 2u) << "a command went out";
    }
    // Empty pieces send nothing.
    fs->select({0xE00E, 0xF001});
    TBytes none;
    impl.read_bit(none, 12);
    impl.write_bit(TBytes(), 12);
    EXPECT_EQ(t.card.sent.size(), 2u);
    // Before any select nothing is a file to write.
    DataStoreCard fresh;
    EXPECT_EQ(CodeOf([&] { fresh.fs()->write(TBytes(1), 0); }), 0x6283);
    EXPECT_TRUE(fresh.card.sent.empty());
}

TEST(FsDataStore, ARemovedFolderIsNoLongerSelected) {
    DataStoreCard t;
    t.card.expect(kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + Entry(0x0002, 0x01EE, 0, 0) + "90 00", 258)
        .expect("80 20 60 00 02 00 03 00", "90 00", 258)
        .expect("80 20 20 00 02 00 02 00", "90 00", 258);
    t.fs()->select({0xE00E});
    t.fs()->remove();
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0B00, CFileInfo(2, 0, 0, 1)); }), 0x6283);
    EXPECT_EQ(CodeOf([&] { t.fs()->remove(); }), 0x6283);
    EXPECT_TRUE(t.card.done());
}

TEST(FsDataStore, NoChildUnderAFolderWithAWideHandle) {
    DataStoreCard t;
    // The root got handle 0200 from the card.
    t.card.expect(kEnum0, "90 00", 258)
        .expect("80 20 10 00 02 00 00 00", "90 00", 2)
        .expect("80 20 50 00 04 01 00 3F 3F 00", "02 00 90 00", 256);
    t.fs()->select({0x3F00});
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0xE00E, CFileInfo(2, 0, 0, 1)); }), 0x6400);
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0xE00E, CFileInfo(2, 0, 0, 1)); }), 0x6400);
}

TEST(FsDataStore, SwitchingLayoutsStartsAnEmptyCache) {
    DataStoreCard t;
    t.expectSmallStore();
    t.fs()->select({0x3F00});
    IAppFS* before = t.fs();
    t.applet.switchToFileSystem(0);
    t.applet.switchToFileSystem(3);
    EXPECT_EQ(t.fs(), before);
    t.applet.switchToFileSystem(1);
    ASSERT_NE(dynamic_cast<CFSDataStore*>(t.fs()), nullptr);
    EXPECT_TRUE(t.impl().cache().empty());
    t.applet.switchToFileSystem(2);
    EXPECT_EQ(dynamic_cast<CFSDataStore*>(t.fs()), nullptr);
    EXPECT_TRUE(t.card.done());
}

TEST(FsDataStore, APieceTooLongForTheLengthByteIsRefused) {
    DataStoreCard t;
    t.card.expect(kEnum0, Entry(0x0001, 0x3F3F, 0, 0) + Entry(0x0002, 0x01F3, 0, 0x0800) + "90 00", 258)
        .expect("80 20 60 00 02 00 03 00", "90 00", 258);
    t.fs()->select({0xF003});
    EXPECT_EQ(CodeOf([&] { t.impl().write_bit(TBytes(252), 0); }), 0x6B00);
    EXPECT_TRUE(t.card.done());
    t.card.expect(Concat(Concat(Hex("80 20 40 00 FF 00 00 00 FB"), TBytes(251, 0x33)), {0x00}), Hex("90 00"), 2);
    t.impl().write_bit(TBytes(251, 0x33), 0);
    EXPECT_TRUE(t.card.done());
}

}  // namespace
