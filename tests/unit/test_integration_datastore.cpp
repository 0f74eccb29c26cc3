// The DataStore and Wren applets through the token against the card simulator,
// reached the way libKeyShelfJx reaches a card: the key-container store on both
// DataStore layouts and on Wren, what the card keeps checked on its side, and
// the store read back by a new token over the same card.
#include <gtest/gtest.h>

#include <algorithm>

#include "raised.h"
#include "sim_family_card.h"
#include "sim_tokens.h"
#include "sim_wren.h"

using namespace libapdu;
using cardsim::CardSim;
using cardsim::SimDataStoreApplet;
using cardsim::SimDataStoreOptions;
using cardsim::SimTokenOptions;
using keyshelf_test::Ascii;
using keyshelf_test::TransportToSim;

namespace {

const unsigned short kDataStore = 0x2205, kWren = 0x1001;

TBytes Pattern(size_t n, unsigned seed) {
    TBytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed * 31 + i * 7);
    return b;
}

path FilePath(unsigned short dir, unsigned short file) { return {0xE00E, 0x0B00, dir, file}; }

// A token over a simulated card that outlives it, so a second token can read
// back what the first one stored.
struct Session {
    CardSim& card;
    std::unique_ptr<IToken> token;

    Session(CardSim& c, unsigned short applet, unsigned short layout = 1) : card(c) {
        std::unique_ptr<ISender> s(new TransportToSim(card));
        token = IToken::create(s);
        token->switchToApplet(applet);
        if (layout != 1) token->switchToFileSystem(layout);
    }

    void login(const char* pin = "1234") {
        IAppPin* p = token->pin();
        p->select(p->pathUser());
        p->login(Ascii(pin));
    }

    // What the token module does for storeFile.
    void store(unsigned short dir, unsigned short file, const TBytes& data, unsigned short initial, bool readProtected) {
        IAppFS* fs = token->fs();
        try {
            fs->select(FilePath(dir, file));
        } catch (const IException& e) {
            if (e.code() != 0x6A82) throw;
            const unsigned char u = static_cast<unsigned char>(token->pin()->pathUser().back());
            const path folder = {0xE00E, 0x0B00, dir};
            FileCreatePath(TokenToAdapter(token.get()), folder, CFileInfo(2, 0, 0, 0));
            fs->select(folder);
            const size_t size = std::max<size_t>(initial, data.size());
            fs->create(file, CFileInfo(1, static_cast<unsigned short>(size), readProtected ? u : 0, u));
            fs->select(FilePath(dir, file));
        }
        fs->write(data, 0);
    }

    TBytes read(unsigned short dir, unsigned short file, size_t n) {
        IAppFS* fs = token->fs();
        fs->select(FilePath(dir, file));
        TBytes out(n);
        fs->read(out, 0);
        return out;
    }

    CFileInfo info(unsigned short dir, unsigned short file) {
        token->fs()->select(FilePath(dir, file));
        return token->fs()->info();
    }

    std::vector<unsigned short> dirs() {
        token->fs()->select({0xE00E, 0x0B00});
        return token->fs()->list(2);
    }
};

SimDataStoreApplet* Model(CardSim& card) { return card.find<SimDataStoreApplet>(); }

// ---------------------------------------------------------------- DataStore, both layouts

struct Variant {
    const char* name;
    unsigned short layout;
    size_t statusRecord;
    bool platform;
};

class DataStoreStore : public ::testing::TestWithParam<Variant> {};

TEST_P(DataStoreStore, ContainerFilesStoredReadAndReadBackByANewToken) {
    const Variant& v = GetParam();
    SimDataStoreOptions d;
    d.statusRecord = v.statusRecord;
    d.platform = v.platform;
    d.keepPinOnPlatform = true;
    auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
    struct Row {
        unsigned short dir, file, initial;
        bool prot;
        size_t length;
    } rows[] = {
        {0x0001, 0xF001, 64, true, 10}, {0x0001, 0xF003, 2048, false, 700},
        {0x0001, 0xF007, 8, false, 8},  {0xCC00, 0xF002, 80, true, 81},
    };
    {
        Session s(*card, kDataStore, v.layout);
        s.login();
        for (const Row& r : rows) s.store(r.dir, r.file, Pattern(r.length, r.file), r.initial, r.prot);
        for (const Row& r : rows) {
            SCOPED_TRACE(r.file);
            const size_t size = std::max<size_t>(r.initial, r.length);
            EXPECT_EQ(s.info(r.dir, r.file), CFileInfo(1, static_cast<unsigned short>(size), r.prot ? 1 : 0, 1));
            EXPECT_EQ(s.read(r.dir, r.file, r.length), Pattern(r.length, r.file));
        }
        EXPECT_EQ(s.dirs(), (std::vector<unsigned short>{0x0001, 0xCC00}));
    }

    // What the card keeps: one record per folder and file, protected ones flagged.
    const auto& records = Model(*card)->records();
    size_t files = 0, flagged = 0;
    for (const auto& r : records) {
        if (r.second.data.size() == 0x0800 && r.second.objectId == 0x3333) continue;
        if (!r.second.data.empty()) ++files;
        if (r.second.flag) ++flagged;
        EXPECT_EQ(r.second.objectId == 0x4444, v.layout == 2) << std::hex << r.second.objectId;
    }
    EXPECT_EQ(files, 4u);
    EXPECT_EQ(flagged, 2u);
    if (v.layout == 2) {
        // Root, E00E, 0B00, two folders, four files.
        EXPECT_EQ(Model(*card)->directorySlots().size(), 9u);
    }

    card->powerOff();
    card->powerOn();
    Session again(*card, kDataStore, v.layout);
    again.login();
    for (const Row& r : rows) EXPECT_EQ(again.read(r.dir, r.file, r.length), Pattern(r.length, r.file)) << r.file;
    EXPECT_EQ(again.dirs(), (std::vector<unsigned short>{0x0001, 0xCC00}));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DataStoreStore,
                         ::testing::Values(Variant{"FirstLayout", 1, 30, false}, Variant{"FirstLayout34", 1, 34, false},
                                           Variant{"FirstLayoutPlatform", 1, 30, true},
                                           Variant{"SecondLayout", 2, 30, false},
                                           Variant{"SecondLayoutPlatform", 2, 34, true}),
                         [](const ::testing::TestParamInfo<Variant>& i) { return std::string(i.param.name); });

TEST(DataStoreOnCard, ProtectedRecordsNeedTheUserPin) {
    auto card = cardsim::MakeDataStoreToken();
    {
        Session s(*card, kDataStore);
        s.login();
        s.store(0x0001, 0xF001, Pattern(64, 1), 64, true);
        s.store(0x0001, 0xF003, Pattern(16, 3), 16, false);
    }
    card->powerOff();
    card->powerOn();
    Session s(*card, kDataStore);
    EXPECT_EQ(CodeOf([&] { s.read(0x0001, 0xF001, 4); }), 0x6900);
    EXPECT_EQ(s.read(0x0001, 0xF003, 16), Pattern(16, 3));
    s.login();
    EXPECT_EQ(s.read(0x0001, 0xF001, 64), Pattern(64, 1));
}

TEST(DataStoreOnCard, APinLostToThePlatformApplet) {
    // The platform applet's selection ends the verified state on this card: the
    // read-back of a protected file after its create is refused until the next login.
    SimDataStoreOptions d;
    d.platform = true;
    auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
    Session s(*card, kDataStore);
    s.login();
    EXPECT_EQ(CodeOf([&] { s.store(0x0001, 0xF001, Pattern(10, 1), 64, true); }), 0x6900);
    s.login();
    s.store(0x0001, 0xF001, Pattern(10, 1), 64, true);
    EXPECT_EQ(s.read(0x0001, 0xF001, 10), Pattern(10, 1));
}

struct HandleCase {
    const char* name;
    unsigned short layout;
    SimDataStoreApplet::Handles policy;
    uint16_t start;
    std::vector<uint16_t> list;
};

class DataStoreHandles : public ::testing::TestWithParam<HandleCase> {};

TEST_P(DataStoreHandles, TheStoreWorksWhateverHandlesTheCardChooses) {
    const HandleCase& c = GetParam();
    SimDataStoreOptions d;
    d.handles = c.policy;
    d.handleStart = c.start;
    d.handleList = c.list;
    d.pageSize = 3;  // several pages
    auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
    {
        Session s(*card, kDataStore, c.layout);
        s.login();
        s.store(0x0001, 0xF003, Pattern(30, 3), 30, false);
        s.store(0x0001, 0xF006, Pattern(40, 6), 40, false);
        s.token->fs()->select(FilePath(0x0001, 0xF003));
        s.token->fs()->remove();
        s.store(0x0001, 0xF007, Pattern(8, 7), 8, false);
        s.store(0xCC01, 0xF001, Pattern(64, 1), 64, true);
    }
    Session s(*card, kDataStore, c.layout);
    s.login();
    EXPECT_EQ(s.read(0x0001, 0xF006, 40), Pattern(40, 6));
    EXPECT_EQ(s.read(0x0001, 0xF007, 8), Pattern(8, 7));
    EXPECT_EQ(s.read(0xCC01, 0xF001, 64), Pattern(64, 1));
    EXPECT_EQ(CodeOf([&] { s.info(0x0001, 0xF003); }), 0x6A82);
    if (!c.list.empty() && c.list[5] == 0xFFFF) {
        // F006 holds the last handle of all, and the enumeration stopped there.
        EXPECT_EQ(Model(*card)->records().rbegin()->first, 0xFFFF);
    }
    if (c.policy == SimDataStoreApplet::Handles::kLowestFree) {
        // F003's handle went to F007.
        EXPECT_EQ(Model(*card)->records().size(), c.layout == 1 ? 8u : 9u);
        EXPECT_EQ(Model(*card)->records().rbegin()->first, c.layout == 1 ? 8 : 9);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, DataStoreHandles,
    ::testing::Values(HandleCase{"Sequential", 1, SimDataStoreApplet::Handles::kSequential, 1, {}},
                      HandleCase{"LowestFree", 1, SimDataStoreApplet::Handles::kLowestFree, 1, {}},
                      HandleCase{"LowestFreeV2", 2, SimDataStoreApplet::Handles::kLowestFree, 1, {}},
                      // A file of the first layout may have the last handle of all.
                      HandleCase{"ListWithFFFF", 1, SimDataStoreApplet::Handles::kList, 1,
                                 {0x0010, 0x0020, 0x0030, 0x0040, 0x0050, 0xFFFF, 0x0005, 0x0006}},
                      HandleCase{"FolderAfterItsFile", 1, SimDataStoreApplet::Handles::kList, 1,
                                 {0x0050, 0x0040, 0x0030, 0x0020, 0x0010, 0x0008, 0x0004, 0x0002}},
                      HandleCase{"FolderAfterItsFileV2", 2, SimDataStoreApplet::Handles::kList, 1,
                                 {0x01F0, 0x0100, 0x0040, 0x0030, 0x0020, 0x0010, 0x0008, 0x0004, 0x0002}}),
    [](const ::testing::TestParamInfo<HandleCase>& i) { return std::string(i.param.name); });

TEST(DataStoreOnCard, HandlesFrom0200AreRefusedWithoutLeavingRecords) {
    for (unsigned short layout : {1, 2}) {
        SCOPED_TRACE(layout);
        SimDataStoreOptions d;
        d.handleStart = 0x0200;
        auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
        Session s(*card, kDataStore, layout);
        s.login();
        EXPECT_EQ(CodeOf([&] { s.store(0x0001, 0xF003, Pattern(4, 3), 4, false); }), 0x6400);
        if (layout == 2) {
            // The root record got handle 0200: given back, nothing written into the directory.
            EXPECT_TRUE(Model(*card)->records().empty());
        } else {
            // The root exists, under a handle no child could name.
            ASSERT_EQ(Model(*card)->records().size(), 1u);
            EXPECT_EQ(Model(*card)->records().begin()->second.objectId, 0x3F3F);
        }
    }
}

TEST(DataStoreOnCard, AStoreWithoutRoomForACopyMovesTheFile) {
    // Room for one 3000-byte file, not for its copy; the second layout has room
    // for its directory object and that object's copy besides.
    for (unsigned short layout : {1, 2}) {
        SCOPED_TRACE(layout);
        SimDataStoreOptions d;
        d.capacity = 5500 + (layout == 2 ? 2048 : 0);
        auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
        auto handleOfFile = [&] {
            for (const auto& r : Model(*card)->records())
                if (r.second.data.size() == 3000) return r.first;
            return uint16_t(0);
        };
        uint16_t first = 0;
        {
            Session s(*card, kDataStore, layout);
            s.login();
            s.store(0x0001, 0xF003, Pattern(3000, 3), 3000, false);
            first = handleOfFile();
            s.store(0x0001, 0xF003, Pattern(3000, 4), 3000, false);
            EXPECT_NE(handleOfFile(), first);
            EXPECT_EQ(s.read(0x0001, 0xF003, 3000), Pattern(3000, 4));
            s.store(0x0001, 0xF003, Pattern(10, 5), 3000, false);  // read back, then moved again
        }
        EXPECT_EQ(Model(*card)->records().size(), layout == 1 ? 5u : 6u);
        Session s(*card, kDataStore, layout);
        TBytes want = Pattern(3000, 4);
        const TBytes head = Pattern(10, 5);
        std::copy(head.begin(), head.end(), want.begin());
        EXPECT_EQ(s.read(0x0001, 0xF003, 3000), want);
    }
}

TEST(DataStoreOnCard, ACardThatIgnoresTheEnumerationStartIsRefused) {
    SimDataStoreOptions d;
    d.pageSize = 2;
    auto card = cardsim::MakeDataStoreToken(SimTokenOptions(), d);
    {
        Session s(*card, kDataStore);
        s.login();
        s.store(0x0001, 0xF007, Pattern(8, 7), 8, false);
    }
    Model(*card)->setIgnoreEnumerationStart(true);
    Session s(*card, kDataStore);
    EXPECT_EQ(CodeOf([&] { s.read(0x0001, 0xF007, 8); }), 0x6281);
    EXPECT_EQ(CodeOf([&] { s.read(0x0001, 0xF007, 8); }), 0x6281);
    Model(*card)->setIgnoreEnumerationStart(false);
    EXPECT_EQ(s.read(0x0001, 0xF007, 8), Pattern(8, 7));
}

TEST(DataStoreOnCard, LabelAndInformation) {
    SimDataStoreOptions d;
    d.platform = true;
    d.platformAnswer = 58;
    SimTokenOptions o;
    o.serial = {1, 2, 3, 4, 5, 6, 7, 8};
    auto card = cardsim::MakeDataStoreToken(o, d);
    Session s(*card, kDataStore);
    IAppLabel* label = s.token->label();
    EXPECT_TRUE(label->read().empty());
    label->write(Ascii("Work token"));
    EXPECT_EQ(label->read(), Ascii("Work token"));
    EXPECT_EQ(Model(*card)->label(), Ascii("Work token"));
    // An empty label reaches the card as 80 30 20 00 02 once the transport drops the empty Lc.
    label->write(TBytes());
    EXPECT_EQ(testing_card::ToHex(card->log().back().command), "80 30 20 00 02");
    EXPECT_TRUE(label->read().empty());
    EXPECT_EQ(CodeOf([&] { label->write(TBytes(33, 'x')); }), 0x6B00);  // the card's own limit
    const size_t sent = card->commandCount();
    EXPECT_EQ(CodeOf([&] { label->write(TBytes(256, 'x')); }), 0x6B00);
    EXPECT_EQ(card->commandCount(), sent);

    IAppInfo* info = s.token->info();
    EXPECT_EQ(testing_card::ToHex(info->id(2)), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(info->memoryTotal(), 0x4000u);
    EXPECT_EQ(info->memoryFree(), 0x4000u);
    s.login();
    s.store(0x0001, 0xF003, Pattern(4, 3), 100, false);
    EXPECT_EQ(info->memoryFree(), 0x4000u - 100);
    // The platform applet was left again each time: the store still answers.
    EXPECT_EQ(s.read(0x0001, 0xF003, 4), Pattern(4, 3));
    EXPECT_EQ(card->selected()->name(), "datastore");
}

// ---------------------------------------------------------------- Wren

TEST(WrenOnCard, ContainerStoreThroughTheCardLibrary) {
    SimTokenOptions o;
    o.serial = {0xDE, 0xAD, 0xBE, 0xEF};
    auto card = cardsim::MakeWrenToken(o);
    {
        Session s(*card, kWren);
        s.token->selectApplet(kWren);  // the ATR is the Wren's: init accepts it
        s.login();
        s.store(0x0001, 0xF001, Pattern(10, 1), 64, true);
        s.store(0x0001, 0xF003, Pattern(300, 3), 2048, false);
        s.store(0x0002, 0xF007, Pattern(9, 7), 8, false);
        EXPECT_EQ(s.info(0x0001, 0xF001), CFileInfo(1, 64, 1, 1));
        EXPECT_EQ(s.info(0x0002, 0xF007), CFileInfo(1, 9, 0, 1));
        EXPECT_EQ(s.dirs(), (std::vector<unsigned short>{0x0001, 0x0002}));
        s.token->fs()->select({0xE00E, 0x0B00, 0x0001});
        EXPECT_EQ(s.token->fs()->list(1), (std::vector<unsigned short>{0xF001, 0xF003}));

        s.token->label()->write(Ascii("wren"));
        EXPECT_EQ(s.token->label()->read(), Ascii("wren"));
        IAppInfo* info = s.token->info();
        EXPECT_EQ(testing_card::ToHex(info->id(2)), "DE AD BE EF");
        EXPECT_EQ(info->memoryTotal(), 0x4000u);
        EXPECT_EQ(info->memoryFree(), 0x4000u - 64 - 2048 - 9 - 4);
        EXPECT_EQ(info->color(), 2u);
    }
    const cardsim::SimFile* f = card->find<cardsim::SimWrenApplet>()->tree().find({0x3F00, 0xE00E, 0x0B00, 0x0001, 0xF001});
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(cardsim::SimWrenApplet::Protected(*f));

    card->powerOff();
    card->powerOn();
    Session s(*card, kWren);
    EXPECT_EQ(CodeOf([&] { s.read(0x0001, 0xF001, 10); }), 0x6900);
    s.login();
    EXPECT_EQ(s.read(0x0001, 0xF001, 10), Pattern(10, 1));
    EXPECT_EQ(s.read(0x0001, 0xF003, 300), Pattern(300, 3));
    s.token->fs()->select(FilePath(0x0001, 0xF003));
    s.token->fs()->remove();
    s.token->fs()->select({0xE00E, 0x0B00, 0x0001});
    EXPECT_EQ(s.token->fs()->list(1), std::vector<unsigned short>{0xF001});
}

TEST(WrenOnCard, TheDataStoreProbeLeavesTheWrenAppletCurrent) {
    auto card = cardsim::MakeWrenToken();
    std::unique_ptr<ISender> sender(new TransportToSim(*card));
    std::unique_ptr<IToken> token = IToken::create(sender);
    EXPECT_FALSE(token->checkIfExist(kDataStore));
    EXPECT_TRUE(token->checkIfExist(kWren));
    token->switchToApplet(kWren);
    token->fs()->select({0x3F00});
    EXPECT_EQ(token->fs()->info().type, 2);
}

}  // namespace
