#include <gtest/gtest.h>

#include <functional>

#include "apperror/apperror.h"
#include "apppin/pin_common.h"
#include "apppin/pin_datastore.h"
#include "pin_test_applet.h"

using namespace libapdu;
using namespace keyshelf_test;

namespace {

TEST(PinFacetAbsent, EveryOperationOfTheBareFacetRaisesNotSupported) {
    // What the card-manager and ZudezoZud applets keep: the bare facet every applet starts with.
    ScriptedSender card;
    TestApplet applet(&card);
    IAppPin* pin = applet.pin();
    const std::vector<std::pair<const char*, std::function<void()>>> ops = {
        {"select", [&] { pin->select({1}); }},
        {"login", [&] { pin->login({'1'}); }},
        {"externalLogin", [&] { pin->externalLogin({'1'}); }},
        {"change", [&] { pin->change({'1'}); }},
        {"unblock", [&] { pin->unblock({'1'}); }},
        {"logout", [&] { pin->logout(); }},
        {"info", [&] { pin->info(); }},
        {"pathUser", [&] { pin->pathUser(); }},
        {"pathAdmin", [&] { pin->pathAdmin(); }},
        {"pathGlobal", [&] { pin->pathGlobal(); }},
        {"challengeGet", [&] { pin->challengeGet(); }},
        {"encoding", [&] { pin->encoding(); }},
    };
    for (const auto& op : ops) EXPECT_EQ(RaisedCode(op.second), 0xFACE) << op.first;
    EXPECT_TRUE(card.sent.empty());
}

// A family whose designators come from the card: the first reads fail.
struct FlakyNames : CPinCommon {
    int failuresLeft;
    int fills = 0;
    FlakyNames(IApplet* owner, int failures) : CPinCommon(owner), failuresLeft(failures) {}
    void NamesInitProc() override {
        ++fills;
        m_pathUser.push_back(0x3F00);  // part of the designator is in place when the read fails
        if (failuresLeft > 0) {
            --failuresLeft;
            ExternalRaise(0x6A82, L"test", __LINE__);
        }
        m_pathUser.push_back(0x0003);
        m_pathAdmin = {0x3F00, 0x10};
    }
};

TEST(PinDesignators, AFailedFillLeavesThemEmptyAndIsTriedAgain) {
    ScriptedSender card;
    TestApplet applet(&card);
    FlakyNames pin(&applet, 2);

    EXPECT_EQ(RaisedCode([&] { pin.pathUser(); }), 0x6A82);
    EXPECT_EQ(RaisedCode([&] { pin.pathAdmin(); }), 0x6A82);
    EXPECT_EQ(pin.fills, 2);

    EXPECT_EQ(pin.pathUser(), (path{0x3F00, 0x0003}));  // not {3F00, 3F00, 0003}
    EXPECT_EQ(pin.pathAdmin(), (path{0x3F00, 0x10}));
    EXPECT_TRUE(pin.pathGlobal().empty());
    EXPECT_EQ(pin.fills, 3);
}

TEST(PinDesignators, AreFilledOnceAndReturnedByStableReference) {
    ScriptedSender card;
    TestApplet applet(&card);
    FlakyNames pin(&applet, 0);
    const path& first = pin.pathUser();
    const path& second = pin.pathUser();
    pin.pathAdmin();
    pin.pathGlobal();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second, (path{0x3F00, 0x0003}));
    EXPECT_EQ(pin.fills, 1);
    EXPECT_TRUE(card.sent.empty());
}

TEST(PinCommand, BuildsHeaderLcDataAndAnOptionalLe) {
    const TBytes pin = {'1', '2', '3', '4'};
    CPinCommand plain(0x80, 0x10, 0x10, 0x00);
    plain.byte(0x00).lengthOf(pin).bytes(pin);
    EXPECT_EQ(ToHex(plain.build()), "80 10 10 00 06 00 04 31 32 33 34");
    EXPECT_EQ(ToHex(plain.build(true)), "80 10 10 00 06 00 04 31 32 33 34 00");
}

TEST(PinCommand, RefusesADataFieldPastOneLengthByte) {
    const TBytes fits(253, 'x');
    CPinCommand ok(0x80, 0x10, 0x10, 0x00);
    ok.byte(0x00).lengthOf(fits).bytes(fits);
    EXPECT_EQ(ok.build().size(), 5u + 255u);
    EXPECT_EQ(ok.build()[4], 0xFF);

    const TBytes tooLong(254, 'x');
    CPinCommand over(0x80, 0x10, 0x10, 0x00);
    over.byte(0x00).lengthOf(tooLong);
    EXPECT_EQ(RaisedCode([&] { over.bytes(tooLong); }), 0x6B00);

    CPinCommand huge(0x00, 0x20, 0x00, 0x00);
    EXPECT_EQ(RaisedCode([&] { huge.lengthOf(TBytes(256, 'x')); }), 0x6B00);
}

TEST(PinFacetOwner, AMissingErrorFacetRaisesNotSupported) {
    ScriptedSender card;
    TestApplet applet(&card);
    applet.setError(nullptr);
    CPinDataStore pin(&applet);
    card.expect("80 10 30 00 00 00", "90 00");
    EXPECT_EQ(RaisedCode([&] { pin.logout(); }), 0xFACE);
}

TEST(PinEncoding, StatusFamiliesUseTheLocaleCodePage) {
    ScriptedSender card;
    TestApplet applet(&card);
    EXPECT_EQ(CPinDataStore(&applet).encoding(), 2);
    EXPECT_EQ(IConvert::wstring_to_bytes(L"1234", 2), (TBytes{'1', '2', '3', '4'}));
}

}  // namespace
