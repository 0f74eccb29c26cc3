// The second DataStore layout against a scripted card: the directory object
// (object 3333, 2048 bytes of 4-byte slots) read and written in 200-byte pieces,
// every file and folder a record 4444, and the tree rebuilt from the slots.
#include <gtest/gtest.h>

#include <cstdio>

#include "applet_datastore.h"
#include "appfs/fs_datastore_v2.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;
using testing_card::ToHex;

namespace {

const char kEnum0[] = "80 20 60 00 02 00 00 00";

std::string Entry(unsigned short h, unsigned short id, unsigned char flag, unsigned short size) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X %02X %02X %02X ", h >> 8, h & 0xFF, id >> 8, id & 0xFF, flag,
                  size >> 8, size & 0xFF);
    return buf;
}

TBytes Be(unsigned short v) { return {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)}; }

void PutSlot(TBytes& image, unsigned short i, unsigned short parent, unsigned short fid) {
    image[4 * i] = static_cast<unsigned char>(parent);
    image[4 * i + 1] = static_cast<unsigned char>(parent >> 8);
    image[4 * i + 2] = static_cast<unsigned char>(fid);
    image[4 * i + 3] = static_cast<unsigned char>(fid >> 8);
}

struct V2Card {
    ScriptedSender card;
    CAppletDataStore applet{&card};
    V2Card() { applet.switchToFileSystem(2); }
    IAppFS* fs() { return applet.fs(); }
    CFSDataStore_v2& impl() { return *static_cast<CFSDataStore_v2*>(applet.fs()); }

    // The directory object written whole: a new record of 0800, eleven pieces of
    // 200 bytes and one of 48, then the commit `commit` answered with `answer`.
    void expectDirectoryWrite(const TBytes& image, const std::string& commit, const std::string& answer) {
        card.expect("80 20 10 00 02 08 00 00", "90 00", 2);
        for (size_t at = 0; at < 2048; at += 200) {
            const size_t n = std::min<size_t>(200, 2048 - at);
            TBytes c = Concat(Hex("80 20 40 00"), {static_cast<unsigned char>(n + 4)});
            c = Concat(Concat(Concat(c, Be(static_cast<unsigned short>(at))), Be(static_cast<unsigned short>(n))),
                       TBytes(image.begin() + at, image.begin() + at + n));
            c.push_back(0x00);
            card.expect(c, Hex("90 00"), 258);
        }
        card.expect(commit, answer, 256);
    }
    // The directory object `dh` read in twelve pieces.
    void expectDirectoryRead(unsigned short dh, const TBytes& image) {
        for (size_t at = 0; at < 2048; at += 200) {
            const size_t n = std::min<size_t>(200, 2048 - at);
            const TBytes c = Concat(Concat(Concat(Concat(Hex("80 20 30 00 06"), Be(dh)), Be(static_cast<unsigned short>(at))),
                                           Be(static_cast<unsigned short>(n))),
                                    {0x00});
            card.expect(c, Concat(TBytes(image.begin() + at, image.begin() + at + n), {0x90, 0x00}), 258);
        }
    }
    // write's rewrite of F001 (handle 0003) when the card has no room for a copy:
    // delete, build anew and commit as new, answered with `commit`.
    void expectFallback(const TBytes& data, const std::string& commit) {
        card.expect("80 20 10 00 02 00 0C 00", "6F 00", 2)
            .expect("80 20 20 00 02 00 03 00", "90 00", 258)
            .expect("80 20 10 00 02 00 0C 00", "90 00", 2)
            .expect(Concat(Concat(Hex("80 20 40 00 10 00 00 00 0C"), data), {0x00}), Hex("90 00"), 2)
            .expect("80 20 50 00 04 01 01 44 44 00", commit, 256);
    }
    // Root 0001, E00E 0002 under it, F001 0003 (12 bytes) under E00E; directory 0009.
    TBytes expectSmallStore() {
        TBytes image(2048, 0);
        PutSlot(image, 1, 0x3F00, 0x3F00);
        PutSlot(image, 2, 0x0001, 0xE00E);
        PutSlot(image, 3, 0x0002, 0xF001);
        card.expect(kEnum0, Entry(1, 0x4444, 0, 0) + Entry(2, 0x4444, 0, 0) + Entry(3, 0x4444, 1, 12) +
                                Entry(9, 0x3333, 0, 0x0800) + "90 00", 258)
            .expect("80 20 60 00 02 00 0A 00", "90 00", 258);
        expectDirectoryRead(0x0009, image);
        return image;
    }
};

TEST(FsDataStoreV2, FirstCreateMakesRootDirectoryObjectAndRecordInOrder) {
    V2Card t;
    t.card.expect(kEnum0, "90 00", 258);
    t.fs()->select({0x3F00});
    EXPECT_TRUE(t.fs()->list(1).empty());
    EXPECT_TRUE(t.fs()->list(2).empty());

    TBytes image(2048, 0);
    PutSlot(image, 1, 0x3F00, 0x3F00);
    t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2).expect("80 20 50 00 04 01 00 44 44 00", "00 01 90 00", 256);
    t.expectDirectoryWrite(image, "80 20 50 00 04 01 00 33 33 00", "00 09 90 00");
    PutSlot(image, 2, 0x0001, 0xE00E);
    t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2).expect("80 20 50 00 04 01 00 44 44 00", "00 02 90 00", 256);
    t.expectDirectoryWrite(image, "80 20 50 00 03 00 00 09 00", "90 00");
    t.fs()->create(0xE00E, CFileInfo(2, 0, 0, 1));
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(t.card.sent.size(), 1u + 2 + 13 + 2 + 13);
    EXPECT_EQ(ToHex(TBytes(t.impl().image().begin() + 4, t.impl().image().begin() + 12)), "00 3F 00 3F 01 00 0E E0");
    EXPECT_EQ(t.impl().directoryHandle(), 0x0009);
    EXPECT_EQ(t.fs()->list(2), std::vector<unsigned short>{0xE00E});
}

TEST(FsDataStoreV2, StoreReadBackWhateverTheOrderOfItsSlots) {
    V2Card t;
    // F002 (slot 1) lies in folder 0001 (slot 5), which lies in the root (slot 7).
    TBytes image(2048, 0);
    PutSlot(image, 1, 0x0005, 0xF002);
    PutSlot(image, 5, 0x0007, 0x0001);
    PutSlot(image, 7, 0x3F00, 0x3F00);
    PutSlot(image, 8, 0x0007, 0x1234);  // no record 0008
    PutSlot(image, 10, 0x000B, 0x2222);  // 000A and 000B: a ring of folders
    PutSlot(image, 11, 0x000A, 0x3333);
    t.card.expect(kEnum0, Entry(1, 0x4444, 1, 80) + Entry(5, 0x4444, 0, 0) + Entry(7, 0x4444, 0, 0) +
                              Entry(10, 0x4444, 0, 0) + Entry(11, 0x4444, 0, 0) + Entry(0x20, 0x3333, 0, 0x0800) +
                              "90 00", 258)
        .expect("80 20 60 00 02 00 21 00", "90 00", 258);
    t.expectDirectoryRead(0x0020, image);
    t.fs()->select({0x3F00, 0x0001, 0xF002});
    EXPECT_EQ(t.fs()->info(), CFileInfo(1, 80, 1, 1));
    EXPECT_EQ(t.impl().cache().size(), 3u);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0x3F00, 0x1234}); }), 0x6A82);
}

TEST(FsDataStoreV2, DirectoryObjectsThatCannotBeRead) {
    struct Case {
        const char* name;
        std::string entries;
        unsigned short code;
    } cases[] = {
        {"size 0400", Entry(9, 0x3333, 0, 0x0400), 0x6281},
        {"a short piece", Entry(9, 0x3333, 0, 0x0800), 0x6281},
        {"no root slot", Entry(9, 0x3333, 0, 0x0800), 0x6A82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        V2Card t;
        t.card.expect(kEnum0, Entry(1, 0x4444, 0, 0) + c.entries + "90 00", 258)
            .expect("80 20 60 00 02 00 0A 00", "90 00", 258);
        const std::string name = c.name;
        if (name == "a short piece") {
            t.card.expect("80 20 30 00 06 00 09 00 00 00 C8 00", "00 00 90 00", 258);
        } else if (name == "no root slot") {
            TBytes image(2048, 0);
            PutSlot(image, 1, 0x0001, 0xE00E);
            t.expectDirectoryRead(0x0009, image);
        }
        EXPECT_EQ(CodeOf([&] { t.fs()->select({0x3F00}); }), c.code);
        EXPECT_TRUE(t.card.done());
        if (name == "no root slot") {
            EXPECT_TRUE(t.impl().cache().empty());
        }
    }
}

TEST(FsDataStoreV2, RemoveClearsTheSlotAndRewritesTheDirectory) {
    V2Card t;
    TBytes image = t.expectSmallStore();
    t.fs()->select({0xE00E, 0xF001});
    PutSlot(image, 3, 0, 0);
    t.card.expect("80 20 20 00 02 00 03 00", "90 00", 258);
    t.expectDirectoryWrite(image, "80 20 50 00 03 00 00 09 00", "90 00");
    t.fs()->remove();
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(t.impl().image(), image);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0xF001}); }), 0x6A82);
}

TEST(FsDataStoreV2, AHandleWithoutASlotIsGivenBack) {
    V2Card t;
    t.expectSmallStore();
    t.fs()->select({0xE00E});
    t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2)
        .expect("80 20 50 00 04 01 00 44 44 00", "02 00 90 00", 256)
        .expect("80 20 20 00 02 02 00 00", "90 00", 258);
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0B00, CFileInfo(2, 0, 0, 1)); }), 0x6400);
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0x0B00}); }), 0x6A82);
}

TEST(FsDataStoreV2, AFailedDirectoryWriteTakesTheNewRecordBack) {
    V2Card t;
    const TBytes image = t.expectSmallStore();
    t.fs()->select({0xE00E});
    t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2)
        .expect("80 20 50 00 04 01 00 44 44 00", "00 04 90 00", 256)
        .expect("80 20 10 00 02 08 00 00", "6F 00", 2)
        .expect("80 20 20 00 02 00 04 00", "90 00", 258);
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0B00, CFileInfo(2, 0, 0, 1)); }), 0x6400);
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(t.impl().image(), image);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0x0B00}); }), 0x6A82);
}

TEST(FsDataStoreV2, TheFallbackMovesTheSlotWithTheRecord) {
    V2Card t;
    TBytes image = t.expectSmallStore();
    t.fs()->select({0xE00E, 0xF001});
    const TBytes data(12, 0x22);
    t.expectFallback(data, "00 06 90 00");
    PutSlot(image, 3, 0, 0);
    PutSlot(image, 6, 0x0002, 0xF001);
    t.expectDirectoryWrite(image, "80 20 50 00 03 00 00 09 00", "90 00");
    t.fs()->write(data, 0);
    EXPECT_TRUE(t.card.done());
    t.fs()->select({0x3F00});
    t.fs()->select({0xE00E, 0xF001});
    t.card.expect("80 20 30 00 06 00 06 00 00 00 0C 00", "22 22 22 22 22 22 22 22 22 22 22 22 90 00", 258);
    TBytes back(12);
    t.fs()->read(back, 0);
    EXPECT_EQ(back, data);
}

TEST(FsDataStoreV2, AFallbackHandleWithoutASlotLosesOnlyThatFile) {
    V2Card t;
    TBytes image = t.expectSmallStore();
    t.fs()->select({0xE00E, 0xF001});
    const TBytes data(12, 0x22);
    t.expectFallback(data, "02 00 90 00");
    t.card.expect("80 20 20 00 02 02 00 00", "90 00", 258);
    PutSlot(image, 3, 0, 0);
    t.expectDirectoryWrite(image, "80 20 50 00 03 00 00 09 00", "90 00");
    EXPECT_EQ(CodeOf([&] { t.fs()->write(data, 0); }), 0x6400);
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(t.impl().image(), image);
    EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0xF001}); }), 0x6A82);
    t.fs()->select({0xE00E});
    EXPECT_TRUE(t.fs()->list(1).empty());
}

TEST(FsDataStoreV2, ACommitAnswerWithoutAHandleIsRefused) {
    for (const char* answer : {"90 00", "07 90 00"}) {
        SCOPED_TRACE(answer);
        V2Card t;
        const TBytes image = t.expectSmallStore();
        t.fs()->select({0xE00E});
        t.card.expect("80 20 10 00 02 00 00 00", "90 00", 2).expect("80 20 50 00 04 01 00 44 44 00", answer, 256);
        EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0B00, CFileInfo(2, 0, 0, 1)); }), 0x6281);
        EXPECT_TRUE(t.card.done());
        EXPECT_EQ(t.impl().image(), image);
        EXPECT_EQ(CodeOf([&] { t.fs()->select({0xE00E, 0x0B00}); }), 0x6A82);
    }
}

TEST(FsDataStoreV2, WritesNeedAFileAndARemovedOneIsNoLongerSelected) {
    V2Card t;
    TBytes image = t.expectSmallStore();
    t.fs()->select({0xE00E});
    EXPECT_EQ(CodeOf([&] { t.fs()->write(TBytes(1, 0x11), 0); }), 0x6283);
    t.fs()->select({0xE00E, 0xF001});
    const size_t before = t.card.sent.size();
    t.fs()->write(TBytes(), 0);  // nothing to write: nothing sent
    EXPECT_EQ(t.card.sent.size(), before);

    PutSlot(image, 3, 0, 0);
    t.card.expect("80 20 20 00 02 00 03 00", "90 00", 258);
    t.expectDirectoryWrite(image, "80 20 50 00 03 00 00 09 00", "90 00");
    t.fs()->remove();
    EXPECT_TRUE(t.card.done());
    const size_t removed = t.card.sent.size();
    EXPECT_EQ(CodeOf([&] { t.fs()->write(TBytes(1, 0x11), 0); }), 0x6283);
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0B00, CFileInfo(2, 0, 0, 1)); }), 0x6283);
    EXPECT_EQ(CodeOf([&] { t.fs()->remove(); }), 0x6283);
    EXPECT_EQ(t.card.sent.size(), removed);
}

}  // namespace
