// The Tessel file system against a scripted card: the command bytes of its select,
// create, list, remove and transfer commands, the container of named
// directories, and the access lists rewritten to the token's login type.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "applet_tessel.h"
#include "appfs/fs_tessel.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kSelectContainer[] = "80 A4 08 0C 08 3F 00 30 00 30 02 50 00 00";
const char kDirectoryFcp[] = "62 03 87 01 38 90 00";

class FsTessel : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(card.pending(), 0u) << "scripted commands left unsent"; }
    CFSTessel& tessel() { return *static_cast<CFSTessel*>(fs); }
    // Selects E00E/0B00, found by name as the container's directory 0001.
    void selectLogicalDirectory(const char* fcp) {
        card.expect(kSelectContainer, kDirectoryFcp);
        card.expect("80 A4 04 0C 10 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 01 90 00");
        card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 01 00", fcp);
        fs->select({0xE00E, 0x0B00});
    }

    ScriptedSender card;
    CAppletTessel applet{&card};
    IAppFS* fs = applet.fs();
};

TEST_F(FsTessel, RelativePathsAreLogicalDirectoriesOfTheContainer) {
    card.expect(kSelectContainer, kDirectoryFcp, 258);
    card.expect("80 A4 04 0C 10 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 05 90 00", 258);
    card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 05 00",
                "62 19 83 02 00 05 87 01 38 84 10 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 90 00");
    fs->select({0xE00E, 0x0B00});
    EXPECT_EQ(tessel().logicalPath(), (path{0x3F00, 0x3000, 0x3002, 0x5000, 0xE00E, 0x0B00}));
    EXPECT_EQ(tessel().realPath(), (path{0x3F00, 0x3000, 0x3002, 0x5000, 0x0005}));
    EXPECT_EQ(tessel().namedPath(), tessel().logicalPath());
    EXPECT_EQ(fs->info().type, 2);
}

TEST_F(FsTessel, PathsFromTheRootOutsideTheContainerAreSelectedAsTheyStand) {
    card.expect("80 A4 08 0C 06 3F 00 E0 0E 0B 00 00",
                "62 15 83 02 0B 00 87 01 01 80 02 01 00 86 08 00 24 00 10 00 10 00 10 90 00");
    fs->select({0x3F00, 0xE00E, 0x0B00});
    EXPECT_EQ(fs->info(), CFileInfo(1, 0x0100, 0x24, 0x10));
    EXPECT_EQ(tessel().accessList(), Hex("00 24 00 10 00 10 00 10"));
}

TEST_F(FsTessel, AFileInALogicalDirectoryIsFoundThroughItsParentsName) {
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 0E E0 00 0B 1A 00 03 F0 00 00 00 00 00 00 00 00 00", "6A 82");
    card.expect("80 A4 04 0C 10 0E E0 00 0B 1A 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 02 90 00");
    card.expect("80 A4 08 0C 0C 3F 00 30 00 30 02 50 00 00 02 F0 03 00", "62 07 87 01 01 80 02 08 00 90 00");
    fs->select({0xE00E, 0x0B00, 0x001A, 0xF003});
    EXPECT_EQ(fs->info().size, 0x0800);
    EXPECT_EQ(tessel().realPath(), (path{0x3F00, 0x3000, 0x3002, 0x5000, 0x0002, 0xF003}));

    // A missing file, and a logical path with no parent name, end as "not found".
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 77 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "6A 82");
    EXPECT_EQ(CodeOf([&] { fs->select({0x0077}); }), 0x6A82);
}

TEST_F(FsTessel, AContainerThatIsMissingIsCreatedOnFirstUse) {
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 02", "62 04 86 02 00 24 90 00");  // designator read
    card.expect(kSelectContainer, "6A 82");
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 02 00", kDirectoryFcp);
    card.expect("00 E0 38 00 1C 62 81 19 8A 01 04 83 02 50 00 80 02 00 00 86 0C 00 24 00 24 00 24 00 24 00 24 00 24",
                "90 00", 2);
    card.expect(kSelectContainer, kDirectoryFcp);
    applet.pin()->pathUser();
    fs->select({});
}

TEST_F(FsTessel, AccessListsAreRewrittenToTheLoginType) {
    struct Case {
        unsigned char loginType;
        const char* list;
        const char* writeBack;  // null: nothing written back
    };
    const Case cases[] = {
        {0x23, "00 20 00 FF 00 20", "80 E8 00 00 0A 62 08 86 06 00 23 00 FF 00 23"},
        {0x00, "00 20 00 FF 00 20", nullptr},
        {0x24, "00 24 00 24", nullptr},
        {0x25, "20 00 24 20", "80 E8 00 00 08 62 06 86 04 20 00 24 25"},  // odd positions only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        tessel().setLoginType(c.loginType);
        const TBytes list = Hex(c.list);
        card.expect(Hex("80 A4 08 0C 04 3F 00 00 07 00"),
                    Concat(Concat(Hex("62"), TBytes{static_cast<unsigned char>(list.size() + 5)}),
                           Concat(Concat(Hex("87 01 01 86"), TBytes{static_cast<unsigned char>(list.size())}),
                                  Concat(list, Hex("90 00")))));
        if (c.writeBack) card.expect(c.writeBack, "90 00", 2);
        fs->select({0x3F00, 0x0007});
        // The description keeps what the card reported.
        EXPECT_EQ(tessel().accessList(), list);
    }
    // A refused write-back is no failure of the select.
    tessel().setLoginType(0x23);
    card.expect("80 A4 08 0C 04 3F 00 00 07 00", "62 0B 87 01 01 86 06 00 20 00 20 00 20 90 00");
    card.expect("80 E8 00 00 0A 62 08 86 06 00 23 00 23 00 23", "69 82");
    fs->select({0x3F00, 0x0007});
}

TEST_F(FsTessel, ADirectoryHasNoSizeAndFcpsWithoutElementsKeepTheirFields) {
    card.expect("80 A4 08 0C 04 3F 00 30 00 00", "62 0B 87 01 38 80 02 04 00 86 02 00 10 90 00");
    fs->select({0x3F00, 0x3000});
    EXPECT_EQ(fs->info(), CFileInfo(2, 0, 0x00, 0x10));
    // Without 87 the type stays, without 80 the size, without 86 the access bytes.
    card.expect("80 A4 08 0C 04 3F 00 30 01 00", "62 04 83 02 30 01 90 00");
    fs->select({0x3F00, 0x3001});
    EXPECT_EQ(fs->info(), CFileInfo(2, 0, 0x00, 0x10));
    card.expect("80 A4 00 0C 02 C0 00 00", "62 0D 87 01 01 80 02 00 80 86 04 00 11 00 12 90 00");
    fs->selectByFID(0xC000);
    EXPECT_EQ(fs->info(), CFileInfo(1, 0x80, 0x11, 0x12));
    // An answer that is no template leaves the description as it was.
    card.expect("80 A4 08 0C 04 3F 00 30 02 00", "90 00");
    fs->select({0x3F00, 0x3002});
    EXPECT_EQ(fs->info(), CFileInfo(1, 0x80, 0x11, 0x12));
}

TEST_F(FsTessel, KeyAndCertificateFilesGetTheirNames) {
    struct Case {
        const char* dir;
        unsigned short fid;
        const char* name;  // empty: no name
    };
    const Case cases[] = {
        {"3F 00 30 00 30 02", 0x0205, "kxs5"},  {"3F 00 30 00 30 02", 0x021A, "kxs1a"},
        {"3F 00 30 00 30 02", 0x0225, "kss5"},  {"3F 00 30 00 30 02", 0x0220, "kss0"},
        {"3F 00 30 00 30 02", 0x021E, ""},      {"3F 00 30 00 30 02", 0x0305, ""},
        {"3F 00 30 00 30 01", 0x8401, "kxc01"}, {"3F 00 30 00 30 01", 0x8421, "ksc01"},
        {"3F 00 30 00 30 01", 0x843D, "ksc1d"}, {"3F 00 30 00 30 01", 0x0205, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        card.expect(std::string("80 A4 08 0C 06 ") + c.dir + " 00", kDirectoryFcp);
        TBytes want = Hex("00 E0 01 00 18 62 81 15 8A 01 04 83 02");
        want.push_back(static_cast<unsigned char>(c.fid >> 8));
        want.push_back(static_cast<unsigned char>(c.fid));
        want = Concat(want, Hex("80 02 00 64 86 08 00 11 00 22 00 22 00 22"));
        const std::string name = c.name;
        if (!name.empty()) {
            want.push_back(0x84);
            want.push_back(static_cast<unsigned char>(name.size()));
            want.insert(want.end(), name.begin(), name.end());
            want[4] = static_cast<unsigned char>(want.size() - 5);
            want[7] = static_cast<unsigned char>(want.size() - 8);
        }
        card.expect(want, Hex("90 00"), 2);
        TBytes p = Hex(c.dir);
        fs->select({static_cast<unsigned short>(p[0] << 8 | p[1]), static_cast<unsigned short>(p[2] << 8 | p[3]),
                    static_cast<unsigned short>(p[4] << 8 | p[5])});
        fs->create(c.fid, CFileInfo(1, 0x64, 0x11, 0x22));
    }
    ASSERT_GE(card.sent.size(), 2u);
    EXPECT_EQ(card.sent[1], Hex("00 E0 01 00 1E 62 81 1B 8A 01 04 83 02 02 05 80 02 00 64 86 08 00 11 00 22 00 22 00 22 "
                                "84 04 6B 78 73 35"));
}

TEST_F(FsTessel, ThirdKindFilesCarryTheUserPinAndLandInTheirDirectory) {
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 01 00", kDirectoryFcp);
    fs->select({0x3F00, 0x3000, 0x3001});
    // The designator's read selects 3F00/3000/3002, so the directory is selected again.
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 02", "62 04 86 02 00 24 90 00");
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 01 00", kDirectoryFcp);
    card.expect("00 E0 08 00 26 62 24 8A 01 04 83 02 01 01 80 02 01 00 86 0E 00 00 00 FF 00 FF 00 24 00 24 00 00 00 24 "
                "85 05 05 0C 20 00 A3 71 00",
                "90 00", 2);
    fs->create(0x0101, CFileInfo(4, 0x100, 0, 0));
    // Once the designator is known, nothing is selected again.
    card.expect("00 E0 08 00 26 62 24 8A 01 04 83 02 01 02 80 02 01 00 86 0E 00 00 00 FF 00 FF 00 24 00 24 00 00 00 24 "
                "85 05 05 0C 20 00 A3 71 00",
                "90 00", 2);
    fs->create(0x0102, CFileInfo(4, 0x100, 0, 0));
}

// Wherever the directory was selected from, the third kind of file lands in it;
// a directory whose place on the card is not known is refused before anything moves.
TEST(FsTesselThirdKind, TheDirectoryIsSelectedAgainWhereverItWasSelectedFrom) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> selection;  // command, answer
        std::function<void(IAppFS*)> select;
        const char* selectAgain;
    };
    const Case cases[] = {
        {"by name: the named directory's real path",
         {{kSelectContainer, kDirectoryFcp},
          {"80 A4 04 0C 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 09 90 00"}},
         [](IAppFS* f) { f->selectByName({0xE00E}); },
         "80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 09 00"},
        {"by identifier below a directory selected by path",
         {{"80 A4 08 0C 04 3F 00 30 00 00", kDirectoryFcp}, {"80 A4 00 0C 02 30 01 00", kDirectoryFcp}},
         [](IAppFS* f) {
             f->select({0x3F00, 0x3000});
             f->selectByFID(0x3001);
         },
         "80 A4 08 0C 06 3F 00 30 00 30 01 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSender card;
        CAppletTessel applet{&card};
        for (const auto& step : c.selection) card.expect(step.first, step.second);
        c.select(applet.fs());
        card.expect("80 A4 08 0C 06 3F 00 30 00 30 02", "62 04 86 02 00 24 90 00");
        card.expect(c.selectAgain, kDirectoryFcp);
        card.expect("00 E0 08 00 26 62 24 8A 01 04 83 02 01 01 80 02 01 00 86 0E 00 00 00 FF 00 FF 00 24 00 24 00 00 00 24 "
                    "85 05 05 0C 20 00 A3 71 00",
                    "90 00", 2);
        applet.fs()->create(0x0101, CFileInfo(4, 0x100, 0, 0));
        EXPECT_EQ(card.pending(), 0u);
    }
    {
        // Nothing selected yet: no place to come back to.
        ScriptedSender card;
        CAppletTessel applet{&card};
        EXPECT_EQ(CodeOf([&] { static_cast<CFSTessel*>(applet.fs())->createSimple(0x0101, CFileInfo(4, 0x100, 0, 0)); }),
                  0x6900);
        EXPECT_EQ(card.pending(), 0u);
    }
}

TEST_F(FsTessel, CreateRefusesBeforeSending) {
    card.expect("80 A4 08 0C 04 3F 00 30 00 00", kDirectoryFcp);
    fs->select({0x3F00, 0x3000});
    EXPECT_EQ(CodeOf([&] { fs->create(0x3F00, CFileInfo(1, 4, 0, 0)); }), 0x6900);
    EXPECT_EQ(CodeOf([&] { fs->create(0xFFFF, CFileInfo(1, 4, 0, 0)); }), 0x6900);
    EXPECT_EQ(CodeOf([&] { fs->create(0x0001, CFileInfo(1, 0x8000, 0, 0)); }), 0x6400);
    EXPECT_EQ(CodeOf([&] { fs->create(0x0001, CFileInfo(3, 4, 0, 0)); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { fs->resize(0x7FFF); }), 0x6400);
    EXPECT_EQ(card.sent.size(), 1u);
    // A directory the card refuses for its data is a full card.
    card.expect("00 E0 38 00 1C 62 81 19 8A 01 04 83 02 00 09 80 02 00 00 86 0C 00 10 00 10 00 10 00 10 00 10 00 10",
                "6A 80");
    EXPECT_EQ(CodeOf([&] { fs->create(0x0009, CFileInfo(2, 0, 0, 0x10)); }), 0x6400);
}

TEST_F(FsTessel, LogicalDirectoriesTakeTheFirstFreeIdentifier) {
    card.expect(kSelectContainer, kDirectoryFcp);
    fs->select({});
    // The new directory must not exist yet.
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "6A 82");
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 30 38 00 00", "D2 02 00 01 D2 02 00 02 90 00");
    card.expect("00 E0 38 00 2E 62 81 2B 8A 01 04 83 02 00 03 80 02 00 00 84 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 "
                "00 00 00 86 0C 00 24 00 24 00 24 00 24 00 11 00 FF",
                "90 00", 2);
    fs->create(0xE00E, CFileInfo(2, 0, 0x11, 0x24));

    // One that exists already, and a container with no free identifier.
    card.expect(kSelectContainer, kDirectoryFcp);
    fs->select({});
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 03 90 00");
    card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 03 00", kDirectoryFcp);
    EXPECT_EQ(CodeOf([&] { fs->create(0xE00E, CFileInfo(2, 0, 0, 0)); }), 0x6A89);

    std::string all;
    for (int i = 1; i <= 0xFF; ++i) {
        char e[16];
        std::snprintf(e, sizeof e, "D2 02 00 %02X ", i);
        all += e;
    }
    card.expect(kSelectContainer, kDirectoryFcp);
    fs->select({});
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 0F E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "6A 82");
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 30 38 00 00", all + "90 00");
    EXPECT_EQ(CodeOf([&] { fs->create(0xE00F, CFileInfo(2, 0, 0, 0)); }), 0x6400);
}

TEST_F(FsTessel, ListsReadTheEntriesUntilOneIsShort) {
    card.expect("80 A4 08 0C 04 3F 00 30 00 00", kDirectoryFcp);
    fs->select({0x3F00, 0x3000});
    card.expect("80 30 01 00 00", "D2 02 C0 00 D2 03 30 01 FF D2 01 00 D2 02 00 07 90 00");
    EXPECT_EQ(fs->list(1), (std::vector<unsigned short>{0xC000, 0x3001}));
    // A malformed element ends the list with what was read.
    card.expect("80 30 38 00 00", "D2 02 30 01 D2 05 30 02 90 00");
    EXPECT_EQ(fs->list(2), (std::vector<unsigned short>{0x3001}));
    EXPECT_EQ(CodeOf([&] { fs->list(4); }), 0xFACE);
    card.expect("80 30 01 00 00", "6A 82");
    EXPECT_EQ(CodeOf([&] { fs->list(1); }), 0x6A82);

    card.expect("80 A4 08 0C 04 3F 00 30 03 00", "62 03 87 01 01 90 00");
    fs->select({0x3F00, 0x3003});
    EXPECT_EQ(CodeOf([&] { fs->list(1); }), 0x6283);
}

TEST_F(FsTessel, LogicalListingsNameTheChildrenOfTheLogicalPath) {
    selectLogicalDirectory(kDirectoryFcp);
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 30 38 00 00",
                "D2 12 00 01 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 "  // the directory itself
                "D2 12 00 02 0E E0 00 0B 1A 00 00 00 00 00 00 00 00 00 00 00 "  // a child
                "D2 05 00 03 0E E0 00 "                                      // no whole name: skipped
                "D2 12 00 04 0E E0 00 0B 1A 00 0C 00 00 00 00 00 00 00 00 00 "  // a grandchild
                "D2 12 00 05 0E E0 00 0B 2B 00 00 00 00 00 00 00 00 00 00 00 90 00");
    EXPECT_EQ(fs->list(2), (std::vector<unsigned short>{0x001A, 0x002B}));
}

TEST_F(FsTessel, RemoveJudgesEachDirectoryByItsOwnName) {
    // E00E/0B00 found as a real directory 0B00 inside the directory named E00E.
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 00", "6A 82");
    card.expect("80 A4 04 0C 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 07 90 00");
    card.expect("80 A4 08 0C 0C 3F 00 30 00 30 02 50 00 00 07 0B 00 00", kDirectoryFcp);
    fs->select({0xE00E, 0x0B00});

    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 30 38 00 00", "D2 12 00 01 0E E0 00 0B 1A 00 00 00 00 00 00 00 00 00 00 00 D2 02 00 02 90 00");
    card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 01 00",
                "62 15 87 01 38 84 10 0E E0 00 0B 1A 00 00 00 00 00 00 00 00 00 00 00 90 00");
    card.expect("00 E4 01 00", "90 00", 2);
    // A nameless directory stands for the container, not for the name seen before.
    card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 02 00", kDirectoryFcp);
    fs->remove();
}

// A logical listing leaves the card on the container; the directory is selected
// again before a create or a delete, or the file would land in the container and
// the delete would take the container and every directory in it.
TEST_F(FsTessel, AfterALogicalListingCreateAndRemoveActOnTheDirectoryNotTheContainer) {
    const char kNamedFcp[] = "62 15 87 01 38 84 10 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 90 00";
    selectLogicalDirectory(kNamedFcp);
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 30 38 00 00",
                "D2 12 00 02 0E E0 00 0B 1A 00 00 00 00 00 00 00 00 00 00 00 "
                "D2 12 00 01 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 90 00");
    EXPECT_EQ(fs->list(2), (std::vector<unsigned short>{0x001A}));

    // A file made there lands in the directory, not in the container.
    card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 01 00", kNamedFcp);
    card.expect("00 E0 01 00 18 62 81 15 8A 01 04 83 02 00 07 80 02 00 10 86 08 00 00 00 02 00 02 00 02", "90 00", 2);
    fs->create(0x0007, CFileInfo(1, 0x10, 0, 2));
    // Once the card is back on the directory, nothing is selected again.
    card.expect("00 E0 01 00 18 62 81 15 8A 01 04 83 02 00 08 80 02 00 10 86 08 00 00 00 02 00 02 00 02", "90 00", 2);
    fs->create(0x0008, CFileInfo(1, 0x10, 0, 2));

    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 30 38 00 00", "D2 12 00 01 0E E0 00 0B 00 00 00 00 00 00 00 00 00 00 00 00 90 00");
    EXPECT_TRUE(fs->list(2).empty());
    card.expect("80 A4 08 0C 0A 3F 00 30 00 30 02 50 00 00 01 00", kNamedFcp);
    card.expect("00 E4 01 00", "90 00", 2);
    fs->remove();
}

TEST_F(FsTessel, RemoveDeletesFilesAndRealDirectoriesAsTheyStand) {
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 01 00", kDirectoryFcp);
    fs->select({0x3F00, 0x3000, 0x3001});
    card.expect("00 E4 01 00", "90 00", 2);
    fs->remove();
    card.expect("80 A4 08 0C 04 3F 00 30 05 00", "62 03 87 01 01 90 00");
    fs->select({0x3F00, 0x3005});
    card.expect("00 E4 00 00", "90 00", 2);
    fs->remove();

    // A file of the third kind inside a logical directory is deleted itself,
    // not taken for a logical directory of that name (which would delete nothing).
    card.expect(kSelectContainer, kDirectoryFcp);
    card.expect("80 A4 04 0C 10 0E E0 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "6A 82");
    card.expect("80 A4 04 0C 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 02 90 00");
    card.expect("80 A4 08 0C 0C 3F 00 30 00 30 02 50 00 00 02 00 01 00", "62 07 87 01 08 80 02 01 00 90 00");
    fs->select({0xE00E, 0x0001});
    EXPECT_EQ(fs->info().type, 4);
    card.expect("00 E4 00 00", "90 00", 2);
    fs->remove();
}

TEST_F(FsTessel, TransfersStayInsideTheFile) {
    card.expect("80 A4 08 0C 04 3F 00 00 08 00", "62 07 87 01 01 80 02 00 08 90 00");
    fs->select({0x3F00, 0x0008});
    TBytes ten(10);
    EXPECT_EQ(CodeOf([&] { fs->read(ten, 0); }), 0x6282);
    EXPECT_EQ(CodeOf([&] { fs->write(ten, 0); }), 0x6A84);
    card.expect("00 B0 00 02 04", "01 02 03 04 90 00", 6);
    TBytes four(4);
    fs->read(four, 2);
    EXPECT_EQ(four, Hex("01 02 03 04"));
    card.expect("00 B0 00 00 04", "01 02 03 90 00");
    EXPECT_EQ(CodeOf([&] { fs->read(four, 0); }), 0x6282);
    card.expect("00 D6 00 04 04 01 02 03 04", "90 00", 2);
    fs->write(Hex("01 02 03 04"), 4);
    card.expect("80 32 00 01 04 00 20 00 00", "90 00", 2);
    fs->resize(0x20);
    EXPECT_EQ(fs->info().size, 8);  // the description is not changed
}

TEST_F(FsTessel, OverlongPathsAndNamesAreRefusedBeforeSending) {
    EXPECT_EQ(CodeOf([&] { fs->select(path(124, 0x0001)); }), 0x6B00);  // 128 with the container
    EXPECT_EQ(CodeOf([&] { fs->select(path(128, 0x3F00)); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { fs->selectByName(path(9, 0x0001)); }), 0x6A82);
    EXPECT_EQ(CodeOf([&] { tessel().selectName(path(9, 0x0001)); }), 0x6A82);
    EXPECT_TRUE(card.sent.empty());
    card.expect("80 A4 04 0C 10 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "90 00");
    EXPECT_EQ(CodeOf([&] { tessel().selectName({0x0001}); }), 0x6281);
}

TEST_F(FsTessel, SelectByNameKeepsTheContainersDescription) {
    card.expect(kSelectContainer, "62 07 87 01 38 86 02 00 33 90 00");
    card.expect("80 A4 04 0C 10 0E E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "62 04 83 02 00 09 90 00");
    fs->selectByName({0xE00E});
    EXPECT_EQ(tessel().realPath(), (path{0x3F00, 0x3000, 0x3002, 0x5000, 0x0009}));
    EXPECT_EQ(tessel().namedPath(), (path{0x3F00, 0x3000, 0x3002, 0x5000, 0xE00E}));
    EXPECT_EQ(fs->info(), CFileInfo(2, 0, 0, 0x33));
}

}  // namespace
