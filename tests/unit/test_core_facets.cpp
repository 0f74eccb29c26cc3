// The bare facet interfaces: every operation refuses with FACE, naming the header
// it is declared in and the line of its declaration.
#include <gtest/gtest.h>

#include <functional>

#include "libapdu.internal.h"
#include "raised.h"

using namespace libapdu;

namespace {

const char kPublicHeader[] = "Externals/Internal/LibAPDU/Source/include/libapdu";
const char kInternalHeader[] = "Externals/Internal/LibAPDU/Source/token/libapdu.internal";

// Runs each operation in slot order; each must raise FACE from `file`, and the
// lines must follow the declaration order.
template <class I> void ExpectAllRefused(I& facet, const std::vector<std::function<void(I&)>>& ops, const char* file,
                                         const char* name) {
    unsigned long last = 0;
    for (size_t i = 0; i < ops.size(); ++i) {
        auto r = RaisedBy([&] { ops[i](facet); });
        ASSERT_TRUE(r) << name << " op " << i + 1 << " returned";
        EXPECT_EQ(r->code, 0xFACE) << name << " op " << i + 1;
        EXPECT_EQ(r->file, file) << name << " op " << i + 1;
        EXPECT_EQ(r->date, BuildDate());
        EXPECT_GT(r->line, last) << name << " op " << i + 1 << " is not declared after the one before";
        last = r->line;
    }
}

TBytes b;
path p;

const std::vector<std::function<void(IAppFS&)>> kFsOps = {
    [](IAppFS& f) { f.select(p); },       [](IAppFS& f) { f.selectByName(p); },
    [](IAppFS& f) { f.selectByFID(1); },  [](IAppFS& f) { f.create(1, CFileInfo()); },
    [](IAppFS& f) { f.resize(1); },       [](IAppFS& f) { f.remove(); },
    [](IAppFS& f) { f.info(); },          [](IAppFS& f) { f.list(1); },
    [](IAppFS& f) { f.read(b, 0); },      [](IAppFS& f) { f.write(b, 0); },
};
const std::vector<std::function<void(IAppPin&)>> kPinOps = {
    [](IAppPin& f) { f.select(p); },       [](IAppPin& f) { f.login(b); },     [](IAppPin& f) { f.externalLogin(b); },
    [](IAppPin& f) { f.change(b); },       [](IAppPin& f) { f.unblock(b); },   [](IAppPin& f) { f.logout(); },
    [](IAppPin& f) { f.info(); },          [](IAppPin& f) { f.pathUser(); },   [](IAppPin& f) { f.pathAdmin(); },
    [](IAppPin& f) { f.pathGlobal(); },    [](IAppPin& f) { f.challengeGet(); }, [](IAppPin& f) { f.encoding(); },
};
const std::vector<std::function<void(IAppInfo&)>> kInfoOps = {
    [](IAppInfo& f) { f.rnd(8); },          [](IAppInfo& f) { f.isFips(); },
    [](IAppInfo& f) { f.version(0); },      [](IAppInfo& f) { f.id(2); },
    [](IAppInfo& f) { f.color(); },         [](IAppInfo& f) { f.memoryFree(); },
    [](IAppInfo& f) { f.memoryTotal(); },   [](IAppInfo& f) { f.value(0); },
    [](IAppInfo& f) { f.isZudezoZudSMSupport(); }, [](IAppInfo& f) { f.getZudezoZudSMInfo(0); },
    [](IAppInfo& f) { f.setZudezoZudSMInfo(b, 0, b, b, 0); },
};
const std::vector<std::function<void(IAppLabel&)>> kLabelOps = {
    [](IAppLabel& f) { f.read(); }, [](IAppLabel& f) { f.write(b); }, [](IAppLabel& f) { f.encoding(); },
};
const unsigned char k1 = 1;
const std::vector<std::function<void(IAppCrypto&)>> kCryptoOps = {
    [](IAppCrypto& f) { f.select(p); },
    [](IAppCrypto& f) { f.create(1, CCryptoInfo()); },
    [](IAppCrypto& f) { f.remove(); },
    [](IAppCrypto& f) { f.info(); },
    [](IAppCrypto& f) { f.list(1); },
    [](IAppCrypto& f) { f.encrypt(b); },
    [](IAppCrypto& f) { f.decrypt(b); },
    [](IAppCrypto& f) { f.genKeyPair(k1, true); },
    [](IAppCrypto& f) { f.removeKeyPair(k1, 1); },
    [](IAppCrypto& f) { f.getPublicKey(k1, k1); },
    [](IAppCrypto& f) { f.getListCryptObjects(k1, k1); },
    [](IAppCrypto& f) { f.startHash(k1); },
    [](IAppCrypto& f) { f.continueHash(b); },
    [](IAppCrypto& f) { f.finishHash(); },
    [](IAppCrypto& f) { f.signUseHashData(k1, b, b); },
    [](IAppCrypto& f) { f.genAgreementKey(b, b, k1, k1, false); },
    [](IAppCrypto& f) { f.provider(0x1001); },
};
const std::vector<std::function<void(IAppBio&)>> kBioOps = {
    [](IAppBio& f) { f.select(p); },           [](IAppBio& f) { f.loginType(); },
    [](IAppBio& f) { f.getEnrolledFingers(); }, [](IAppBio& f) { f.readPublicBioData(0); },
    [](IAppBio& f) { f.appletMoC(b, 0); },     [](IAppBio& f) { f.enrollTemplate(b, b, 0); },
    [](IAppBio& f) { f.eraseTemplate(0); },    [](IAppBio& f) { f.loginByTicket(b); },
};
const std::vector<std::function<void(IAppSession&)>> kSessionOps = {
    [](IAppSession& f) { f.startSetZudezoZudSM(b, 0); }, [](IAppSession& f) { f.finishSetZudezoZudSM(b); },
    [](IAppSession& f) { f.getStatusSM(); },            [](IAppSession& f) { f.setStatusSM(k1); },
    [](IAppSession& f) { f.setStrictSession(b); },      [](IAppSession& f) { f.setStandartSession(b); },
    [](IAppSession& f) { f.setLimitedSession(); },      [](IAppSession& f) { f.setOfflineSession(); },
    [](IAppSession& f) { f.endSession(); },
};
const std::vector<std::function<void(IAppPack&)>> kPackOps = {
    [](IAppPack& f) { f.sm(b, b); },   [](IAppPack& f) { f.chain(b, b); }, [](IAppPack& f) { f.keyGet(0); },
    [](IAppPack& f) { f.keyClear(); }, [](IAppPack& f) { f.keySet(0, b); }, [](IAppPack& f) { f.keySave(); },
    [](IAppPack& f) { f.keyRestore(); },
};

TEST(CoreFacets, FreshInstancesRefuseEverythingInSlotOrder) {
    IAppFS fs;
    IAppPin pin;
    IAppInfo info;
    IAppLabel label;
    IAppCrypto crypto;
    IAppBio bio;
    IAppSession session;
    IAppPack pack;
    ExpectAllRefused(fs, kFsOps, kPublicHeader, "IAppFS");
    ExpectAllRefused(pin, kPinOps, kPublicHeader, "IAppPin");
    ExpectAllRefused(info, kInfoOps, kPublicHeader, "IAppInfo");
    ExpectAllRefused(label, kLabelOps, kPublicHeader, "IAppLabel");
    ExpectAllRefused(crypto, kCryptoOps, kPublicHeader, "IAppCrypto");
    ExpectAllRefused(bio, kBioOps, kPublicHeader, "IAppBio");
    ExpectAllRefused(session, kSessionOps, kPublicHeader, "IAppSession");
    ExpectAllRefused(pack, kPackOps, kInternalHeader, "IAppPack");
}

TEST(CoreFacets, SharedStubsRefuseEverything) {
    ExpectAllRefused(IAppFS::stub, kFsOps, kPublicHeader, "IAppFS::stub");
    ExpectAllRefused(IAppPin::stub, kPinOps, kPublicHeader, "IAppPin::stub");
    ExpectAllRefused(IAppInfo::stub, kInfoOps, kPublicHeader, "IAppInfo::stub");
    ExpectAllRefused(IAppLabel::stub, kLabelOps, kPublicHeader, "IAppLabel::stub");
    ExpectAllRefused(IAppCrypto::stub, kCryptoOps, kPublicHeader, "IAppCrypto::stub");
    EXPECT_TRUE(IAppPin::EmptyPath.empty());
}

TEST(CoreFacets, DefaultsLeaveTheirArgumentsAlone) {
    IAppFS fs;
    TBytes buffer = {1, 2, 3};
    EXPECT_EQ(CodeOf([&] { fs.read(buffer, 0); }), 0xFACE);
    EXPECT_EQ(buffer, (TBytes{1, 2, 3}));
    IAppPack pack;
    TBytes out = {7};
    EXPECT_EQ(CodeOf([&] { pack.sm({0x00, 0xA4, 0x00, 0x00}, out); }), 0xFACE);
    EXPECT_EQ(out, TBytes{7});
}

TEST(CoreFacets, FileInfoDefaultAndOrder) {
    const CFileInfo none;
    EXPECT_EQ(none.type, 0);
    EXPECT_EQ(none.size, 0);
    EXPECT_EQ(none.readAccess, 0xFF);
    EXPECT_EQ(none.writeAccess, 0xFF);
    const CFileInfo f(1, 0x1234, 0x02, 0x03);
    EXPECT_EQ(f.type, 1);
    EXPECT_EQ(f.size, 0x1234);
    EXPECT_EQ(f.readAccess, 0x02);
    EXPECT_EQ(f.writeAccess, 0x03);
}

}  // namespace
