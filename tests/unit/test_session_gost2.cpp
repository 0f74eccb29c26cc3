// The Gost2 session facet: session modes and their open state, and the
// set-up of the applet's secure messaging.
#include <gtest/gtest.h>

#include "applet_gost2.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

struct Session {
    ScriptedSender s;
    CAppletGost2 applet{&s};
    IAppSession& session = *applet.session();
};

TBytes StatusRecord(unsigned char status, size_t size = 32) {
    TBytes r(size, 0);
    r[0] = 0x02;
    r[1] = 0x06;
    r[23] = status;
    return Concat(r, Hex("90 00"));
}

TEST(Gost2Session, ModesEndTheOpenSessionFirst) {
    Session t;
    t.session.endSession();  // nothing open: nothing sent
    t.s.expect("80 AA 10 03", "90 00", 2);
    t.session.setLimitedSession();
    t.s.expect("80 AA 20 00", "90 00", 2);
    t.s.expect("80 AA 10 03", "90 00", 2);
    t.session.setLimitedSession();
    t.s.expect("80 AA 20 00", "90 00");
    t.s.expect("80 AA 10 01 05 02 03 01 02 03", "90 00");
    t.session.setStrictSession(Hex("01 02 03"));
    t.s.expect("80 AA 20 00", "90 00");
    t.s.expect("80 AA 10 02 02 02 00", "90 00");
    t.session.setStandartSession({});
    t.s.expect("80 AA 20 00", "90 00");
    t.s.expect("80 AA 10 0A", "90 00");
    t.session.setOfflineSession();
    t.s.expect("80 AA 20 00", "90 00");
    t.session.endSession();
    t.session.endSession();
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2Session, FailuresAndTheStateTheyLeave) {
    Session t;
    // A refused mode leaves no session open.
    t.s.expect("80 AA 10 03", "69 00");
    EXPECT_EQ(CodeOf([&] { t.session.setLimitedSession(); }), 0x6900);
    t.session.endSession();
    // A failed end keeps the session open and the new mode unasked.
    t.s.expect("80 AA 10 0A", "90 00");
    t.session.setOfflineSession();
    t.s.expect("80 AA 20 00", "6F 00");
    EXPECT_EQ(CodeOf([&] { t.session.setLimitedSession(); }), 0x6400);
    t.s.expect("80 AA 20 00", "90 00");
    t.session.endSession();
    EXPECT_TRUE(t.s.done());

    // A value the one-byte length cannot carry is refused before the open session is ended.
    t.s.expect("80 AA 10 03", "90 00");
    t.session.setLimitedSession();
    EXPECT_EQ(CodeOf([&] { t.session.setStrictSession(TBytes(254)); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { t.session.setStandartSession(TBytes(300)); }), 0x6B00);
    EXPECT_TRUE(t.s.done());
    t.s.expect("80 AA 20 00", "90 00");
    t.s.expect(Concat(Hex("80 AA 10 01 FF 02 FD"), TBytes(253, 0x5C)), Hex("90 00"));
    t.session.setStrictSession(TBytes(253, 0x5C));
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2Session, SecureMessagingSetUp) {
    Session t;
    const TBytes v(64, 0xA5);
    t.s.expect(Concat(Concat(Hex("80 4E 10 04 41 01"), v), Hex("00")), Concat(TBytes(64, 1), Hex("90 00")), 66);
    EXPECT_EQ(t.session.startSetZudezoZudSM(v, 0), TBytes(64, 1));
    t.s.expect(Concat(Concat(Hex("80 4E 10 04 42 04 01"), v), Hex("00")), Concat(TBytes(63, 1), Hex("90 00")));
    EXPECT_EQ(CodeOf([&] { t.session.startSetZudezoZudSM(v, 4); }), 0x6281);
    EXPECT_EQ(CodeOf([&] { t.session.startSetZudezoZudSM(v, 5); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { t.session.startSetZudezoZudSM(TBytes(63), 1); }), 0x6B00);

    const TBytes w(32, 0x5A);
    t.s.expect(Concat(Hex("80 4E 20 00 20"), w), Concat(TBytes(32, 2), Hex("90 00")), 34);
    EXPECT_EQ(t.session.finishSetZudezoZudSM(w), TBytes(32, 2));
    EXPECT_EQ(CodeOf([&] { t.session.finishSetZudezoZudSM(TBytes(33)); }), 0x6B00);
    t.s.expect(Concat(Hex("80 4E 20 00 20"), w), Concat(TBytes(33, 2), Hex("90 00")));
    EXPECT_EQ(CodeOf([&] { t.session.finishSetZudezoZudSM(w); }), 0x6281);
    EXPECT_TRUE(t.s.done());
}

TEST(Gost2Session, StatusOfSecureMessaging) {
    Session t;
    t.s.expect(Hex("80 38 20 00 00"), StatusRecord(3), 34);
    EXPECT_EQ(t.session.getStatusSM(), 3);
    t.s.expect(Hex("80 38 20 00 00"), StatusRecord(3, 33));
    EXPECT_EQ(CodeOf([&] { t.session.getStatusSM(); }), 0x6281);

    EXPECT_EQ(CodeOf([&] { t.session.setStatusSM(1); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { t.session.setStatusSM(4); }), 0x6B00);
    t.s.expect(Hex("80 38 20 00 00"), StatusRecord(0));
    EXPECT_EQ(CodeOf([&] { t.session.setStatusSM(2); }), 0x6900);
    for (unsigned char now : {2, 3}) {
        t.s.expect(Hex("80 38 20 00 00"), StatusRecord(now));
        t.s.expect("80 4E 30 00 01 00", "90 00", 2);
        t.session.setStatusSM(0);
    }
    EXPECT_TRUE(t.s.done());
}

}  // namespace
