// The Tessel biometric facet against a scripted card: enrolled fingers, public
// data, the login type, match-on-card and enrolment in 254-byte parts, erasure
// and the biometric half of a login ticket.
#include <gtest/gtest.h>

#include "appbio/bio_tessel.h"
#include "applet_tessel.h"
#include "raised.h"
#include "java_card_peer.h"
#include "scripted_sender.h"
#include "tessel_ticket.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

TBytes Series(size_t n, unsigned char seed) {
    TBytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + 3 * i);
    return b;
}

class BioTessel : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(card.pending(), 0u) << "scripted commands left unsent"; }
    ScriptedSender card;
    CAppletTessel applet{&card};
    IAppBio* bio = applet.bio();
};

TEST_F(BioTessel, EnrolledFingersAreTheNonZeroSlotsLessOne) {
    struct Case {
        const char* answer;
        const char* fingers;
    };
    for (const Case& c : {Case{"EA 04 01 00 03 00 90 00", "00 02"}, Case{"EA 00 90 00", ""},
                          Case{"01 02 AA BB EA 01 05 90 00", "04"}, Case{"EA FF 00 02 01 02 90 00", "00 01"}}) {
        card.expect("80 48 00 00 00", c.answer, 1024);
        EXPECT_EQ(bio->getEnrolledFingers(), Hex(c.fingers)) << c.answer;
    }
    for (const char* bad : {"90 00", "EA 05 01 02 90 00", "00 01 EA 01 01 90 00", "01 02 AA 90 00"}) {
        card.expect("80 48 00 00 00", bad);
        EXPECT_THROW(bio->getEnrolledFingers(), int) << bad;
    }
    card.expect("80 48 00 00 00", "6A 88");
    EXPECT_EQ(CodeOf([&] { bio->getEnrolledFingers(); }), 0x6A82);
}

TEST_F(BioTessel, PublicDataIsElement82OfTheAnswer) {
    const TBytes data = Series(128, 5);
    card.expect(Hex("80 48 02 00 00"), Concat(Concat(Hex("82 81 80"), data), Hex("90 00")), 1024);
    EXPECT_EQ(bio->readPublicBioData(2), data);
    card.expect("80 48 03 00 00", "01 01 00 82 02 AA BB 90 00");
    EXPECT_EQ(bio->readPublicBioData(3), Hex("AA BB"));
    for (const char* bad : {"82 80 01 90 00", "1F 1E 01 00 82 01 00 90 00", "82 05 01 90 00", "01 01 00 90 00"}) {
        card.expect("80 48 02 00 00", bad);
        EXPECT_THROW(bio->readPublicBioData(2), int) << bad;
    }
}

TEST_F(BioTessel, TheLoginTypeIsTheSecondByteOfTheAccessList) {
    struct Case {
        const char* value;
        unsigned int type;
    };
    for (const Case& c : {Case{"00 24", 0x24}, Case{"00 21", 0}, Case{"00 10", 0}, Case{"00 20 00 25", 0x20},
                          Case{"00 23", 0x23}, Case{"00 25", 0x25}}) {
        const TBytes v = Hex(c.value);
        card.expect(Hex("80 A4 08 0C 06 3F 00 30 00 30 02 00"),
                    Concat(Concat(TBytes{0x62, static_cast<unsigned char>(v.size() + 2), 0x86,
                                         static_cast<unsigned char>(v.size())},
                                  v),
                           Hex("90 00")),
                    1024);
        EXPECT_EQ(bio->loginType(), c.type) << c.value;
    }
    for (const char* bad : {"86 02 00 24 90 00", "62 02 83 00 90 00", "62 03 86 01 24 90 00"}) {
        card.expect("80 A4 08 0C 06 3F 00 30 00 30 02 00", bad);
        EXPECT_THROW(bio->loginType(), int) << bad;
    }
}

TEST_F(BioTessel, MatchOnCardGoesOutIn254ByteParts) {
    const TBytes ten = Series(10, 1);
    card.expect(Concat(Concat(Hex("00 22 02 00 15 62 82 00 11 83 01 01 81 82 00 0A"), ten), Hex("00")),
                Concat(Series(20, 9), Hex("90 00")), 1024);
    EXPECT_EQ(bio->appletMoC(ten, 1), Series(20, 9));

    // 250 data bytes: a 261-byte body, 254 bytes and then 7.
    const TBytes data = Series(250, 2);
    TBytes body = Concat(Hex("62 82 01 01 83 01 04 81 82 00 FA"), data);
    card.expect(Concat(Hex("10 22 02 00 FE"), TBytes(body.begin(), body.begin() + 254)), Hex("90 00"), 1024);
    card.expect(Concat(Concat(Hex("00 22 02 00 07"), TBytes(body.begin() + 254, body.end())), Hex("00")),
                Hex("01 02 90 00"));
    // A short last answer leaves the rest of the result zero.
    EXPECT_EQ(bio->appletMoC(data, 4), Concat(Hex("01 02 90 00"), TBytes(16, 0)));

    // A body of exactly 254 bytes is one command.
    const TBytes fit = Series(254 - 11, 3);
    card.expect(Concat(Concat(Concat(Hex("00 22 02 00 FE 62 82 00 FA 83 01 02 81 82 00 F3"), fit), TBytes()), Hex("00")),
                Hex("90 00"));
    bio->appletMoC(fit, 2);
}

TEST_F(BioTessel, AFailedMatchIsItsOwnErrorAndAnEarlierRefusalStopsTheParts) {
    card.expectPrefix(Hex("00 22 02 00 15"), 27, Hex("63 C2"));
    EXPECT_EQ(CodeOf([&] { bio->appletMoC(Series(10, 1), 1); }), 0x6286);
    card.expectPrefix(Hex("10 22 02 00 FE"), 259, Hex("63 C2"));
    EXPECT_EQ(CodeOf([&] { bio->appletMoC(Series(250, 1), 1); }), 0x6300);
    card.expectPrefix(Hex("00 22 02 00 15"), 27, Hex("6A 88"));
    EXPECT_EQ(CodeOf([&] { bio->appletMoC(Series(10, 1), 1); }), 0x6A82);
    // Data beyond what the two-byte lengths can say is refused before sending.
    EXPECT_EQ(CodeOf([&] { bio->appletMoC(TBytes(65529), 1); }), 0x6B00);
    EXPECT_EQ(card.sent.size(), 3u);
}

TEST_F(BioTessel, EnrolmentSendsTheTemplateAfterPreparingTheCard) {
    const TBytes first = Series(10, 1), second = Series(20, 2);
    const TBytes name = Concat(TBytes{'P', 'r', 'e', 'c', 'i', 's', 'e', ' ', 'B', 'i', 'o', 'M', 'a', 't', 'c', 'h', ' ',
                                      '3', '.', '0'},
                               TBytes{0x00});
    TBytes tmpl = Concat(Concat(Concat(Concat(Hex("62 3C 81 0A"), first), Hex("82 14")), second), Hex("83 01 03 84 15"));
    tmpl = Concat(tmpl, name);
    ASSERT_EQ(tmpl.size(), 62u);
    card.expect("80 2C 00 00", "69 82", 1024);  // not examined
    card.expect(Concat(Concat(Hex("80 24 00 00 3E"), tmpl), Hex("00")), Hex("90 00"), 1024);
    bio->enrollTemplate(first, second, 3);

    // A large template in parts, the last one with class 80.
    card.expect("80 2C 00 00", "90 00");
    card.expectPrefix(Hex("10 24 00 00 FE 62 82 01 2D 81 81 C8"), 259, Hex("90 00"));
    card.expectPrefix(Hex("80 24 00 00 33"), 57, Hex("63 C1"));
    EXPECT_EQ(CodeOf([&] { bio->enrollTemplate(Series(200, 1), Series(70, 2), 0); }), 0x6286);
}

TEST_F(BioTessel, EraseNamesTheFinger) {
    card.expect("80 24 00 00 05 62 03 EA 01 01", "90 00", 1024);
    bio->eraseTemplate(1);
    card.expect("80 24 00 00 05 62 03 EA 01 07", "6A 88");
    EXPECT_EQ(CodeOf([&] { bio->eraseTemplate(7); }), 0x6A82);
}

TEST_F(BioTessel, TicketLoginAnswersTheChallengeUnderTheTicketKey) {
    tessel_test::TicketParts t;
    t.key = Hex("01 23 45 67 89 AB CD EF FE DC BA 98 76 54 32 10");
    t.keyId = Hex("0A 0B 0C 0D");
    card.expect("00 84 00 00 08", "11 22 33 44 55 66 77 88 90 00", 10);
    card.expect("80 A4 08 0C 04 3F 00 00 23 00", "90 00", 258);
    card.expectPrefix(Hex("00 22 03 00 0C 0A 0B 0C 0D"), 17, Hex("90 00"), 1024);
    bio->loginByTicket(tessel_test::TicketText(t));
    // E = TDEA(K1 K2 K1) of the challenge.
    const TBytes e(card.sent[2].begin() + 9, card.sent[2].end());
    EXPECT_EQ(testing_card::TdesCbc(t.key, e, TBytes(), false), Hex("11 22 33 44 55 66 77 88"));

    // Another biometric object selected before is the one selected again.
    card.expect("80 A4 08 0C 04 3F 00 00 33 00", "90 00");
    bio->select({0x3F00, 0x33});
    card.expect("00 84 00 00 08", "11 22 33 44 90 00");
    EXPECT_EQ(CodeOf([&] { bio->loginByTicket(tessel_test::TicketText(t)); }), 0x6281);
    card.expect("00 84 00 00 08", "11 22 33 44 55 66 77 88 90 00");
    card.expect("80 A4 08 0C 04 3F 00 00 33 00", "90 00");
    card.expectPrefix(Hex("00 22 03 00 0C"), 17, Hex("90 00"));
    bio->loginByTicket(tessel_test::TicketText(t));
    // No record at all: nothing is sent.
    const size_t before = card.sent.size();
    EXPECT_THROW(bio->loginByTicket(TBytes(208, 'A')), int);
    EXPECT_EQ(card.sent.size(), before);
}

// A path whose identifiers do not fit the one-byte Lc is refused before anything is sent.
TEST_F(BioTessel, APathTooLongForTheSelectIsRefusedBeforeSending) {
    for (size_t n : {128u, 200u}) {
        SCOPED_TRACE(n);
        const size_t before = card.sent.size();
        EXPECT_EQ(CodeOf([&] { bio->select(path(n, 0x3F00)); }), 0x6B00);
        EXPECT_EQ(card.sent.size(), before);
    }
    // 127 identifiers still fit: 254 bytes.
    card.expectPrefix(Hex("80 A4 08 0C FE 3F 00"), 5 + 254 + 1, Hex("90 00"));
    bio->select(path(127, 0x3F00));
}

}  // namespace
