#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppack/pack_common.h"
#include "apppack/pack_gost.h"
#include "pin_test_applet.h"

using namespace libapdu;
using namespace keyshelf_test;

namespace {

struct PackTest : ::testing::Test {
    ScriptedSender card;
    TestApplet applet{&card};
    CPackCommon pack{&applet};
};

TEST_F(PackTest, SettingAHighSlotLeavesTheLowerOnesMissing) {
    pack.keySet(3, {0x11, 0x22});
    for (size_t missing : {0u, 1u, 2u, 4u, 100u}) EXPECT_EQ(RaisedCode([&] { pack.keyGet(missing); }), 0x6900) << missing;
    EXPECT_EQ(pack.keyGet(3), (TBytes{0x11, 0x22}));
}

TEST_F(PackTest, AnEmptyKeyReadsAsMissingAndReplacingAKeyKeepsOnlyTheNewOne) {
    pack.keySet(0, {});
    EXPECT_EQ(RaisedCode([&] { pack.keyGet(0); }), 0x6900);
    pack.keySet(0, {1, 2, 3});
    pack.keySet(0, {9});
    EXPECT_EQ(pack.keyGet(0), (TBytes{9}));
}

TEST_F(PackTest, ClearEmptiesEverySlotButKeepsTheSavedCopy) {
    pack.keySet(0, {1});
    pack.keySave();
    pack.keySet(1, {2});
    pack.keyClear();
    EXPECT_EQ(RaisedCode([&] { pack.keyGet(0); }), 0x6900);
    EXPECT_EQ(RaisedCode([&] { pack.keyGet(1); }), 0x6900);
    pack.keyRestore();
    EXPECT_EQ(pack.keyGet(0), (TBytes{1}));
}

TEST_F(PackTest, SaveEmptiesTheSlotsAndRestoreBringsBackExactlyThoseSavedEveryTime) {
    pack.keySet(0, {0xA0});
    pack.keySet(2, {0xA2});
    pack.keySave();
    EXPECT_EQ(RaisedCode([&] { pack.keyGet(0); }), 0x6900);

    pack.keySet(0, {0xB0});
    pack.keySet(4, {0xB4});
    pack.keyRestore();
    EXPECT_EQ(pack.keyGet(0), (TBytes{0xA0}));
    EXPECT_EQ(pack.keyGet(2), (TBytes{0xA2}));
    EXPECT_EQ(RaisedCode([&] { pack.keyGet(4); }), 0x6900);

    pack.keySet(0, {0xC0});
    pack.keyRestore();
    EXPECT_EQ(pack.keyGet(0), (TBytes{0xA0}));
}

TEST_F(PackTest, RestoreWithoutSaveEmptiesTheSlots) {
    pack.keySet(1, {1});
    pack.keyRestore();
    EXPECT_EQ(RaisedCode([&] { pack.keyGet(1); }), 0x6900);
}

TEST_F(PackTest, AWildSlotNumberIsRefusedAndChangesNothing) {
    pack.keySet(0, {7});
    EXPECT_EQ(RaisedCode([&] { pack.keySet(static_cast<size_t>(-1), {1}); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { pack.keySet(CPackCommon::kMaxSlots, {1}); }), 0x6B00);
    EXPECT_EQ(pack.keyGet(0), (TBytes{7}));
    pack.keySet(CPackCommon::kMaxSlots - 1, {8});
    EXPECT_EQ(pack.keyGet(CPackCommon::kMaxSlots - 1), (TBytes{8}));
}

TEST_F(PackTest, CheckSwJudgesThroughTheOwnersErrorFacet) {
    applet.setError(new CErrorDataStore);
    EXPECT_EQ(RaisedCode([&] { pack.checkSW({0x01, 0x90, 0x00}); }), 0);
    EXPECT_EQ(RaisedCode([&] { pack.checkSW({0x61, 0x10}); }), 0);
    EXPECT_EQ(RaisedCode([&] { pack.checkSW({0x67, 0x03}); }), 0x6300);  // DataStore's wrong PIN
    EXPECT_EQ(RaisedCode([&] { pack.checkSW({0x90}); }), 0xFFFF);        // no status word at all

    applet.setError(nullptr);
    EXPECT_EQ(RaisedCode([&] { pack.checkSW({0x90, 0x00}); }), 0xFACE);
}

TEST(PackGost, RefusesSecureMessagingButKeepsItsSlots) {
    ScriptedSender card;
    TestApplet applet(&card);
    CPackGost pack(&applet);
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { pack.sm({0x00, 0xA4, 0x00, 0x00}, out); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { pack.chain({0x00, 0xA4, 0x00, 0x00}, out); }), 0xFACE);
    EXPECT_TRUE(card.sent.empty());

    pack.keySet(0, {'1', '2', '3', '4', '5', '6'});
    EXPECT_EQ(pack.keyGet(0), (TBytes{'1', '2', '3', '4', '5', '6'}));
}

TEST(PackGost, RaisesCarryTheirOwnSource) {
    ScriptedSender card;
    TestApplet applet(&card);
    CPackGost pack(&applet);
    TBytes out;
    try {
        pack.sm({0x00, 0xA4, 0x00, 0x00}, out);
        FAIL();
    } catch (const CSCardException& e) {
        EXPECT_NE(e.file().find("token/apppack/pack_gost"), std::string::npos) << e.file();
    }
    try {
        pack.keyGet(0);
        FAIL();
    } catch (const CSCardException& e) {
        EXPECT_NE(e.file().find("token/apppack/pack_common"), std::string::npos) << e.file();
    }
}

}  // namespace
