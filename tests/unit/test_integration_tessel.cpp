// The Tessel facets driven through a token against the simulated Tessel card:
// the probe, the key-container store in the container's named directories, PIN
// login, change and logout under secure messaging, and the applet's init. What
// the card stored is checked on the simulator's side.
#include <gtest/gtest.h>

#include "APDUTokenModule.h"
#include "appfs/fs_tessel.h"
#include "apppin/pin_tessel.h"
#include "raised.h"
#include "sim_token_fixture.h"
#include "tessel_sim_token.h"

using cardsim::SimTesselApplet;
using cardsim::SimTesselNode;
using libapdu::CFileInfo;
using libapdu::IException;
using libapdu::IToken;
using libapdu::TBytes;
using libapdu::path;
using sim_token::Pattern;
using testing_card::Hex;

namespace {

using TesselToken = TesselSimToken;

TesselToken OpenTessel(const cardsim::SimTokenOptions& o = cardsim::SimTokenOptions(), bool withContainer = true,
                       bool init = false) {
    return TesselToken(o, withContainer, init);
}

void Login(TesselToken& t, const std::string& pin) { t.login(pin); }

const path kDir = {0xE00E, 0x0B00, 0x001A};

}  // namespace

TEST(IntegrationTessel, TheProbeFindsTheAppletByItsIdentifier) {
    TesselToken t = OpenTessel();
    EXPECT_TRUE(t.token->checkIfExist(0x2101));
    EXPECT_FALSE(t.token->checkIfExist(0x2001));
}

TEST(IntegrationTessel, KeyContainerStoreLivesInNamedDirectoriesOfTheContainer) {
    TesselToken t = OpenTessel();
    const libapdu::CAdapter a = libapdu::TokenToAdapter(t.token.get());
    libapdu::FileCreatePath(a, kDir, CFileInfo(2, 0, 0, 0));
    for (const path& p : {path{0xE00E}, path{0xE00E, 0x0B00}, kDir}) {
        const SimTesselNode* d = t.named(p);
        ASSERT_NE(d, nullptr) << t.sim->dump();
        EXPECT_EQ(d->access, Hex("00 00 00 00 00 00 00 00 00 00 00 FF"));
    }
    // Files need the user PIN (reference 24) to be written.
    Login(t, "1234");
    t.fs()->select(kDir);
    t.fs()->create(0xF003, CFileInfo(1, 2048, 0x24, 0x24));
    path file = kDir;
    file.push_back(0xF003);
    t.fs()->select(file);
    EXPECT_EQ(t.fs()->info(), CFileInfo(1, 2048, 0x24, 0x24));
    const TBytes data = Pattern(700, 3);
    t.fs()->write(data, 0);
    TBytes back(700);
    t.fs()->read(back, 0);
    EXPECT_EQ(back, data);
    const SimTesselNode* f = t.named(kDir)->child(0xF003);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->access, Hex("00 24 00 24 00 24 00 24"));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), f->content.begin()));

    libapdu::FileCreatePath(a, path{0xE00E, 0x0B00, 0x002B}, CFileInfo(2, 0, 0, 0));
    t.fs()->select(path{0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x001A, 0x002B}));
    t.fs()->select(kDir);
    EXPECT_EQ(t.fs()->list(1), (std::vector<unsigned short>{0xF003}));

    t.fs()->select(kDir);
    t.fs()->remove();
    EXPECT_EQ(t.named(kDir), nullptr);
    EXPECT_NE(t.named(path{0xE00E, 0x0B00, 0x002B}), nullptr);
    t.fs()->select(path{0xE00E, 0x0B00});
    EXPECT_EQ(t.fs()->list(2), (std::vector<unsigned short>{0x002B}));
    // Without init the file system knows no login type and rewrites no access list.
    EXPECT_EQ(t.count("80 E8"), 0u);
}

TEST(IntegrationTessel, WrongPinsCountDownThenThePinIsBlocked) {
    cardsim::SimTokenOptions o;
    o.pinTries = 3;
    TesselToken t = OpenTessel(o);
    EXPECT_EQ(CodeOf([&] { Login(t, "9999"); }), 0x6300);
    EXPECT_EQ(t.pin()->info().triesLeft, 2);
    EXPECT_EQ(CodeOf([&] { Login(t, "9999"); }), 0x6300);
    EXPECT_EQ(CodeOf([&] { Login(t, "9999"); }), 0x6983);
    EXPECT_EQ(CodeOf([&] { Login(t, "1234"); }), 0x6983);
}

TEST(IntegrationTessel, LoginChangeAndLogout) {
    TesselToken t = OpenTessel();
    Login(t, "1234");
    EXPECT_EQ(t.pin()->info().loginState, 0xFF);
    t.pin()->select(t.pin()->pathUser());
    EXPECT_EQ(t.pin()->info().loginState, 0xFF);
    t.pin()->change(TBytes{'4', '3', '2', '1'});
    EXPECT_EQ(t.sim->pin(0x24)->value, (TBytes{'4', '3', '2', '1'}));
    EXPECT_EQ(t.sim->sessionsClosed(), 1u);
    t.pin()->logout();
    EXPECT_FALSE(t.sim->pin(0x24)->verified);
    EXPECT_EQ(CodeOf([&] { Login(t, "1234"); }), 0x6300);
    Login(t, "4321");
}

TEST(IntegrationTessel, InitHandsTheLoginTypeToTheFileSystem) {
    TesselToken t = OpenTessel(cardsim::SimTokenOptions(), true, true);
    auto* fs = dynamic_cast<libapdu::CFSTessel*>(t.fs());
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->loginType(), 0x24);
}
