// Gost and Gost2 tokens over their simulated cards, reached as libKeyShelfJx
// reaches a card: the key-container store through the file-path helpers, the
// protected files around a login, a second token over the same card, labels,
// token information and the Gost2 session. What the card holds is checked on
// the simulator's side too.
#include <gtest/gtest.h>

#include <functional>

#include "appinfo/info_gost2.h"
#include "sim_family_card.h"
#include "sim_token_fixture.h"
#include "sim_tokens.h"
#include "test_applet.h"

using namespace libapdu;
using cardsim::CardSim;
using cardsim::SimGost2Applet;
using cardsim::SimGostApplet;
using keyshelf_test::Ascii;
using keyshelf_test::TransportToSim;
using sim_token::Pattern;
using testing_card::Hex;
using testing_card::RaisedCode;

namespace {

const path kDir = {0x3F00, 0xE00E, 0x0B00, 0x001A};

path Under(path p, unsigned short id) {
    p.push_back(id);
    return p;
}

struct OnSim {
    std::unique_ptr<CardSim> card;
    unsigned short appletId;
    std::unique_ptr<IToken> token;

    OnSim(std::unique_ptr<CardSim> c, unsigned short id) : card(std::move(c)), appletId(id) { reopen(); }

    // A new token over the same card, as a second createToken makes; init runs.
    void reopen() {
        token.reset();
        std::unique_ptr<ISender> s(new TransportToSim(*card));
        token = IToken::create(s);
        token->selectApplet(appletId);
        card->clearLog();
    }
    CAdapter adapter() { return TokenToAdapter(token.get()); }
    IAppFS* fs() { return token->fs(); }

    // What the token module does to store a file the card does not have yet.
    void store(const path& dir, unsigned short file, const TBytes& data, bool protectedFile = false,
               size_t size = 0) {
        const CAdapter a = adapter();
        FileCreatePath(a, dir, CFileInfo(2, 0, 0, 0));
        const size_t n = size ? size : data.size();
        FileCreateAndWrite(a, Under(dir, file), FileMakeFileInfo(a, static_cast<unsigned short>(n), protectedFile),
                           data);
    }
    TBytes load(const path& p) {
        fs()->select(p);
        return FileRead(adapter());
    }
    void login(const char* pin) {
        token->pin()->select(token->pin()->pathUser());
        token->pin()->login(Ascii(pin));
    }
    // Commands of CLA 80 and this INS the card saw since the log was cleared.
    size_t seen(unsigned char ins) const {
        size_t n = 0;
        for (const auto& e : card->log()) n += e.command.size() >= 2 && e.command[0] == 0x80 && e.command[1] == ins;
        return n;
    }
};

struct Family {
    const char* name;
    std::function<std::unique_ptr<CardSim>()> make;
    unsigned short appletId;
    size_t largest;
    const char* pin;
};

const Family kFamilies[] = {
    {"Gost", [] { return cardsim::MakeGostToken(); }, 0x2202, 16384, "123456"},
    {"Gost2 v6",
     [] {
         cardsim::SimTokenOptions o;
         o.gost2Version = 6;
         return cardsim::MakeGost2Token(o);
     },
     0x2206, 32746, "12345678"},
    {"Gost2 v7", [] { return cardsim::MakeGost2Token(); }, 0x2206, 32746, "12345678"},
};

TEST(GostOnSim, TheTokensAreNoKiteOrWrenModel) {
    EXPECT_EQ(TTokenType::fromAtr(cardsim::kAtrGost), &TTokenType::TUnknown);
}

TEST(GostOnSim, RoundTripsUpToTheLargestFileAndOneByteMoreCreatesNothing) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.name);
        OnSim t(f.make(), f.appletId);
        t.login(f.pin);
        unsigned short id = 0x0001;
        for (size_t n : {size_t(0), size_t(1), size_t(237), size_t(238), f.largest}) {
            SCOPED_TRACE(n);
            const TBytes data = Pattern(n, static_cast<unsigned>(n));
            t.store(kDir, id, data, false, n);
            t.fs()->select(Under(kDir, id));
            EXPECT_EQ(t.fs()->info().size, n);
            EXPECT_EQ(t.load(Under(kDir, id)), data);
            ++id;
        }
        const std::string before = f.appletId == 0x2202 ? t.card->find<SimGostApplet>()->dump()
                                                         : t.card->find<SimGost2Applet>()->dump();
        EXPECT_EQ(RaisedCode([&] { t.store(kDir, 0x0100, Pattern(f.largest + 1)); }), 0x6400);
        const std::string after = f.appletId == 0x2202 ? t.card->find<SimGostApplet>()->dump()
                                                        : t.card->find<SimGost2Applet>()->dump();
        EXPECT_EQ(before, after);
        EXPECT_EQ(RaisedCode([&] { t.fs()->select(Under(kDir, 0x0100)); }), 0x6A82);
    }
}

TEST(GostOnSim, ProtectedFilesNeedTheLoginOthersNever) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.name);
        OnSim t(f.make(), f.appletId);
        t.login(f.pin);
        t.store(kDir, 0xF001, Pattern(64, 1), true);
        t.store(kDir, 0xF003, Pattern(100, 3), false);
        t.token->pin()->logout();
        EXPECT_EQ(RaisedCode([&] { t.load(Under(kDir, 0xF001)); }), 0x6900);
        EXPECT_EQ(t.load(Under(kDir, 0xF003)), Pattern(100, 3));
        t.login(f.pin);
        EXPECT_EQ(t.load(Under(kDir, 0xF001)), Pattern(64, 1));
        t.fs()->select(Under(kDir, 0xF001));
        EXPECT_NE(t.fs()->info().readAccess, 0);
    }
}

TEST(GostOnSim, ASecondTokenFindsStoredFilesAndLosesEmptyFolders) {
    OnSim t(cardsim::MakeGostToken(), 0x2202);
    t.login("123456");
    t.store(kDir, 0xF001, Pattern(64, 1), true);
    t.store(kDir, 0xF006, Pattern(96, 6));
    FileCreatePath(t.adapter(), {0x3F00, 0xE00E, 0x0B00, 0x001B}, CFileInfo(2, 0, 0, 0));
    t.fs()->select({0x3F00, 0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x001A, 0x001B}));

    t.reopen();
    t.fs()->select({0x3F00, 0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2), std::vector<unsigned short>{0x001A});
    t.fs()->select(kDir);
    EXPECT_EQ(t.fs()->list(1), (std::vector<unsigned short>{0xF001, 0xF006}));
    EXPECT_EQ(t.load(Under(kDir, 0xF006)), Pattern(96, 6));
    EXPECT_EQ(t.load(Under(kDir, 0xF001)), Pattern(64, 1));
    // The whole store was read once, at the first select.
    EXPECT_EQ(t.seen(0x12), 1u);

    // Removing the files removes their objects; the emptied folder goes with the next token.
    FileDeletePath(t.adapter(), kDir);
    EXPECT_TRUE(t.card->find<SimGostApplet>()->objects().empty());
    t.reopen();
    t.fs()->select({0x3F00, 0xE00E});
    EXPECT_EQ(RaisedCode([&] { t.fs()->select({0x3F00, 0xE00E, 0x0B00}); }), 0x6A82);
}

TEST(GostOnSim, HandlesAboveFFAndObjectsOfOtherKinds) {
    OnSim t(cardsim::MakeGostToken(), 0x2202);
    SimGostApplet* m = t.card->find<SimGostApplet>();
    m->addObject(0x07);  // not a file: never listed as one
    m->setNextHandle(0x01FE);
    t.login("123456");
    t.store(kDir, 0xF002, Pattern(80, 2), true);
    t.store(kDir, 0xF007, Pattern(8, 7));
    EXPECT_EQ(m->objects().count(0x01FE) + m->objects().count(0x01FF) + m->objects().count(0x0200), 3u);
    t.reopen();
    t.login("123456");
    EXPECT_EQ(t.load(Under(kDir, 0xF002)), Pattern(80, 2));
    EXPECT_EQ(t.load(Under(kDir, 0xF007)), Pattern(8, 7));
}

TEST(GostOnSim, FreeMemoryShrinksAsContentsGrowAndCreateKeepsItsReserve) {
    cardsim::SimTokenOptions o;
    o.freeMemory = 8192 + 1000;
    OnSim t(cardsim::MakeGostToken(o), 0x2202);
    const unsigned int before = t.token->info()->memoryFree();
    EXPECT_EQ(before, 9192u);
    t.store(kDir, 0x0001, Pattern(500));
    const unsigned int after = t.token->info()->memoryFree();
    EXPECT_LT(after, before - 500);
    // The rest no longer holds 1000 bytes beside the reserve: refused before any object is made.
    const size_t objects = t.card->find<SimGostApplet>()->objects().size();
    EXPECT_EQ(RaisedCode([&] { t.store(kDir, 0x0002, Pattern(1000)); }), 0x6400);
    EXPECT_EQ(t.card->find<SimGostApplet>()->objects().size(), objects);
}

TEST(GostOnSim, FaultsOfTheObjectStore) {
    using cardsim::MatchPrefix;
    struct Case {
        const char* name;
        std::function<void(CardSim&)> inject;
        bool atFirstSelect;  // the fault hits the reading of the store
        unsigned short code;
    };
    const Case cases[] = {
        {"memory full mid-create", [](CardSim& c) { c.failNext(MatchPrefix(Hex("80 13 30 00 0B 00 02 11")), 0x6D06); },
         false, 0x6400},
        {"short newFile", [](CardSim& c) { c.truncateNext(MatchPrefix(Hex("80 12 20")), 1); }, false, 0x6281},
        {"short listFile", [](CardSim& c) { c.truncateNext(MatchPrefix(Hex("80 12 10")), 1); }, true, 0x6281},
        {"short listAtr", [](CardSim& c) { c.truncateNext(MatchPrefix(Hex("80 13 40")), 1); }, true, 0x6281},
        {"listAtr fails", [](CardSim& c) { c.failNext(MatchPrefix(Hex("80 13 40")), 0x6D05); }, true, 0x6F00},
        {"short getAtr", [](CardSim& c) { c.replaceNext(MatchPrefix(Hex("80 13 20")), Hex("00 00 00 11 00 90 00")); },
         false, 0x6281},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnSim t(cardsim::MakeGostToken(), 0x2202);
        SimGostApplet* m = t.card->find<SimGostApplet>();
        t.store(kDir, 0x0001, Pattern(10));  // objects 0001; the next file takes 0002
        if (c.atFirstSelect) {
            t.reopen();
            c.inject(*t.card);
            EXPECT_EQ(RaisedCode([&] { t.fs()->select(kDir); }), c.code);
            // Nothing half-read stays: the next select reads the store again.
            EXPECT_EQ(t.load(Under(kDir, 0x0001)), Pattern(10));
            continue;
        }
        const size_t objects = m->objects().size();
        const std::string dumped = m->dump();
        c.inject(*t.card);
        if (std::string(c.name) == "short getAtr") {
            EXPECT_EQ(RaisedCode([&] { t.load(Under(kDir, 0x0001)); }), c.code);
            continue;
        }
        EXPECT_EQ(RaisedCode([&] { t.store(kDir, 0x0002, Pattern(3), false, 3); }), c.code);
        // No phantom file in the cache, no stray object on the card; except that
        // an object whose handle never arrived cannot be named to be removed
        // (it has no path, so no token takes it for a file).
        if (std::string(c.name) != "short newFile") {
            EXPECT_EQ(m->objects().size(), objects);
            EXPECT_EQ(m->dump(), dumped);
        }
        EXPECT_EQ(RaisedCode([&] { t.fs()->select(Under(kDir, 0x0002)); }), 0x6A82);
        t.store(kDir, 0x0002, Pattern(3));
        EXPECT_EQ(t.load(Under(kDir, 0x0002)), Pattern(3));
    }
}

TEST(Gost2OnSim, AFolderOfOneFileThenFortyFoldersIsListedInFull) {
    OnSim t(cardsim::MakeGost2Token(), 0x2206);
    SimGost2Applet* m = t.card->find<SimGost2Applet>();
    SimGost2Applet::Node& folder = m->add(m->root(), 0x1000, true);
    m->add(folder, 0x0001, false, 4);
    for (unsigned short i = 0; i < 40; ++i) m->add(folder, static_cast<unsigned short>(0x0100 + i), true);
    t.fs()->select({0x3F00, 0x1000});
    EXPECT_EQ(t.fs()->list(1), std::vector<unsigned short>{0x0001});
    EXPECT_EQ(t.seen(0x4C), 3u);  // select, two pages
    const std::vector<unsigned short> folders = t.fs()->list(2);
    ASSERT_EQ(folders.size(), 40u);
    EXPECT_EQ(folders.back(), 0x0127);
}

TEST(Gost2OnSim, FoldersStayOnTheCardAndDeleteRefusesAFullOne) {
    OnSim t(cardsim::MakeGost2Token(), 0x2206);
    t.login("12345678");
    t.store(kDir, 0xF003, Pattern(300));
    FileCreatePath(t.adapter(), {0x3F00, 0xE00E, 0x0B00, 0x001B}, CFileInfo(2, 0, 0, 0));
    t.reopen();
    t.fs()->select({0x3F00, 0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x001A, 0x001B}));
    t.fs()->select(kDir);
    EXPECT_EQ(RaisedCode([&] { t.fs()->remove(); }), 0x6900);  // the card's 6712
    t.fs()->select({0x3F00});
    EXPECT_EQ(RaisedCode([&] { t.fs()->remove(); }), 0x6900);
    FileDeletePath(t.adapter(), kDir);
    EXPECT_EQ(t.card->find<SimGost2Applet>()->find({0xE00E, 0x0B00, 0x001A}), nullptr);
}

TEST(GostOnSim, LabelsThroughTheTransportsRewrites) {
    {
        OnSim t(cardsim::MakeGostToken(), 0x2202);
        t.token->label()->write(Ascii("Token A"));
        EXPECT_EQ(t.token->label()->read(), Ascii("Token A"));
        t.card->clearLog();
        t.token->label()->write({});
        EXPECT_EQ(testing_card::ToHex(t.card->log().back().command), "80 17 20 00 02");
        EXPECT_TRUE(t.token->label()->read().empty());
        EXPECT_EQ(RaisedCode([&] { t.token->label()->write(TBytes(33, 'x')); }), 0x6B00);  // the card's limit
        t.card->clearLog();
        EXPECT_EQ(RaisedCode([&] { t.token->label()->write(TBytes(256, 'x')); }), 0x6B00);
        EXPECT_TRUE(t.card->log().empty());
    }
    OnSim t(cardsim::MakeGost2Token(), 0x2206);
    t.token->label()->write(Ascii("Token B"));
    EXPECT_EQ(t.token->label()->read(), Ascii("Token B"));
    t.token->label()->write({});
    EXPECT_TRUE(t.token->label()->read().empty());
}

TEST(GostOnSim, SerialVersionMemoryAndRandom) {
    cardsim::SimTokenOptions o;
    o.serial = Hex("01 02 03 04 05 06 07 08");
    o.freeMemory = 0x3000;
    {
        OnSim t(cardsim::MakeGostToken(o), 0x2202);
        EXPECT_EQ(t.token->info()->id(2), o.serial);
        EXPECT_EQ(t.token->info()->version(0), Hex("03 02 00 00"));
        EXPECT_EQ(t.token->info()->memoryFree(), 0x3000u);
        EXPECT_EQ(t.token->info()->rnd(300).size(), 300u);
        EXPECT_NE(t.token->info()->rnd(16), t.token->info()->rnd(16));
    }
    for (int version : {6, 7}) {
        SCOPED_TRACE(version);
        o.gost2Version = version;
        OnSim t(cardsim::MakeGost2Token(o), 0x2206);
        EXPECT_EQ(t.token->info()->id(2), o.serial);
        EXPECT_EQ(t.token->info()->version(0)[1], version);
        EXPECT_EQ(t.token->info()->memoryFree(), 0x3000u);
        EXPECT_EQ(t.token->info()->rnd(1).size(), 32u);
        EXPECT_EQ(t.token->info()->isZudezoZudSMSupport(), version == 7);
    }
}

TEST(Gost2OnSim, SecureMessagingParametersAndSessions) {
    cardsim::SimTokenOptions o;
    o.gost2Version = 6;
    OnSim t(cardsim::MakeGost2Token(o), 0x2206);
    SimGost2Applet* m = t.card->find<SimGost2Applet>();
    IAppInfo* info = t.token->info();
    const TBytes first = Hex("01 02 03 04"), second(16, 0x22), third(64, 0x33);
    EXPECT_EQ(RaisedCode([&] { info->setZudezoZudSMInfo(first, 2, second, third, 4); }), 0x6900);  // no login
    t.login("12345678");
    info->setZudezoZudSMInfo(first, 2, second, third, 4);
    const TBytes block = info->getZudezoZudSMInfo(2);
    EXPECT_EQ(TBytes(block.begin(), block.begin() + 5), Hex("01 02 03 04 02"));

    IAppSession* s = t.token->session();
    s->setLimitedSession();
    s->setStrictSession(Hex("AA BB"));
    EXPECT_EQ(m->session(), 0x01);
    s->endSession();
    EXPECT_EQ(m->session(), 0);
    EXPECT_EQ(t.seen(0xAA), 4u);

    EXPECT_EQ(s->startSetZudezoZudSM(TBytes(64, 1), 3).size(), 64u);
    EXPECT_EQ(s->finishSetZudezoZudSM(TBytes(32, 2)).size(), 32u);
    m->setSmStatus(2);
    EXPECT_EQ(s->getStatusSM(), 2);
    s->setStatusSM(3);
    EXPECT_EQ(m->smStatus(), 3);
    m->setSmStatus(0);
    EXPECT_EQ(RaisedCode([&] { s->setStatusSM(2); }), 0x6900);

    // From version 7 the record is 33 bytes, which the status query does not take.
    m->setVersion(7);
    EXPECT_EQ(RaisedCode([&] { s->getStatusSM(); }), 0x6281);
}

}  // namespace
