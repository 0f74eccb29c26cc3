// The Java and Heron facets driven through the token against the card
// simulator: applet probing, the file system, the key-container layout, token
// information, JavaManager data and labels. What the card stored is checked on
// the simulator's side, not only by reading it back through the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>

#include "APDUTokenModule.h"
#include "sim_token_fixture.h"
#include "test_applet.h"

using libapdu::CFileInfo;
using libapdu::IException;
using libapdu::IToken;
using libapdu::TBytes;
using libapdu::path;
using sim_token::Cmd;
using sim_token::Family;
using sim_token::OpenSimToken;
using sim_token::Pattern;
using sim_token::SimToken;
using testing_card::Hex;
using testing_card::RaisedCode;

namespace {

const path kAppFolder = {0x3F00, 0x6666, 0x5000};

cardsim::FidPath Under(const path& base, std::initializer_list<unsigned short> rest) {
    cardsim::FidPath p(base.begin(), base.end());
    p.insert(p.end(), rest.begin(), rest.end());
    return p;
}

// The token module's probe: every applet in its fixed order, absent ones skipped.
std::vector<unsigned short> ProbeLikeTheModule(IToken& token) {
    static const unsigned short kOrder[] = {0x2205, 0x1002, 0x2001, 0x2204, 0x2101, 0x2202, 0x2206};
    std::vector<unsigned short> found;
    for (unsigned short id : kOrder) {
        try {
            token.switchToApplet(id);
            found.push_back(id);
        } catch (const IException&) {
            // absent: the probe goes on
        }
    }
    return found;
}

std::unique_ptr<IToken> TokenOver(std::unique_ptr<cardsim::CardSim> card, cardsim::CardSim*& raw) {
    raw = card.get();
    std::unique_ptr<libapdu::ISender> sender(std::move(card));
    return IToken::create(sender);
}

}  // namespace

// ---------------------------------------------------------------- probing and switching

TEST(IntegrationProbe, CheckIfExistAnswersForTheAppletsTheCardHolds) {
    struct Case {
        bool javaCard;
        unsigned short id;
        bool present;
    } cases[] = {
        {true, 0x2001, true},   {true, 0x2002, true},   {true, 0x2204, false},
        {false, 0x2001, false}, {false, 0x2002, false}, {false, 0x2204, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.javaCard ? "Java card, applet " : "Heron card, applet ") + std::to_string(c.id));
        cardsim::CardSim* card = nullptr;
        auto token = TokenOver(c.javaCard ? cardsim::MakeJavaToken() : cardsim::MakeHeronToken(), card);
        EXPECT_EQ(token->checkIfExist(c.id), c.present);
        if (c.present) {
            EXPECT_NO_THROW(token->switchToApplet(c.id));
        } else {
            EXPECT_EQ(RaisedCode([&] { token->switchToApplet(c.id); }), 0x6A82);
        }
    }
}

TEST(IntegrationProbe, ModuleProbeOrderFindsTheFamilyAndTheTokenWorksAfterwards) {
    for (bool javaCard : {true, false}) {
        SCOPED_TRACE(javaCard ? "Java card" : "Heron card");
        cardsim::CardSim* card = nullptr;
        auto token = TokenOver(javaCard ? cardsim::MakeJavaToken() : cardsim::MakeHeronToken(), card);
        const std::vector<unsigned short> found = ProbeLikeTheModule(*token);
        ASSERT_EQ(found, std::vector<unsigned short>{static_cast<unsigned short>(javaCard ? 0x2001 : 0x2204)});

        // The last probes left another applet object current; switching back makes
        // the family's file system usable, as after the module's final switch.
        token->switchToApplet(found.front());
        token->fs()->select(path{});
        EXPECT_EQ(token->fs()->info().type, 2);
        EXPECT_EQ(card->selected()->name(), javaCard ? "java" : "heron");
    }
}

TEST(IntegrationProbe, JavaSelectRepeatsOnceWithTheLengthTheCardAsksFor) {
    cardsim::CardSim* card = nullptr;
    auto token = TokenOver(cardsim::MakeJavaToken(), card);
    card->replaceNext(cardsim::MatchPrefix(Hex("00 A4 04 00 07 A0 00 00 03 12 02 02")), Hex("6C 10"));
    EXPECT_TRUE(token->checkIfExist(0x2001));
    const auto log = card->log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].command, Hex("00 A4 04 00 07 A0 00 00 03 12 02 02 10"));
}

// ---------------------------------------------------------------- the JavaManager

TEST(IntegrationJavaManager, VersionAndLifeCycleDataAsTheModuleReadsThem) {
    const TBytes kRefusedChip = Hex("40 90 78 71 12 91");
    struct Case {
        int version;
        TBytes chip;
        bool refusedByVersion;
        bool refusedByChip;
    } cases[] = {
        {-1, {}, false, false},  // the factory card: version 7
        {8, {}, false, false},
        {9, {}, true, false},
        {7, kRefusedChip, false, true},
        {7, Hex("40 90 79 01 12 91"), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version) + (c.refusedByChip ? ", refused chip" : ""));
        cardsim::SimTokenOptions o;
        o.managerVersion = c.version;
        o.chipId = c.chip;
        cardsim::CardSim* card = nullptr;
        auto token = TokenOver(cardsim::MakeJavaToken(o), card);
        ASSERT_TRUE(token->checkIfExist(0x2002));
        token->switchToApplet(0x2002);
        const TBytes v = token->info()->version(1);
        ASSERT_EQ(v.size(), 2u);
        EXPECT_EQ(v[0], c.version < 0 ? 7 : c.version);
        EXPECT_EQ(v[1], 0x01);  // the high byte of the release level
        EXPECT_EQ(v[0] > 8, c.refusedByVersion);

        // The module's own GET DATA of 9F7F, status word not evaluated.
        TBytes response(256, 0);
        token->sender()->send(Hex("80 CA 9F 7F 00"), response);
        ASSERT_GE(response.size(), 9u);
        const TBytes chip(response.begin() + 3, response.begin() + 9);
        const bool refused = chip == kRefusedChip || chip == Hex("40 90 79 01 12 91");
        EXPECT_EQ(refused, c.refusedByChip);
    }
}

TEST(IntegrationJavaManager, IdentityAndObjectOne) {
    cardsim::CardSim* card = nullptr;
    auto token = TokenOver(cardsim::MakeJavaToken(), card);
    token->switchToApplet(0x2002);
    auto* mgr = card->find<cardsim::SimJavaManagerApplet>();
    EXPECT_EQ(token->info()->id(0), mgr->object46());
    EXPECT_EQ(token->info()->value(2), mgr->object01());
    card->clearLog();
    EXPECT_TRUE(token->info()->value(1).empty());
    EXPECT_TRUE(card->log().empty());
    EXPECT_EQ(RaisedCode([&] { token->info()->isFips(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { token->fs()->select(path{}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { token->label()->read(); }), 0xFACE);
}

// ---------------------------------------------------------------- file system, both families

class IntegrationFs : public ::testing::TestWithParam<const Family*> {
protected:
    void SetUp() override {
        f = GetParam();
        t = OpenSimToken(*f);
        // Room for the largest file next to what the factory put on the card.
        t.applet->info().memoryTotal = 0x20000;
    }
    // The marker changed since `before` and carries the bit the card wants.
    void ExpectFreshMarker(const TBytes& before, size_t countBefore, size_t added = 1) {
        EXPECT_EQ(t.applet->markerCount(), countBefore + added);
        ASSERT_EQ(t.applet->lastMarker().size(), 16u);
        EXPECT_NE(t.applet->lastMarker(), before);
        EXPECT_EQ(t.applet->lastMarker()[0] & 0x01, 0x01);
    }
    const Family* f = nullptr;
    SimToken t;
};

TEST_P(IntegrationFs, SelectByPathSendsTheFamilyCommandAndDescribesTheFile) {
    struct Case {
        path p;
        std::string rest;  // the command after CLA INS
        cardsim::FidPath stored;
        unsigned char type;
        unsigned short size;
    } cases[] = {
        {{}, "08 04 04 66 66 50 00 00", {0x3F00, 0x6666, 0x5000}, 2, 0},
        {{0x3F00}, "00 04 00", {0x3F00}, 2, 0},
        {{0x0002}, "08 04 06 66 66 50 00 00 02 00", {0x3F00, 0x6666, 0x5000, 0x0002}, 1, 9},
        {{0x3F00, 0x6666, 0x5000, 0x000A}, "08 04 06 66 66 50 00 00 0A 00", {0x3F00, 0x6666, 0x5000, 0x000A}, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rest);
        t.card->clearLog();
        t.fs()->select(c.p);
        ASSERT_EQ(t.allSent().size(), 1u);
        EXPECT_EQ(t.allSent()[0], Cmd(f->select, c.rest));
        EXPECT_EQ(t.applet->currentPath(), c.stored);
        const CFileInfo info = t.fs()->info();
        EXPECT_EQ(info.type, c.type);
        EXPECT_EQ(info.size, c.size);
    }
}

TEST_P(IntegrationFs, OperationsTheFamilyLacksAnswerFaceWithoutTraffic) {
    EXPECT_EQ(RaisedCode([&] { t.fs()->selectByName(path{0x0002}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.fs()->selectByFID(0x0002); }), 0xFACE);
    if (!f->java) {
        EXPECT_EQ(RaisedCode([&] { t.fs()->resize(0); }), 0xFACE);
    }
    EXPECT_EQ(RaisedCode([&] { t.token->bio(); }), -1);  // the slot holds the not-supported object
    EXPECT_TRUE(t.card->log().empty());
}

TEST_P(IntegrationFs, CreateListAndRemoveChangeTheTreeAndTheMarker) {
    t.fs()->select(path{});
    const struct Child {
        unsigned short fid;
        CFileInfo info;
    } children[] = {
        {0x1001, CFileInfo(2, 0, 0, 0x10)},
        {0x0101, CFileInfo(1, 0x0800, 0x0F, 0x10)},
        {0x1002, CFileInfo(2, 0, 0, 0)},
        {0x0102, CFileInfo(1, 3, 0, 0)},
    };
    for (const Child& c : children) {
        SCOPED_TRACE(c.fid);
        const TBytes before = t.applet->lastMarker();
        const size_t count = t.applet->markerCount();
        t.fs()->create(c.fid, c.info);
        ExpectFreshMarker(before, count);
        const cardsim::SimFile* onCard = t.onCard(Under(kAppFolder, {c.fid}));
        ASSERT_NE(onCard, nullptr);
        EXPECT_EQ(onCard->folder, c.info.type == 2);
        EXPECT_EQ(onCard->size(), c.info.type == 2 ? 0u : c.info.size);
        const TBytes access = c.info.type == 2 ? TBytes(5, c.info.writeAccess)
                                               : TBytes{c.info.readAccess, c.info.writeAccess, c.info.writeAccess,
                                                        c.info.writeAccess, c.info.writeAccess};
        EXPECT_EQ(onCard->access, access);
        // The new file is not selected: the folder stays current.
        EXPECT_EQ(t.applet->currentPath(), cardsim::FidPath(kAppFolder.begin(), kAppFolder.end()));
    }
    // The factory files 000A and 0002 come first, in the card's order.
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x1001, 0x1002}));
    EXPECT_EQ(t.fs()->list(1), (std::vector<unsigned short>{0x000A, 0x0002, 0x000F, 0x0101, 0x0102}));
    EXPECT_EQ(t.sent(f->list).front(), Cmd(f->list, "01 00 04 09 02 00 00 CD"));
    EXPECT_EQ(t.sent(f->list).back(), Cmd(f->list, "02 00 04 09 02 00 00 CD"));

    // The file reports what it was created with.
    t.fs()->select(path{0x0101});
    EXPECT_EQ(t.fs()->info(), CFileInfo(1, 0x0800, 0x0F, 0x10));
    t.fs()->select(path{0x1001});
    EXPECT_EQ(t.fs()->info(), CFileInfo(2, 0, 0, 0x10));

    // Remove selects the parent, deletes the identifier, then changes the marker.
    t.card->clearLog();
    const TBytes before = t.applet->lastMarker();
    const size_t count = t.applet->markerCount();
    t.fs()->remove();
    ExpectFreshMarker(before, count);
    const auto sent = t.allSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], Cmd(f->select, "08 04 04 66 66 50 00 00"));
    EXPECT_EQ(sent[1], Cmd(f->remove, "00 00 02 10 01"));
    EXPECT_EQ(TBytes(sent[2].begin(), sent[2].begin() + 7), Cmd(f->marker, "00 00 12 10 10"));
    EXPECT_EQ(sent[2].size(), 23u);
    EXPECT_EQ(t.applet->tree().find(Under(kAppFolder, {0x1001})), nullptr);
    EXPECT_EQ(t.applet->currentPath(), cardsim::FidPath(kAppFolder.begin(), kAppFolder.end()));
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x1002}));
}

TEST_P(IntegrationFs, ListPagesThroughAFolderOfManyEntries) {
    // 250 files: three pages of at most 100 identifiers.
    std::vector<unsigned short> expected;
    for (unsigned short i = 0; i < 250; ++i) {
        const unsigned short fid = static_cast<unsigned short>(0x4000 + i);
        t.applet->tree().putFile(Under(kAppFolder, {0x7000, fid}), TBytes(1, 0));
        expected.push_back(fid);
    }
    t.fs()->select(path{0x7000});
    t.card->clearLog();
    EXPECT_EQ(t.fs()->list(1), expected);
    EXPECT_TRUE(t.fs()->list(2).empty());
    const auto pages = t.sent(f->list);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[0], Cmd(f->list, "02 00 04 09 02 00 00 CD"));
    EXPECT_EQ(pages[1], Cmd(f->list, "02 00 04 09 02 00 64 CD"));
    EXPECT_EQ(pages[2], Cmd(f->list, "02 00 04 09 02 00 C8 CD"));
    EXPECT_EQ(pages[3], Cmd(f->list, "01 00 04 09 02 00 00 CD"));
}

TEST_P(IntegrationFs, ListNeedsAFolderAndAKnownType) {
    t.fs()->select(path{0x0002});
    EXPECT_EQ(RaisedCode([&] { t.fs()->list(1); }), 0x6283);
    t.fs()->select(path{});
    t.card->clearLog();
    EXPECT_EQ(RaisedCode([&] { t.fs()->list(3); }), 0xFACE);
    EXPECT_TRUE(t.card->log().empty());
}

TEST_P(IntegrationFs, RoundTripsCompareEqualOnTheCard) {
    const size_t kSizes[] = {0, 1, 245, 246, 0x7FFF};
    unsigned seed = 1;
    for (size_t n : kSizes) {
        SCOPED_TRACE("size " + std::to_string(n));
        const unsigned short fid = static_cast<unsigned short>(0x0200 + seed);
        const TBytes data = Pattern(n, seed++);
        t.fs()->select(path{});
        t.fs()->create(fid, CFileInfo(1, static_cast<unsigned short>(n), 0, 0));
        t.fs()->select(path{fid});
        ASSERT_EQ(t.fs()->info().size, n);

        t.card->clearLog();
        t.fs()->write(data, 0);
        const cardsim::SimFile* onCard = t.onCard(Under(kAppFolder, {fid}));
        ASSERT_NE(onCard, nullptr);
        EXPECT_TRUE(onCard->content == data) << "the card holds other bytes than were written";
        const size_t pieces = (n + 244) / 245;
        EXPECT_EQ(t.sent(f->write).size(), pieces);

        TBytes back(n, 0xEE);
        t.card->clearLog();
        t.fs()->read(back, 0);
        EXPECT_TRUE(back == data);
        EXPECT_EQ(t.sent(f->read).size(), pieces);
        // Each piece asks for what is left of it, 245 at most.
        if (n == 246) {
            EXPECT_EQ(t.sent(f->read)[0], Cmd(f->read, "00 00 04 0E 02 00 00 F5"));
            EXPECT_EQ(t.sent(f->read)[1], Cmd(f->read, "00 00 04 0E 02 00 F5 01"));
        }
    }
}

TEST_P(IntegrationFs, ReadsAndWritesAtAnOffsetTouchOnlyTheirBytes) {
    t.fs()->select(path{});
    t.fs()->create(0x0300, CFileInfo(1, 600, 0, 0));
    t.fs()->select(path{0x0300});
    const TBytes middle = Pattern(300, 9);
    t.fs()->write(middle, 150);
    const cardsim::SimFile* onCard = t.onCard(Under(kAppFolder, {0x0300}));
    ASSERT_NE(onCard, nullptr);
    TBytes expected(600, 0);
    std::copy(middle.begin(), middle.end(), expected.begin() + 150);
    EXPECT_TRUE(onCard->content == expected);
    EXPECT_EQ(t.sent(f->write)[0], testing_card::Concat(Cmd(f->write, "00 00 FB 0E 02 00 96 10 F5"),
                                                     TBytes(middle.begin(), middle.begin() + 245)));

    TBytes back(300);
    t.fs()->read(back, 150);
    EXPECT_TRUE(back == middle);

    // Beyond the size the facet knows: refused before any command.
    t.card->clearLog();
    TBytes tooFar(10);
    EXPECT_EQ(RaisedCode([&] { t.fs()->read(tooFar, 591); }), 0x6282);
    EXPECT_EQ(RaisedCode([&] { t.fs()->write(tooFar, 591); }), 0x6A84);
    EXPECT_TRUE(t.card->log().empty());
}

TEST_P(IntegrationFs, ResizeWhereTheFamilyHasIt) {
    t.fs()->select(path{});
    t.fs()->create(0x0400, CFileInfo(1, 10, 0, 0));
    t.fs()->select(path{0x0400});
    if (!f->java) {
        EXPECT_EQ(RaisedCode([&] { t.fs()->resize(20); }), 0xFACE);
        return;
    }
    t.fs()->write(Pattern(10), 0);
    t.card->clearLog();
    t.fs()->resize(300);
    EXPECT_EQ(t.allSent(), std::vector<TBytes>{Hex("80 1A 00 00 04 03 02 01 2C")});
    const cardsim::SimFile* onCard = t.onCard(Under(kAppFolder, {0x0400}));
    ASSERT_NE(onCard, nullptr);
    EXPECT_EQ(onCard->size(), 300u);
    EXPECT_TRUE(TBytes(onCard->content.begin(), onCard->content.begin() + 10) == Pattern(10));
    EXPECT_EQ(t.fs()->info().size, 10);  // the description keeps the old size until the next select
    t.fs()->select(path{0x0400});
    EXPECT_EQ(t.fs()->info().size, 300);
    EXPECT_EQ(RaisedCode([&] { t.fs()->resize(0x8000); }), 0x6400);
}

TEST_P(IntegrationFs, CardRefusalsArriveAsMappedErrors) {
    t.fs()->select(path{});
    t.fs()->create(0x0500, CFileInfo(1, 4, 0, 0));
    struct Case {
        const char* what;
        std::function<void()> call;
        long code;
    } cases[] = {
        {"select of a missing file", [&] { t.fs()->select(path{0x0599}); }, 0x6A82},
        {"create of an existing identifier", [&] { t.fs()->select(path{}); t.fs()->create(0x0500, CFileInfo(1, 4, 0, 0)); }, 0x6A89},
        {"create of a file larger than the free memory",
         [&] {
             t.applet->info().memoryTotal = 0x100;
             t.fs()->select(path{});
             t.fs()->create(0x0501, CFileInfo(1, 0x7000, 0, 0));
         },
         0x6400},
        {"reserved identifier", [&] { t.fs()->create(0x3FFF, CFileInfo(1, 4, 0, 0)); }, 0x6900},
        {"size of 8000", [&] { t.fs()->create(0x0502, CFileInfo(1, 0x8000, 0, 0)); }, 0x6400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RaisedCode(c.call), c.code);
    }
}

TEST_P(IntegrationFs, AccessBytesGivenAtCreateGuardTheFileOnTheCard) {
    t.fs()->select(path{});
    t.fs()->create(0x0900, CFileInfo(1, 4, 0x11, 0x11));
    t.fs()->select(path{0x0900});
    t.applet->setAccessEnforced(true);
    TBytes b(4);
    EXPECT_EQ(RaisedCode([&] { t.fs()->read(b, 0); }), 0x6900);   // 6982 before the PIN is presented
    EXPECT_EQ(RaisedCode([&] { t.fs()->write(b, 0); }), 0x6900);
    t.applet->grant(0x11);
    t.fs()->write(TBytes{1, 2, 3, 4}, 0);
    t.fs()->read(b, 0);
    EXPECT_EQ(b, (TBytes{1, 2, 3, 4}));
}

TEST_P(IntegrationFs, DepthLimitsAreCheckedBeforeTheCardIsAsked) {
    // A current path of 30 identifiers (3F00 included) may still create; 31 may not.
    for (size_t depth : {27u, 28u}) {
        SCOPED_TRACE("folders below the applet folder: " + std::to_string(depth));
        path relative;
        for (size_t i = 0; i < depth; ++i) relative.push_back(static_cast<unsigned short>(0x2000 + i));
        cardsim::FidPath onCard(kAppFolder.begin(), kAppFolder.end());
        onCard.insert(onCard.end(), relative.begin(), relative.end());
        t.applet->tree().putFolder(onCard);
        t.fs()->select(relative);
        t.card->clearLog();
        const long code = RaisedCode([&] { t.fs()->create(0x0001, CFileInfo(1, 1, 0, 0)); });
        if (depth == 27) {
            EXPECT_EQ(code, -1);
            EXPECT_NE(t.applet->tree().find(Under(onCard, {0x0001})), nullptr);
        } else {
            EXPECT_EQ(code, 0x6400);
            EXPECT_TRUE(t.card->log().empty());
        }
    }
    // 126 relative identifiers and the applet folder no longer fit a one-byte Lc.
    t.card->clearLog();
    EXPECT_EQ(RaisedCode([&] { t.fs()->select(path(126, 0x1111)); }), 0x6B00);
    EXPECT_TRUE(t.card->log().empty());
}

TEST_P(IntegrationFs, RemoveWithoutACurrentFileSendsNothing) {
    EXPECT_EQ(RaisedCode([&] { t.fs()->remove(); }), 0x6900);
    t.fs()->select(path{0x3F00});
    EXPECT_EQ(RaisedCode([&] { t.fs()->remove(); }), 0x6900);  // the root has no parent to delete it from
    EXPECT_EQ(t.card->log().size(), 1u);
    EXPECT_NE(t.applet->tree().find(kAppFolder), nullptr);
}

TEST_P(IntegrationFs, FailedSelectKeepsTheCurrentFile) {
    t.fs()->select(path{0x0002});
    const CFileInfo before = t.fs()->info();
    EXPECT_EQ(RaisedCode([&] { t.fs()->select(path{0x0999}); }), 0x6A82);
    EXPECT_EQ(t.fs()->info(), before);
    // The card kept its selection too, so a read still reaches the label file.
    TBytes back(before.size);
    t.fs()->read(back, 0);
    EXPECT_EQ(std::string(back.begin(), back.end()), "Sim Token");
}

// ---------------------------------------------------------------- the key-container layout

TEST_P(IntegrationFs, KeyContainerLayoutIsCreatedAndDeletedWhole) {
    using KOVA::APDUSupport::kContainerFiles;
    const path store = {0xE00E, 0x0B00};
    const path dir = {0xE00E, 0x0B00, 0x001A};
    const unsigned char kUserPin = 0x11;  // the PIN reference the module takes from the user PIN's designator
    const libapdu::CAdapter a = libapdu::TokenToAdapter(t.token.get());

    size_t markers = t.applet->markerCount();
    libapdu::FileCreatePath(a, dir, CFileInfo(2, 0, 0, 0));
    EXPECT_EQ(t.applet->markerCount(), markers + 3);  // E00E, 0B00 and the container: one marker each
    for (const cardsim::FidPath& p : {Under(kAppFolder, {0xE00E}), Under(kAppFolder, {0xE00E, 0x0B00}),
                                      Under(kAppFolder, {0xE00E, 0x0B00, 0x001A})}) {
        const cardsim::SimFile* folder = t.onCard(p);
        ASSERT_NE(folder, nullptr);
        EXPECT_TRUE(folder->folder);
        EXPECT_EQ(folder->access, TBytes(5, 0));
    }

    // The seven container files, as the module creates a missing one for a store of no data.
    for (const auto& row : kContainerFiles) {
        SCOPED_TRACE(row.name);
        const unsigned char read = row.readProtected ? kUserPin : 0;
        const unsigned short size = static_cast<unsigned short>(row.CalcInitFileSize(0));
        t.fs()->select(dir);
        markers = t.applet->markerCount();
        t.fs()->create(row.fileId, CFileInfo(1, size, read, kUserPin));
        EXPECT_EQ(t.applet->markerCount(), markers + 1);
        const cardsim::SimFile* file = t.onCard(Under(kAppFolder, {0xE00E, 0x0B00, 0x001A, row.fileId}));
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->size(), row.initSize);
        EXPECT_EQ(file->access, (TBytes{read, kUserPin, kUserPin, kUserPin, kUserPin}));
        path p = dir;
        p.push_back(row.fileId);
        t.fs()->select(p);
        EXPECT_EQ(t.fs()->info(), CFileInfo(1, size, read, kUserPin));
    }
    // A container file written whole and read back.
    const TBytes header = Pattern(2048, 3);
    t.fs()->select(path{0xE00E, 0x0B00, 0x001A, 0xF003});
    t.fs()->write(header, 0);
    EXPECT_TRUE(t.onCard(Under(kAppFolder, {0xE00E, 0x0B00, 0x001A, 0xF003}))->content == header);
    EXPECT_TRUE(libapdu::FileRead(a) == header);

    // The store lists the container as the module's directory list does.
    libapdu::FileCreatePath(a, path{0xE00E, 0x0B00, 0x002B}, CFileInfo(2, 0, 0, 0));
    t.fs()->select(store);
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x001A, 0x002B}));

    // A subdirectory with a file of its own, then the whole container goes.
    libapdu::FileCreatePath(a, path{0xE00E, 0x0B00, 0x001A, 0x0C00}, CFileInfo(2, 0, 0, 0));
    t.fs()->select(path{0xE00E, 0x0B00, 0x001A, 0x0C00});
    t.fs()->create(0x0C01, CFileInfo(1, 4, 0, 0));
    t.card->clearLog();
    markers = t.applet->markerCount();
    libapdu::FileDeletePath(a, dir);
    EXPECT_EQ(t.applet->tree().find(Under(kAppFolder, {0xE00E, 0x0B00, 0x001A})), nullptr);
    EXPECT_NE(t.applet->tree().find(Under(kAppFolder, {0xE00E, 0x0B00, 0x002B})), nullptr);
    // Seven files, the subdirectory's file, the subdirectory and the container: one remove each.
    const auto removes = t.sent(f->remove);
    ASSERT_EQ(removes.size(), 10u);
    EXPECT_EQ(removes[0], Cmd(f->remove, "00 00 02 F0 01"));
    EXPECT_EQ(removes[7], Cmd(f->remove, "00 00 02 0C 01"));
    EXPECT_EQ(removes[8], Cmd(f->remove, "00 00 02 0C 00"));
    EXPECT_EQ(removes[9], Cmd(f->remove, "00 00 02 00 1A"));
    EXPECT_EQ(t.applet->markerCount(), markers + 10);
    t.fs()->select(store);
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x002B}));
}

// ---------------------------------------------------------------- information

TEST_P(IntegrationFs, TokenInformationComesFromTheCardsObjects) {
    libapdu::IAppInfo* info = t.token->info();
    const cardsim::SimJavaInfo& card = t.applet->info();
    EXPECT_EQ(info->id(2), card.serial);
    EXPECT_EQ(info->id(0), card.serial);
    EXPECT_EQ(t.sent(f->getData).front(), Cmd(f->getData, "01 07 00"));
    EXPECT_EQ(info->version(1), card.version);
    EXPECT_EQ(info->value(1), card.manufacturingDate);
    EXPECT_EQ(info->color(), 1u);
    EXPECT_EQ(info->memoryTotal(), 0x20000u);
    EXPECT_EQ(info->memoryFree(), t.applet->memoryFree());
    t.card->clearLog();
    EXPECT_TRUE(info->value(0).empty());
    EXPECT_TRUE(t.card->log().empty());

    const TBytes r = info->rnd(33);
    EXPECT_EQ(r.size(), 33u);
    const auto pieces = t.sent(f->challenge);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], Cmd(f->challenge, "00 00 20"));
    EXPECT_EQ(pieces[1], Cmd(f->challenge, "00 00 01"));
    EXPECT_EQ(RaisedCode([&] { info->isZudezoZudSMSupport(); }), 0xFACE);
}

TEST_P(IntegrationFs, SerialNumberAsTheModuleFormatsIt) {
    cardsim::SimTokenOptions o;
    o.serial = Hex("0A 00 1B");
    SimToken other = OpenSimToken(*f, o);
    const TBytes id = other.token->info()->id(2);
    std::wstring text;
    for (unsigned char b : id) {
        wchar_t item[8];
        swprintf(item, 8, L"%x\\", static_cast<unsigned int>(b));
        text += item;
    }
    EXPECT_EQ(text, L"a\\0\\1b\\");
}

TEST_P(IntegrationFs, FipsModeIsAskedOnceAtInit) {
    for (bool fips : {false, true}) {
        SCOPED_TRACE(fips ? "FIPS" : "not FIPS");
        cardsim::SimTokenOptions o;
        o.fips = fips;
        SimToken other = OpenSimToken(*f, o);
        other.token->selectApplet(f->appletId);  // init asks and caches
        const auto afterInit = other.card->log().size();
        EXPECT_GT(afterInit, 0u);
        EXPECT_EQ(other.token->info()->isFips(), fips);
        EXPECT_EQ(other.card->log().size(), afterInit);
    }
}

// ---------------------------------------------------------------- labels

TEST_P(IntegrationFs, LabelsAreReadAndWrittenInTheLabelFile) {
    libapdu::IAppLabel* label = t.token->label();
    const auto labelText = [&] {
        const TBytes b = label->read();
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(label->encoding(), 3);
    EXPECT_EQ(labelText(), "Sim Token");

    const std::string kCases[] = {"Hello", std::string(32, 'x'), "", "Back to a longer label"};
    for (const std::string& text : kCases) {
        SCOPED_TRACE("label \"" + text + "\"");
        const TBytes bytes(text.begin(), text.end());
        const TBytes before = t.applet->lastMarker();
        const size_t count = t.applet->markerCount();
        t.card->clearLog();
        label->write(bytes);
        ExpectFreshMarker(before, count);
        const cardsim::SimFile* file = t.onCard(Under(kAppFolder, {0x0002}));
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(file->content == bytes) << "the label file holds " << cardsim::ToHex(file->content);
        char length[16];
        std::snprintf(length, sizeof length, "%02X %02X", static_cast<unsigned>(text.size() >> 8),
                      static_cast<unsigned>(text.size() & 0xFF));
        EXPECT_EQ(t.sent(f->labelLength), std::vector<TBytes>{Cmd(f->labelLength, std::string("00 00 04 03 02 ") + length + " 00")});
        EXPECT_EQ(labelText(), text);
    }

    t.card->clearLog();
    EXPECT_EQ(RaisedCode([&] { label->write(TBytes(33, 'y')); }), 0x6B00);
    EXPECT_TRUE(t.card->log().empty());
    EXPECT_EQ(labelText(), "Back to a longer label");
}

INSTANTIATE_TEST_SUITE_P(Families, IntegrationFs, ::testing::Values(&sim_token::JavaFamily(), &sim_token::HeronFamily()),
                         [](const ::testing::TestParamInfo<const Family*>& i) { return std::string(i.param->name); });
