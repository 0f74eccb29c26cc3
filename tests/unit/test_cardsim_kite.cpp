// The Kite applet through the token against the simulated Kite card: recognition
// by ATR, init and the crypto slot, the key-container store, logins with the
// host's retry record, the three PIN changes, information and labels, and the
// injected faults. What the card stored is checked on the simulator's side.
#include <gtest/gtest.h>

#include "appcry/cry_kite.h"
#include "appfs/fs_kite.h"
#include "apppack/pack_kite.h"
#include "apppin/pin_kite.h"
#include "libapdu.internal.h"
#include "scripted_sender.h"
#include "sim_tokens.h"
#include "test_applet.h"

using libapdu::CFileInfo;
using libapdu::IToken;
using libapdu::TBytes;
using libapdu::path;
using testing_card::RaisedCode;

namespace {

const char* const kModels[] = {"kite16", "kite32", "kite42", "kite42b"};
const unsigned short kKite = 0x1002;
const TBytes kPin = {'1', '2', '3', '4'};

bool IsKite4(const std::string& model) { return model == "kite42" || model == "kite42b"; }

struct KiteSim {
    cardsim::CardSim* card = nullptr;
    cardsim::SimKiteApplet* applet = nullptr;
    std::unique_ptr<IToken> token;

    KiteSim(const std::string& model, bool fips, bool select = true, const cardsim::SimTokenOptions& base = {}) {
        cardsim::SimTokenOptions o = base;
        o.fips = fips;
        std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeKiteToken(model, o);
        card = sim.get();
        applet = card->find<cardsim::SimKiteApplet>();
        std::unique_ptr<libapdu::ISender> sender(std::move(sim));
        token = IToken::create(sender);
        if (select) token->selectApplet(kKite);
    }

    // The user's home on the card: 3F00/6666, or 3F00/6666/5000 on a FIPS token.
    cardsim::FidPath home(std::initializer_list<uint16_t> rest = {}) const {
        cardsim::FidPath p = {0x3F00, 0x6666};
        if (applet->fips()) p.push_back(0x5000);
        p.insert(p.end(), rest.begin(), rest.end());
        return p;
    }
    void login(const TBytes& pin) {
        libapdu::IAppPin* p = token->pin();
        p->select(p->pathUser());
        p->login(pin);
    }
    void changePin(const TBytes& oldPin, const TBytes& newPin) {
        libapdu::IAppPin* p = token->pin();
        login(oldPin);
        p->select(p->pathUser());
        p->change(newPin);
    }
    // A key-container file as the token module stores it: the folders and the
    // file made where missing, with access from the user designator, then written.
    void store(unsigned short dir, unsigned short file, const TBytes& data) {
        libapdu::IAppFS* fs = token->fs();
        const path folder = {0xE00E, 0x0B00, dir};
        path target = folder;
        target.push_back(file);
        try {
            fs->select(target);
        } catch (const libapdu::IException& e) {
            if (e.code() != 0x6A82) throw;
            const auto u = static_cast<unsigned char>(libapdu::PinExtractAccess(token->pin()->pathUser()));
            libapdu::FileCreatePath(libapdu::TokenToAdapter(token.get()), folder, CFileInfo(2, 0, 0, 0));
            fs->select(folder);
            fs->create(file, CFileInfo(1, static_cast<unsigned short>(data.size() + 16), u, u));
            fs->select(target);
        }
        fs->write(data, 0);
    }
    size_t sent(unsigned char cla, unsigned char ins) const { return card->count(cla, ins); }
};

std::string Name(const std::string& model, bool fips) { return model + (fips ? " FIPS" : ""); }

// ---------------------------------------------------------------- recognition and init

TEST(KiteSimToken, KnownByItsAtrAloneWithoutAnyCommand) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        KiteSim k(model, false, false);
        EXPECT_TRUE(k.token->checkIfExist(kKite));
        EXPECT_EQ(k.card->commandCount(), 0u);
    }
    // Kite42 with other free bytes is still a Kite42.
    cardsim::SimTokenOptions o;
    o.atr = cardsim::kAtrKite42Other;
    KiteSim other("kite42", false, true, o);
    EXPECT_NE(dynamic_cast<libapdu::CFSKite4*>(other.token->fs()), nullptr);

    // A Java token is no Kite token: FACE, and the Java applet stays current.
    std::unique_ptr<libapdu::ISender> java(cardsim::MakeJavaToken().release());
    auto* javaCard = static_cast<cardsim::CardSim*>(java.get());
    auto token = IToken::create(java);
    EXPECT_FALSE(token->checkIfExist(kKite));
    EXPECT_EQ(javaCard->commandCount(), 0u);
    token->switchToApplet(0x2001);
    for (auto call : {&IToken::selectApplet, &IToken::switchToApplet, &IToken::useAsApplet})
        EXPECT_EQ(RaisedCode([&] { (token.get()->*call)(kKite); }), 0xFACE);
    EXPECT_NO_THROW(token->fs()->select({0x3F00}));
}

TEST(KiteSimToken, InitLeavesTheCryptoFacetOfTheTokensMode) {
    for (const char* model : kModels) {
        for (bool fips : {false, true}) {
            SCOPED_TRACE(Name(model, fips));
            KiteSim k(model, fips);
            libapdu::IAppCrypto* c = k.token->crypto();
            EXPECT_EQ(dynamic_cast<libapdu::CCryKite4Fips*>(c) != nullptr, fips);
            EXPECT_EQ(dynamic_cast<libapdu::CCryKite4*>(c) != nullptr, !fips);
            EXPECT_EQ(RaisedCode([&] { c->list(0); }), -1);  // a card with no keys: nothing listed
            EXPECT_EQ(k.sent(0x00, 0xCA), 1u);  // GET DATA 0183
            EXPECT_EQ(k.applet->acknowledgements, 0u);
        }
    }
}

TEST(KiteSimToken, WithoutInitTheConstructorsCryptoSlotStays) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        KiteSim k(model, false, false);
        k.token->useAsApplet(kKite);
        EXPECT_EQ(k.card->commandCount(), 0u);
        libapdu::IAppCrypto* c = k.token->crypto();
        EXPECT_EQ(dynamic_cast<libapdu::CCryKite*>(c) != nullptr, !IsKite4(model));
        // Kite4 tokens have no crypto facet before init.
        EXPECT_EQ(RaisedCode([&] { c->list(0); }) == 0xFACE, IsKite4(model));
    }
}

TEST(KiteSimToken, InitAcknowledgesAStateThatAsksForIt) {
    for (unsigned char first : {0x10, 0x11, 0x00}) {
        SCOPED_TRACE(static_cast<int>(first));
        KiteSim k("kite32", false, false);
        k.applet->stateFirstByte = first;
        k.token->selectApplet(kKite);
        EXPECT_EQ(k.applet->acknowledgements, first == 0x10 ? 1u : 0u);
    }
    // A refused GET DATA stops init: the crypto slot keeps the constructor's facet.
    KiteSim k("kite16", false, false);
    k.card->failNext(cardsim::MatchPrefix({0x00, 0xCA, 0x01, 0x83}), 0x6A88);
    EXPECT_EQ(RaisedCode([&] { k.token->selectApplet(kKite); }), 0x6A82);
    EXPECT_NE(dynamic_cast<libapdu::CCryKite*>(k.token->crypto()), nullptr);
}

// ---------------------------------------------------------------- the store

TEST(KiteSimToken, TheStoreKeepsContainersUnderTheUsersFolder) {
    for (const char* model : kModels) {
        for (bool fips : {false, true}) {
            SCOPED_TRACE(Name(model, fips));
            KiteSim k(model, fips);
            const TBytes data(300, 0xA5);
            // Without a login the container file cannot be written.
            EXPECT_EQ(RaisedCode([&] { k.store(0x0100, 0xF002, data); }), 0x6900);
            k.login(kPin);
            k.store(0x0100, 0xF002, data);

            const unsigned char user = k.applet->userReference();
            const cardsim::SimFile* f = k.applet->tree().find(k.home({0xE00E, 0x0B00, 0x0100, 0xF002}));
            ASSERT_NE(f, nullptr) << k.applet->tree().dump();
            EXPECT_EQ(f->access, (cardsim::Bytes{user, user, user, user, user, user, user}));
            EXPECT_EQ(cardsim::Bytes(f->content.begin(), f->content.begin() + 300), data);

            libapdu::IAppFS* fs = k.token->fs();
            fs->select({0xE00E, 0x0B00});
            EXPECT_EQ(fs->list(2), (std::vector<unsigned short>{0x0100}));
            fs->select({0xE00E, 0x0B00, 0x0100});
            EXPECT_EQ(fs->list(1), (std::vector<unsigned short>{0xF002}));
            fs->select({0xE00E, 0x0B00, 0x0100, 0xF002});
            EXPECT_EQ(fs->info(), CFileInfo(1, 316, user, user));
            TBytes back(300);
            fs->read(back, 0);
            EXPECT_EQ(back, data);

            // After a logout the card refuses the protected file again.
            k.token->pin()->logout();
            fs->select({0xE00E, 0x0B00, 0x0100, 0xF002});
            EXPECT_EQ(RaisedCode([&] { fs->write(data, 0); }), 0x6900);
            EXPECT_EQ(RaisedCode([&] { fs->read(back, 0); }), 0x6900);

            fs->remove();
            EXPECT_EQ(k.applet->tree().find(k.home({0xE00E, 0x0B00, 0x0100, 0xF002})), nullptr);
        }
    }
}

TEST(KiteSimToken, ListsPageThroughManyFolders) {
    KiteSim k("kite42", false);
    libapdu::IAppFS* fs = k.token->fs();
    libapdu::FileCreatePath(libapdu::TokenToAdapter(k.token.get()), {0xE00E, 0x0B00}, CFileInfo(2, 0, 0, 0));
    for (unsigned short d = 1; d <= 40; ++d) {
        fs->select({0xE00E, 0x0B00});
        fs->create(d, CFileInfo(2, 0, 0, 0));
    }
    fs->select({0xE00E, 0x0B00});
    k.card->resetCounters();
    EXPECT_EQ(fs->list(2).size(), 40u);
    EXPECT_EQ(k.sent(0x80, 0x16), 4u);  // three pages of 16, 16 and 8, then an empty answer
    EXPECT_TRUE(fs->list(1).empty());
}

TEST(KiteSimToken, AChangeMarkerThatFailsLeavesTheChangeDone) {
    KiteSim k("kite16", false);
    libapdu::IAppFS* fs = k.token->fs();
    fs->select({});
    k.card->failNext(cardsim::MatchPrefix({0x00, 0xA4, 0x08, 0x00, 0x04, 0x66, 0x66, 0x00, 0x01}), 0x6A82);
    fs->create(0x0200, CFileInfo(2, 0, 0, 0));
    EXPECT_NE(k.applet->tree().find({0x3F00, 0x6666, 0x0200}), nullptr);
    fs->select({0x0200});
    k.card->failNext(cardsim::MatchPrefix({0x00, 0xD6}), 0x6581);
    fs->remove();
    EXPECT_EQ(k.applet->tree().find({0x3F00, 0x6666, 0x0200}), nullptr);
}

// ---------------------------------------------------------------- logins

TEST(KiteSimPin, LoginsKeepTheHostsRetryRecord) {
    for (const char* model : {"kite16", "kite42b"}) {
        for (bool fips : {false, true}) {
            SCOPED_TRACE(Name(model, fips));
            cardsim::SimTokenOptions o;
            o.pinTries = 3;
            KiteSim k(model, fips, true, o);
            libapdu::IAppPin* pin = k.token->pin();
            EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{3, 3}));

            EXPECT_EQ(RaisedCode([&] { k.login({'9', '9', '9', '9'}); }), 0x6300);
            EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{2, 3}));
            EXPECT_EQ(pin->info().triesLeft, 2);
            k.login(kPin);
            EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{3, 3}));
            EXPECT_EQ(pin->info().loginState, 0xFF);
            pin->select(pin->pathUser());
            EXPECT_EQ(pin->info().loginState, 0xFF);  // the card lists the reference as verified
            EXPECT_EQ(pin->info().triesLeft, 3);

            pin->logout();
            EXPECT_FALSE(k.applet->verified(k.applet->userReference()));
            EXPECT_EQ(pin->info().loginState, 0);
        }
    }
}

TEST(KiteSimPin, ASpentLimitBlocksThePin) {
    cardsim::SimTokenOptions o;
    o.pinTries = 2;
    KiteSim k("kite42", true, true, o);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(RaisedCode([&] { k.login({'0', '0', '0', '0'}); }), 0x6300);
    EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{0, 2}));
    EXPECT_EQ(RaisedCode([&] { k.login(kPin); }), 0x6983);
    EXPECT_EQ(RaisedCode([&] { k.login({'0', '0', '0', '0'}); }), 0x6983);
    // Tries left 0 stay 0, and nothing is written for 6983.
    EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{0, 2}));
}

TEST(KiteSimPin, InjectedFaults) {
    // 63Cx is not the 6300 the host counts.
    {
        KiteSim k("kite32", false);
        k.card->failNext(cardsim::MatchClaIns(0x00, 0x82), 0x63C2);
        EXPECT_EQ(RaisedCode([&] { k.login(kPin); }), 0x6300);
        EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{10, 10}));
    }
    // A FIPS login needs the salt: an unreadable PIN file fails it before the card is asked.
    {
        KiteSim k("kite42b", true);
        libapdu::IAppPin* pin = k.token->pin();
        pin->select(pin->pathUser());
        k.card->failNext(cardsim::MatchClaIns(0x00, 0xB0), 0x6982);
        EXPECT_EQ(RaisedCode([&] { pin->login(kPin); }), 0x6900);
        EXPECT_EQ(k.sent(0x00, 0x82), 0u);
        k.login(kPin);
    }
    // Without FIPS the login key needs no salt; a PIN file that fails after the
    // login leaves the record as it was and the login stands.
    {
        KiteSim k("kite16", false);
        k.card->inject({cardsim::MatchClaIns(0x00, 0xB0), cardsim::SimFault::kStatus, 0x6982, 1, 0, {}, -1});
        k.login(kPin);
        EXPECT_EQ(k.token->pin()->info().loginState, 0xFF);
        EXPECT_EQ(k.token->pin()->info().triesLeft, 0xFF);
    }
}

// ---------------------------------------------------------------- PIN changes

TEST(KiteSimPin, ChangeOnEveryModelAndMode) {
    const TBytes newPin = {'5', '6', '7', '8', '9'};
    for (const char* model : kModels) {
        for (bool fips : {false, true}) {
            SCOPED_TRACE(Name(model, fips));
            KiteSim k(model, fips);
            if (fips && !IsKite4(model)) {
                // The Kite16/32 facet has no FIPS change, and says so before sending anything.
                k.login(kPin);
                k.card->resetCounters();
                EXPECT_EQ(RaisedCode([&] { k.token->pin()->change(newPin); }), 0xFACE);
                EXPECT_EQ(k.card->commandCount(), 0u);
                continue;
            }
            k.changePin(kPin, newPin);
            const unsigned char user = k.applet->userReference();
            EXPECT_TRUE(k.applet->pinIs(user, newPin));
            if (fips) {
                EXPECT_EQ(k.applet->protectedCount, 9u);
                EXPECT_TRUE(k.applet->pinIs(0x12, newPin));
                EXPECT_TRUE(k.applet->pinIs(0x13, newPin));
                EXPECT_FALSE(k.applet->pinIs(0x1A, newPin));  // the second set ends on a random value
                EXPECT_EQ(k.token->pin()->info().loginState, 0xFF);
            } else {
                EXPECT_EQ(k.sent(IsKite4(model) ? 0x90 : 0x00, 0x24), 1u);
            }
            k.token->pin()->logout();
            EXPECT_EQ(RaisedCode([&] { k.login(kPin); }), 0x6300);
            k.login(newPin);
        }
    }
}

TEST(KiteSimPin, AnAnswerWithAWrongMacFailsTheFipsChange) {
    KiteSim k("kite42", true);
    k.applet->corruptAnswerMac = true;
    EXPECT_EQ(RaisedCode([&] { k.changePin(kPin, {'4', '3', '2', '1'}); }), 0x6281);
    // The card took the first command; the library stopped at its answer.
    EXPECT_EQ(k.applet->protectedCount, 1u);
    EXPECT_TRUE(k.applet->pinIs(0x11, kPin));
}

TEST(KiteSimPin, UnblockByTheAdministrator) {
    KiteSim k("kite16", false);
    libapdu::IAppPin* pin = k.token->pin();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RaisedCode([&] { k.login({'0'}); }), 0x6300);
    EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{7, 10}));
    pin->select(pin->pathAdmin());
    pin->login(cardsim::SimKiteApplet::kDefaultAdminPin);
    pin->unblock({'2', '4', '6', '8'});
    EXPECT_EQ(k.applet->hostRecord(), (cardsim::Bytes{10, 10}));
    EXPECT_TRUE(k.applet->pinIs(0x01, {'2', '4', '6', '8'}));
    EXPECT_EQ(RaisedCode([&] { pin->unblock({}); }), 0x6300);
}

// ---------------------------------------------------------------- information and labels

TEST(KiteSimInfo, SerialMemoryColourAndOneFipsProbe) {
    for (bool fips : {false, true}) {
        SCOPED_TRACE(fips);
        KiteSim k("kite32", fips, false);
        k.token->useAsApplet(kKite);
        libapdu::IAppInfo* info = k.token->info();
        EXPECT_EQ(testing_card::ToHex(info->id(2)), "10 20 30 40 50 60");
        EXPECT_EQ(info->memoryTotal(), 0x10000u);
        EXPECT_GT(info->memoryFree(), 0u);
        EXPECT_LT(info->memoryFree(), 0x10000u);
        EXPECT_EQ(info->color(), fips ? 3u : 2u);
        EXPECT_EQ(info->isFips(), fips);
        EXPECT_EQ(info->version(0).size(), 2u);
        // The probe selects the FIPS mark once, whatever asks afterwards.
        size_t probes = 0;
        for (const auto& e : k.card->log())
            if (e.command == TBytes{0x00, 0xA4, 0x08, 0x00, 0x06, 0x66, 0x66, 0x50, 0x00, 0x00, 0x02, 0x00}) ++probes;
        EXPECT_EQ(probes, 1u);
        EXPECT_EQ(info->rnd(20).size(), 20u);
    }
}

TEST(KiteSimLabel, BothFilesAndTheMarker) {
    for (bool fips : {false, true}) {
        SCOPED_TRACE(fips);
        KiteSim k("kite42b", fips);
        libapdu::IAppLabel* label = k.token->label();
        TBytes read = label->read();
        read.resize(10);
        EXPECT_EQ(read, TBytes(fips ? TBytes{'K', 'i', 't', 'e', ' ', 'F', 'I', 'P', 'S', 0} : TBytes{'K', 'i', 't', 'e', ' ', 'T', 'o', 'k', 'e', 'n'}));
        const cardsim::Bytes markerBefore = k.applet->tree().find(cardsim::SimKiteApplet::kMarker)->content;
        label->write({'N', 'e', 'w'});
        EXPECT_NE(k.applet->tree().find(cardsim::SimKiteApplet::kMarker)->content, markerBefore);
        if (fips) {
            EXPECT_EQ(k.applet->tree().find(cardsim::SimKiteApplet::kFipsMark)->content[0], 'N');
        } else {
            EXPECT_EQ(k.applet->tree().find({0x3F00, 0x6666, 0x1000, 0x0005})->content[0], 'N');
            EXPECT_EQ(k.applet->tree().find({0x3F00, 0x6666, 0x1000, 0x0002})->content[0], 'N');
        }
        TBytes back = label->read();
        back.resize(3);
        EXPECT_EQ(back, (TBytes{'N', 'e', 'w'}));
    }
}

}  // namespace
