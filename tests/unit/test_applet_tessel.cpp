// The Tessel applet: its facets, its probe and its init (logout, the information
// file, the login type handed to the file system), against a scripted card and
// against the simulated token with each login type.
#include <gtest/gtest.h>

#include "appbio/bio_tessel.h"
#include "appcry/cry_tessel.h"
#include "apperror/apperror.h"
#include "appfs/fs_tessel.h"
#include "appinfo/info_tessel.h"
#include "applabel/label_tessel.h"
#include "applet_tessel.h"
#include "apppack/pack_tessel.h"
#include "apppin/pin_tessel.h"
#include "raised.h"
#include "scripted_sender.h"
#include "sim_tokens.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kAidSelect[] = "00 A4 04 00 0C A0 00 00 01 64 51 55 49 4C 54 00 01";

TEST(AppletTessel, TheConstructorInstallsTheFamilysFacetsWithoutTraffic) {
    ScriptedSender card;
    CAppletTessel a(&card);
    EXPECT_NE(dynamic_cast<CErrorTessel*>(a.error()), nullptr);
    EXPECT_NE(dynamic_cast<CBioTessel*>(a.bio()), nullptr);
    EXPECT_NE(dynamic_cast<CPinTessel*>(a.pin()), nullptr);
    EXPECT_NE(dynamic_cast<CInfoTessel*>(a.info()), nullptr);
    EXPECT_NE(dynamic_cast<CLabelTessel*>(a.label()), nullptr);
    EXPECT_NE(dynamic_cast<CPackTessel*>(a.pack()), nullptr);
    EXPECT_NE(dynamic_cast<CCryTessel*>(a.crypto()), nullptr);
    EXPECT_NE(dynamic_cast<CFSTessel*>(a.fs()), nullptr);
    EXPECT_EQ(CodeOf([&] { a.session()->endSession(); }), 0xFACE);
    // Neither a key nor a certificate: refused before anything is sent.
    EXPECT_EQ(CodeOf([&] { a.crypto()->select({0x3F00}); }), 0x6A82);
    EXPECT_TRUE(card.sent.empty());
}

TEST(AppletTessel, TheProbeAndTheSelectUseTheAid) {
    ScriptedSender card;
    card.expect(kAidSelect, "90 00", 258);
    EXPECT_TRUE(CAppletTessel::checkIfExist(&card));
    card.expect(kAidSelect, "6A 82");
    EXPECT_FALSE(CAppletTessel::checkIfExist(&card));
    CAppletTessel a(&card);
    card.expect(kAidSelect, "6B 00");
    EXPECT_EQ(CodeOf([&] { a.selectTokenApp(); }), 0x6400);
}

TEST(AppletTessel, InitChecksTheInformationFileAndHandsOnTheLoginType) {
    struct Case {
        size_t size;
        unsigned char mark;  // the byte at offset 97
        unsigned short code;
    };
    const Case cases[] = {{97, 0, 0x6400}, {98, 0x04, 0}, {98, 0x03, 0x6400}, {128, 0xFF, 0}, {300, 0x05, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ScriptedSender card;
        CAppletTessel a(&card);
        card.expect("80 28 00 00 04 00 00 00 00", "90 00", 2);
        TBytes fcp = Hex("62 07 87 01 01 80 02");
        PutBE16(fcp, static_cast<unsigned short>(c.size));
        card.expect(Hex("80 A4 08 0C 06 3F 00 30 00 C0 00 00"), Concat(fcp, Hex("90 00")));
        if (c.size > 97) {
            TBytes content(c.size, 0x20);
            content[97] = c.mark;
            for (size_t at = 0; at < c.size; at += 255) {
                const size_t n = std::min<size_t>(255, c.size - at);
                TBytes read = {0x00, 0xB0, static_cast<unsigned char>(at >> 8), static_cast<unsigned char>(at),
                               static_cast<unsigned char>(n)};
                card.expect(read, Concat(TBytes(content.begin() + static_cast<std::ptrdiff_t>(at),
                                                content.begin() + static_cast<std::ptrdiff_t>(at + n)),
                                         Hex("90 00")));
            }
        }
        if (c.code == 0) card.expect("80 A4 08 0C 06 3F 00 30 00 30 02 00", "62 04 86 02 00 24 90 00", 1024);
        EXPECT_EQ(CodeOf([&] { a.init(); }), c.code);
        EXPECT_EQ(card.pending(), 0u);
        EXPECT_EQ(static_cast<CFSTessel*>(a.fs())->loginType(), c.code ? 0 : 0x24);
    }
}

TEST(AppletTessel, InitStopsAtARefusedLogoutAndAtAMissingSecurityAttribute) {
    ScriptedSender card;
    CAppletTessel a(&card);
    card.expect("80 28 00 00 04 00 00 00 00", "69 85");
    EXPECT_EQ(CodeOf([&] { a.init(); }), 0x6900);
    EXPECT_EQ(card.pending(), 0u);

    card.expect("80 28 00 00 04 00 00 00 00", "90 00");
    card.expect("80 A4 08 0C 06 3F 00 30 00 C0 00 00", "62 07 87 01 01 80 02 00 62 90 00");
    TBytes content(98, 0);
    content[97] = 4;
    card.expect(Hex("00 B0 00 00 62"), Concat(content, Hex("90 00")));
    card.expect("80 A4 08 0C 06 3F 00 30 00 30 02 00", "62 03 83 01 00 90 00");
    EXPECT_THROW(a.init(), int);
}

// On the simulated token: each login type reaches the file system, which then
// rewrites the access lists that name another one.
TEST(AppletTessel, InitOnTheSimulatedTokenRewritesAccessListsToItsLoginType) {
    for (int type : {0x00, 0x20, 0x23, 0x24, 0x25}) {
        SCOPED_TRACE(type);
        cardsim::SimTokenOptions o;
        o.loginType = type;
        std::unique_ptr<cardsim::CardSim> card = cardsim::MakeTesselToken(o);
        cardsim::SimTesselApplet* sim = card->find<cardsim::SimTesselApplet>();
        sim->putFile({0x3F00, 0x3000, 0x3002, 0x0201}, TBytes(8, 0), Hex("00 20 00 24 00 FF 00 25"));
        std::unique_ptr<ISender> sender(std::move(card));
        std::unique_ptr<IToken> token = IToken::create(sender);
        token->selectApplet(0x2101);
        const unsigned char want = type == 0x00 ? 0x00 : static_cast<unsigned char>(type);
        EXPECT_EQ(static_cast<CFSTessel*>(token->fs())->loginType(), want);
        token->fs()->select({0x3F00, 0x3000, 0x3002, 0x0201});
        const TBytes expected = type == 0x00 ? Hex("00 20 00 24 00 FF 00 25")
                                             : TBytes{0x00, want, 0x00, want, 0x00, 0xFF, 0x00, want};
        EXPECT_EQ(sim->find({0x3F00, 0x3000, 0x3002, 0x0201})->access, expected);
    }
}

}  // namespace
