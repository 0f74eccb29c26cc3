// The simulated Tessel card on its own (raw APDUs: what it answers, stores and
// refuses) and together with the library: PIN kinds, long PIN changes, fresh
// session keys, every ticket type, the biometric facet, a card without the
// container, and the card's faults.
#include <gtest/gtest.h>

#include "appfs/fs_tessel.h"
#include "apppin/pin_tessel.h"
#include "raised.h"
#include "scripted_sender.h"
#include "sim_tokens.h"
#include "tessel_sim_token.h"
#include "tessel_ticket.h"

using cardsim::SimTesselApplet;
using libapdu::CFileInfo;
using libapdu::IToken;
using libapdu::TBytes;
using libapdu::path;
using testing_card::Concat;
using testing_card::Hex;

namespace {

using Tessel = TesselSimToken;

std::string Sw(const TBytes& r) { return testing_card::ToHex(TBytes(r.end() - 2, r.end())); }

// ---------------------------------------------------------------- the card alone

TEST(CardSimTessel, FilesAnswerWithTheirControlTemplates) {
    Tessel t;
    EXPECT_EQ(t.raw("80 A4 08 0C 06 3F 00 30 00 30 02 00"),
              Hex("62 19 83 02 30 02 87 01 38 80 02 04 00 86 0C 00 24 00 24 00 24 00 24 00 24 00 24 90 00"));
    EXPECT_EQ(Sw(t.raw("80 A4 08 0C 06 3F 00 30 00 C0 00 00")), "90 00");
    EXPECT_EQ(t.raw("00 B0 00 00 0A"), Hex("54 65 73 73 65 6C 20 53 69 6D 90 00"));  // the label
    EXPECT_EQ(Sw(t.raw("80 A4 08 0C 04 3F 00 77 77 00")), "6A 82");
    // A PIN object, the counter object and the biometric object.
    EXPECT_EQ(t.raw("80 A4 08 0C 04 3F 00 00 24 00"), Hex("62 0B 83 02 00 24 85 05 00 24 01 00 AA 90 00"));
    EXPECT_EQ(t.raw("80 A4 08 0C 04 3F 00 00 20 00"), Hex("62 0B 83 02 00 20 85 05 00 20 0E 00 55 90 00"));
    EXPECT_EQ(Sw(t.raw("80 A4 08 0C 04 3F 00 00 23 00")), "90 00");
    // Information.
    EXPECT_EQ(t.raw("80 CB 01 14 00"), Hex("54 53 00 00 12 34 56 78 90 00"));
    EXPECT_EQ(t.raw("00 CB 00 03 00"), Hex("02 01 00 05 90 00"));
    EXPECT_EQ(t.raw("80 CB 01 10 00"), Hex("00 01 00 00 90 00"));
    EXPECT_EQ(t.raw("00 84 00 00 08").size(), 10u);
}

TEST(CardSimTessel, AccessBytesAreEnforcedAndTheUserPinOpensThem) {
    Tessel t;
    t.sim->putFile({0x3F00, 0x3000, 0x3002, 0x0205}, TBytes(4, 7), Hex("00 24 00 24 00 24 00 24"));
    EXPECT_EQ(Sw(t.raw("80 A4 08 0C 08 3F 00 30 00 30 02 02 05 00")), "90 00");
    EXPECT_EQ(Sw(t.raw("00 B0 00 00 04")), "69 82");
    EXPECT_EQ(Sw(t.raw("00 D6 00 00 01 01")), "69 82");
    t.login();
    t.raw("80 A4 08 0C 08 3F 00 30 00 30 02 02 05 00");
    EXPECT_EQ(t.raw("00 B0 00 00 04"), Hex("07 07 07 07 90 00"));
    EXPECT_EQ(Sw(t.raw("00 B0 00 02 04")), "62 82");  // fewer than asked
    EXPECT_EQ(Sw(t.raw("00 D6 00 03 02 01 02")), "6B 00");
    t.raw("80 28 00 00 04 00 00 00 24");
    EXPECT_EQ(Sw(t.raw("00 B0 00 00 04")), "69 82");
}

TEST(CardSimTessel, LongAnswersComeByGetResponse) {
    Tessel t;
    t.sim->putDirectory({0x3F00, 0x3000, 0x3002, 0x5000, 0x0100}, Hex("00 00"),
                        libapdu::CFSTessel::NameOf({0xE00E, 0x0B00}));
    for (int i = 1; i <= 20; ++i) {
        const TBytes name = libapdu::CFSTessel::NameOf({0xE00E, 0x0B00, static_cast<unsigned short>(i)});
        t.sim->putDirectory({0x3F00, 0x3000, 0x3002, 0x5000, static_cast<unsigned short>(i)}, Hex("00 00"), name);
    }
    t.raw("80 A4 08 0C 08 3F 00 30 00 30 02 50 00 00");
    const TBytes first = t.raw("80 30 38 00 00");
    ASSERT_EQ(first.size(), 258u);
    EXPECT_EQ(Sw(first), "61 A4");
    EXPECT_EQ(t.raw("00 C0 00 00 A4").size(), 0xA4u + 2);
    EXPECT_EQ(Sw(t.raw("00 C0 00 00 10")), "69 85");
    // Through the library's chaining, the list is whole.
    t.fs()->select({0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2).size(), 20u);
}

// ---------------------------------------------------------------- with the library

TEST(CardSimTessel, PinKindsOnTheCard) {
    Tessel t;
    struct Case {
        unsigned short ref;
        const char* pin;
        unsigned char left, max;
    };
    // 00 and 01 count in their own object, 0F in the counter object, others say nothing.
    for (const Case& c : {Case{0x24, "1234", 10, 10}, Case{0x10, "87654321", 3, 3}, Case{0x11, "1111", 5, 5},
                          Case{0x12, "2222", 0xFF, 0xFF}}) {
        SCOPED_TRACE(c.ref);
        t.pin()->select({0x3F00, c.ref});
        EXPECT_EQ(t.pin()->info().triesLeft, c.left);
        EXPECT_EQ(t.pin()->info().triesMax, c.max);
        const std::string p = c.pin;
        t.pin()->login(TBytes(p.begin(), p.end()));
        t.pin()->select({0x3F00, c.ref});
        EXPECT_EQ(t.pin()->info().loginState, 0xFF);
        EXPECT_TRUE(t.sim->pin(static_cast<unsigned char>(c.ref))->verified);
    }
    // The counter object tells what a wrong PIN of kind 0F cost.
    t.pin()->select({0x3F00, 0x11});
    EXPECT_EQ(CodeOf([&] { t.pin()->login(TBytes{'0'}); }), 0x6300);
    t.pin()->select({0x3F00, 0x11});
    EXPECT_EQ(t.pin()->info().triesLeft, 4);
}

TEST(CardSimTessel, PinChangesOfOneAndTwoPiecesWithFreshKeys) {
    Tessel t;
    t.login();
    // 219 bytes make a 224-byte command body: one piece; 220 two.
    for (size_t n : {size_t(219), size_t(220), size_t(4)}) {
        SCOPED_TRACE(n);
        const TBytes next(n, static_cast<unsigned char>('0' + n % 10));
        t.sim->pin(0x24)->verified = true;
        const size_t before = t.sim->smCounters().size();
        t.pin()->select(t.pin()->pathUser());
        t.pin()->change(next);
        EXPECT_EQ(t.sim->pin(0x24)->value, next);
        const std::vector<unsigned char> counters(t.sim->smCounters().begin() + static_cast<std::ptrdiff_t>(before),
                                                  t.sim->smCounters().end());
        EXPECT_EQ(counters, n == 220 ? (std::vector<unsigned char>{1, 3}) : (std::vector<unsigned char>{1}));
    }
    // Every call agreed keys of its own.
    EXPECT_EQ(t.count("80 48 00 80 00"), 3u);
    EXPECT_EQ(t.count("80 86 00 00"), 3u);
    EXPECT_EQ(t.sim->sessionsClosed(), 3u);
    // A change outside a session, or without the PIN, is refused by the card.
    EXPECT_EQ(Sw(t.raw("80 24 00 00 09 62 81 06 81 04 31 32 33 34")), "69 82");
    EXPECT_EQ(Sw(t.raw("8C 24 00 00 16 87 81 09 01 00 00 00 00 00 00 00 00 8E 08 00 00 00 00 00 00 00 00")), "69 82");
}

TEST(CardSimTessel, EveryCallAgreesKeysOfItsOwn) {
    Tessel t;
    t.login();
    t.pin()->select(t.pin()->pathUser());
    t.pin()->change(TBytes{'5', '6', '7', '8'});
    t.pin()->select(t.pin()->pathUser());
    t.pin()->change(TBytes{'1', '2', '3', '4'});
    std::vector<TBytes> hostValues;
    for (const auto& e : t.card->log())
        if (e.command.size() > 4 && e.command[0] == 0x80 && e.command[1] == 0x86 && e.command[2] == 0x00)
            hostValues.push_back(e.command);
    ASSERT_EQ(hostValues.size(), 2u);
    EXPECT_NE(hostValues[0], hostValues[1]);
}

TEST(CardSimTessel, FilesOfEachTypeLandInTheDirectoryAskedFor) {
    Tessel t;
    t.login();
    struct Case {
        unsigned char type;
        unsigned short fid;
        unsigned char fdb;
        const char* access;
    };
    for (const Case& c : {Case{1, 0x0205, 0x01, "00 24 00 24 00 24 00 24"},
                          Case{2, 0x0300, 0x38, "00 24 00 24 00 24 00 24 00 24 00 24"},
                          Case{4, 0x0101, 0x08, "00 00 00 FF 00 FF 00 24 00 24 00 00 00 24"}}) {
        SCOPED_TRACE(c.fid);
        t.fs()->select({0x3F00, 0x3000, 0x3001});
        t.fs()->create(c.fid, CFileInfo(c.type, 0x40, 0x24, 0x24));
        const cardsim::SimTesselNode* n = t.sim->find({0x3F00, 0x3000, 0x3001, c.fid});
        ASSERT_NE(n, nullptr) << t.sim->dump();
        EXPECT_EQ(n->fdb, c.fdb);
        EXPECT_EQ(n->access, Hex(c.access));
    }
    EXPECT_EQ(t.sim->find({0x3F00, 0x3000, 0x3001, 0x0101})->extra, Hex("8A 01 04 85 05 05 0C 20 00 A3 71 00"));
}

TEST(CardSimTessel, UnblockNeedsTheAdministrator) {
    cardsim::SimTokenOptions o;
    o.pinTries = 2;
    Tessel t(o);
    for (int i = 0; i < 2; ++i) EXPECT_NE(CodeOf([&] { t.login("0000"); }), 0);
    EXPECT_EQ(CodeOf([&] { t.login(); }), 0x6983);
    t.pin()->select(t.pin()->pathUser());
    EXPECT_EQ(CodeOf([&] { t.pin()->unblock(TBytes{'9', '9', '9', '9'}); }), 0x6900);
    t.pin()->select(t.pin()->pathAdmin());
    t.pin()->login(TBytes{'8', '7', '6', '5', '4', '3', '2', '1'});
    t.pin()->select(t.pin()->pathUser());
    t.pin()->unblock(TBytes{'9', '9', '9', '9'});
    t.login("9999");
}

TEST(CardSimTessel, EveryTicketTypeLogsInOnTheCard) {
    struct Case {
        unsigned int type;
        bool bioPart, pinPart, bio, pinVerified;
    };
    const Case cases[] = {
        {0x20, false, true, false, true}, {0x23, true, false, true, false}, {0x24, true, false, true, false},
        {0x24, false, true, false, true}, {0x24, true, true, true, true},   {0x25, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Tessel t;
        tessel_test::TicketParts p;
        p.type = c.type;
        p.keyId = c.bioPart ? SimTesselApplet::kTicketKeyId : TBytes(4, 0);
        p.key = c.bioPart ? SimTesselApplet::kTicketKey : TBytes(16, 0);
        p.pin = c.pinPart ? U"1234" : U"";
        t.pin()->login(tessel_test::TicketText(p));
        EXPECT_EQ(t.sim->bioVerified(), c.bio);
        EXPECT_EQ(t.sim->pin(0x24)->verified, c.pinVerified);
        EXPECT_EQ(t.pin()->info().loginState, 0xFF);
    }
    // A ticket key the card does not hold.
    Tessel t;
    tessel_test::TicketParts p;
    p.type = 0x23;
    p.keyId = SimTesselApplet::kTicketKeyId;
    p.key = TBytes(16, 0x42);
    EXPECT_EQ(CodeOf([&] { t.pin()->login(tessel_test::TicketText(p)); }), 0x6900);
    EXPECT_FALSE(t.sim->bioVerified());
}

TEST(CardSimTessel, FingersAreEnrolledMatchedAndErased) {
    Tessel t;
    libapdu::IAppBio* bio = t.token->bio();
    EXPECT_TRUE(bio->getEnrolledFingers().empty());
    const TBytes first(300, 0x5A), second(140, 0x33);
    EXPECT_EQ(CodeOf([&] { bio->enrollTemplate(first, second, 2); }), 0x6900);  // needs the user PIN
    t.login();
    bio->enrollTemplate(first, second, 2);
    bio->enrollTemplate(TBytes(10, 1), TBytes(10, 2), 5);
    EXPECT_EQ(bio->getEnrolledFingers(), Hex("02 05"));
    EXPECT_EQ(bio->readPublicBioData(2), second);
    EXPECT_EQ(bio->appletMoC(first, 2).size(), 20u);
    EXPECT_TRUE(t.sim->bioVerified());
    EXPECT_EQ(CodeOf([&] { bio->appletMoC(TBytes(300, 0x5B), 2); }), 0x6286);
    EXPECT_FALSE(t.sim->bioVerified());
    bio->eraseTemplate(2);
    EXPECT_EQ(bio->getEnrolledFingers(), Hex("05"));
    EXPECT_EQ(CodeOf([&] { bio->eraseTemplate(2); }), 0x6A82);
    // A refusal on an earlier part of several.
    t.card->failNext(cardsim::MatchPrefix(Hex("10 22 02 00")), 0x63C1);
    EXPECT_EQ(CodeOf([&] { bio->appletMoC(first, 5); }), 0x6300);
    EXPECT_EQ(bio->loginType(), 0x24u);
}

TEST(CardSimTessel, ACardWithoutTheContainerGetsItOnFirstUse) {
    Tessel t(cardsim::SimTokenOptions(), false);
    EXPECT_EQ(t.sim->find(SimTesselApplet::kContainer), nullptr);
    const libapdu::CAdapter a = libapdu::TokenToAdapter(t.token.get());
    // Creating in 3F00/3000/3002 needs the user PIN.
    EXPECT_EQ(CodeOf([&] { libapdu::FileCreatePath(a, {0xE00E, 0x0B00, 0x0001}, CFileInfo(2, 0, 0, 0)); }), 0x6900);
    t.login();
    libapdu::FileCreatePath(a, {0xE00E, 0x0B00, 0x0001}, CFileInfo(2, 0, 0, 0));
    ASSERT_NE(t.sim->find(SimTesselApplet::kContainer), nullptr);
    EXPECT_EQ(t.sim->find(SimTesselApplet::kContainer)->access, Hex("00 24 00 24 00 24 00 24 00 24 00 24"));
    t.fs()->select({0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x0001}));
}

// ---------------------------------------------------------------- faults

// Commands the library sends directly take their answer as it comes; those it
// sends through chaining or secure messaging gather the pieces.
TEST(CardSimTessel, AnswersSplitIntoPiecesAreGathered) {
    for (unsigned char sw1 : {0x61, 0x6D}) {
        Tessel t;
        t.sim->splitAnswers(64, sw1);
        t.login();
        t.pin()->change(TBytes{'5', '6', '7', '8'});
        EXPECT_EQ(t.sim->pin(0x24)->value, (TBytes{'5', '6', '7', '8'}));
        const libapdu::CAdapter a = libapdu::TokenToAdapter(t.token.get());
        libapdu::FileCreatePath(a, {0xE00E, 0x0B00, 0x0001}, CFileInfo(2, 0, 0, 0));
        libapdu::FileCreatePath(a, {0xE00E, 0x0B00, 0x0002}, CFileInfo(2, 0, 0, 0));
        t.fs()->select({0xE00E, 0x0B00});
        EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x0001, 0x0002}));
        EXPECT_GE(t.count("00 C0 00 00"), 5u);
    }
    // A card that never ends its answer.
    Tessel t;
    t.login();
    t.sim->splitAnswers(64, 0x61, true);
    EXPECT_EQ(CodeOf([&] { t.pin()->change(TBytes{'5', '6', '7', '8'}); }), 0x6281);
}

TEST(CardSimTessel, KeyAgreementFaultsEndBeforeTheHostValue) {
    using A = SimTesselApplet::Agreement;
    for (A f : {A::NoTag, A::EvenModulus, A::ShortModulus, A::LongModulus, A::CardValueOne, A::ShortReply}) {
        Tessel t;
        t.login();
        t.sim->setAgreementFault(f);
        EXPECT_EQ(CodeOf([&] { t.pin()->change(TBytes{'5', '6', '7', '8'}); }), 0x6281);
        EXPECT_EQ(t.count("80 86 00 00"), f == A::ShortReply ? 1u : 0u);
        EXPECT_EQ(t.sim->pin(0x24)->value, (TBytes{'1', '2', '3', '4'}));
    }
}

TEST(CardSimTessel, FaultsOfTheFileSystemAnswers) {
    // Templates without 80 keep the size of the file selected before; without 84
    // a directory stands for no logical path.
    {
        Tessel t;
        t.login();
        const libapdu::CAdapter a = libapdu::TokenToAdapter(t.token.get());
        libapdu::FileCreatePath(a, {0xE00E, 0x0B00, 0x0001}, CFileInfo(2, 0, 0, 0));
        t.sim->dropFcpTag(0x84);
        t.fs()->select({0xE00E, 0x0B00});
        EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x0001}));  // the list still names them
        t.sim->dropFcpTag(0x80);
        t.fs()->select({0x3F00, 0x3000, 0xC000});
        EXPECT_EQ(t.fs()->info().size, 0);
    }
    // A nameless directory in the container is left alone by the removal of a
    // logical directory, and goes with the container.
    {
        Tessel t;
        t.login();
        const libapdu::CAdapter a = libapdu::TokenToAdapter(t.token.get());
        libapdu::FileCreatePath(a, {0xE00E, 0x0B00, 0x0001}, CFileInfo(2, 0, 0, 0));
        t.sim->putDirectory({0x3F00, 0x3000, 0x3002, 0x5000, 0x0077}, Hex("00 00 00 00"));
        t.fs()->select({0xE00E, 0x0B00});
        EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x0001}));
        t.fs()->select({});
        t.fs()->remove();
        EXPECT_TRUE(t.sim->find(SimTesselApplet::kContainer)->children.empty()) << t.sim->dump();
    }
    // A wrong PIN answered on any part of a PIN command.
    {
        Tessel t;
        t.card->failNext(cardsim::MatchPrefix(Hex("80 20")), 0x63C3);
        EXPECT_EQ(CodeOf([&] { t.login(); }), 0x6300);
        EXPECT_EQ(t.pin()->info().triesLeft, 9);
        t.login();
    }
}

}  // namespace
