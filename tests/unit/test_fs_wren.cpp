// The Wren file system and applet against a scripted card: parameters in the
// data, every 16-bit value low byte first, status words read in the card's own
// order and a few of them renamed before the error facet sees them.
#include <gtest/gtest.h>

#include <functional>

#include "applet_wren.h"
#include "appfs/fs_wren.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const TBytes kWrenAtr = {0x3B, 0x81, 0x1F, 0x00, 0xCC, 0x52};
const TBytes kKiteAtr = {0x3B, 0xE2, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x02, 0x9C};

struct WrenCard {
    ScriptedSender card;
    CAppletWren applet{&card};
    IAppFS* fs() { return applet.fs(); }
    CFSWren& impl() { return *static_cast<CFSWren*>(applet.fs()); }
};

TEST(FsWren, SelectSendsTheWholePathAndReadsTheRecord) {
    struct Case {
        path p;
        const char* command;
        const char* answer;
        CFileInfo info;
    } cases[] = {
        {{0xE00E}, "00 A4 00 00 06 00 02 00 3F 0E E0 08", "00 00 02 00 00 00 00 00 00 90", CFileInfo(2, 0, 0x00, 0x01)},
        {{0x3F00, 0xE00E, 0xF001}, "00 A4 00 00 08 00 03 00 3F 0E E0 01 F0 08", "00 00 01 01 20 00 00 00 00 90",
         CFileInfo(1, 0x0020, 0x01, 0x01)},
        {{0xF003}, "00 A4 00 00 06 00 02 00 3F 03 F0 08", "00 00 01 00 20 01 00 00 00 90",
         CFileInfo(1, 0x0120, 0x00, 0x01)},
        {{}, "00 A4 00 00 04 00 01 00 3F 08", "00 00 02 00 00 00 00 00 00 90", CFileInfo(2, 0, 0x00, 0x01)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        WrenCard t;
        t.card.expect(c.command, c.answer, 10);
        t.fs()->select(c.p);
        EXPECT_EQ(t.fs()->info(), c.info);
        EXPECT_TRUE(t.card.done());
    }
}

TEST(FsWren, SelectFailures) {
    struct Case {
        const char* answer;
        unsigned short code;
    } cases[] = {
        {"07 64", 0x6A82},                      // the applet's "no such file"
        {"00 02 00 00 00 00 00 00 90", 0x6281},  // one data byte short
        {"00 00 02 00 00 00 00 00 00 00 00 90", 0x6281},
        {"00 00 02 00 00 00 00 00 90 00", 0xFFFF},  // 0090 read in the card's order
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        WrenCard t;
        t.card.expect("00 A4 00 00 04 00 01 00 3F 08", c.answer);
        EXPECT_EQ(CodeOf([&] { t.fs()->select({0x3F00}); }), c.code);
        EXPECT_EQ(t.fs()->info(), CFileInfo());  // unchanged
    }
    // 127 elements make an Lc of 256: refused before sending.
    WrenCard t;
    EXPECT_EQ(CodeOf([&] { t.fs()->select(path(126, 0x1111)); }), 0x6B00);
    EXPECT_TRUE(t.card.sent.empty());
}

TEST(FsWren, CreateRemoveAndList) {
    WrenCard t;
    t.card.expect("00 E0 00 00 06 01 00 00 01 01 00 00", "00 90", 2)
        .expect("00 E0 00 00 06 02 00 00 00 00 E0 00", "00 90", 2)
        .expect("00 E0 00 00 06 01 01 40 00 01 F0 00", "08 64", 2);
    t.fs()->create(0x0001, CFileInfo(1, 0x0100, 0x00, 0x01));
    t.fs()->create(0xE000, CFileInfo(2, 0x0100, 0x01, 0x01));  // size and access are not sent for a folder
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0xF001, CFileInfo(1, 0x40, 0x01, 0x01)); }), 0x6A89);
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0x3F00, CFileInfo(2, 0, 0, 1)); }), 0x6900);
    EXPECT_EQ(CodeOf([&] { t.fs()->create(0x0002, CFileInfo(3, 0, 0, 1)); }), 0xFACE);
    // Nothing selected yet: not a folder.
    EXPECT_EQ(CodeOf([&] { t.fs()->list(1); }), 0x6283);
    EXPECT_TRUE(t.card.done());

    t.card.expect("00 A4 00 00 04 00 01 00 3F 08", "00 00 02 00 00 00 00 00 00 90", 10)
        .expect("00 D2 00 00 03 00 04 01 00", "02 00 01 00 02 00 00 90", 2052)
        .expect("00 D2 00 00 03 00 04 02 00", "02 00 01 00 02 00 33 00 90", 2052)  // a trailing odd byte
        .expect("00 D2 00 00 03 00 04 01 00", "05 00 90", 2052)                    // under the header
        .expect("00 D2 00 00 03 00 04 01 00", "00 90", 2052)
        .expect("00 E2 00 00 01 02", "06 64", 2);
    t.fs()->select({0x3F00});
    EXPECT_EQ(t.fs()->list(1), (std::vector<unsigned short>{0x0001, 0x0002}));
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x0001, 0x0002}));
    EXPECT_TRUE(t.fs()->list(1).empty());
    EXPECT_TRUE(t.fs()->list(1).empty());
    EXPECT_EQ(CodeOf([&] { t.fs()->remove(); }), 0x6900);
    EXPECT_TRUE(t.card.done());
}

TEST(FsWren, PiecesByOffsetAndLength) {
    WrenCard t;
    t.card.expect("00 A4 00 00 04 00 01 00 3F 08", "00 00 01 00 30 00 00 00 00 90", 10);
    t.fs()->select({});
    TBytes twenty(20);
    for (size_t i = 0; i < 20; ++i) twenty[i] = static_cast<unsigned char>(i);
    t.card.expect(testing_card::Concat(Hex("00 D0 00 00 18 10 00 14 00"), twenty), Hex("00 90"), 2)
        .expect("00 B0 00 00 04 10 00 04 00 00", "0A 0B 0C 0D 00 90", 6)
        .expect("00 B0 00 00 04 00 00 02 00 00", "0A 00 90", 4);
    t.impl().write_bit(twenty, 0x0010);
    TBytes four(4);
    t.impl().read_bit(four, 0x0010);
    EXPECT_EQ(four, Hex("0A 0B 0C 0D"));
    TBytes two(2);
    EXPECT_EQ(CodeOf([&] { t.impl().read_bit(two, 0); }), 0x6282);  // one byte short
    EXPECT_EQ(CodeOf([&] { t.impl().read_bit(four, 0x2D); }), 0x6282);
    EXPECT_EQ(CodeOf([&] { t.impl().write_bit(four, 0x2D); }), 0x6A84);
    EXPECT_EQ(CodeOf([&] { t.impl().write_bit(TBytes(252), 0); }), 0x6A84);
    // Inside a larger file a piece of 252 bytes still cannot go out: Lc would be 256.
    t.card.expect("00 A4 00 00 04 00 01 00 3F 08", "00 00 01 00 00 04 00 00 00 90", 10);
    t.fs()->select({});
    EXPECT_EQ(CodeOf([&] { t.impl().write_bit(TBytes(252), 0); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { t.fs()->selectByFID(0x0001); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { t.fs()->resize(4); }), 0xFACE);
    EXPECT_TRUE(t.card.done());
}

TEST(AppletWren, KnownByItsAtrAlone) {
    ScriptedSender kite;
    kite.setAtr(kKiteAtr);
    EXPECT_FALSE(CAppletWren::checkIfExist(&kite));
    ScriptedSender wren;
    wren.setAtr(kWrenAtr);
    EXPECT_TRUE(CAppletWren::checkIfExist(&wren));

    std::unique_ptr<ISender> sender(new ScriptedSender);
    static_cast<ScriptedSender*>(sender.get())->setAtr(kKiteAtr);
    ScriptedSender* raw = static_cast<ScriptedSender*>(sender.get());
    std::unique_ptr<IToken> token = IToken::create(sender);
    EXPECT_FALSE(token->checkIfExist(0x1001));
    EXPECT_EQ(CodeOf([&] { token->selectApplet(0x1001); }), 0xFACE);
    token->switchToApplet(0x1001);
    EXPECT_NO_THROW(token->fs());
    raw->setAtr(kWrenAtr);
    token->selectApplet(0x1001);
    EXPECT_TRUE(raw->sent.empty());
}

}  // namespace
