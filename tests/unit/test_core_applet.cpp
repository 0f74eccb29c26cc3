// The applet base: owning facet slots, their accessors, the adapter made from
// them, the status-word check and the answer reader.
#include <gtest/gtest.h>

#include <stdexcept>

#include "apperror/apperror.h"
#include "libapdu.internal.h"
#include "raised.h"
#include "scripted_sender.h"

using testing_card::ScriptedSender;

using namespace libapdu;

namespace {

std::vector<std::string> g_log;
int g_live = 0;

// A facet of interface I that notes its end in the log.
template <class I> struct Noted : I {
    explicit Noted(std::string n) : name(std::move(n)) { ++g_live; }
    ~Noted() override {
        --g_live;
        g_log.push_back(name);
    }
    std::string name;
};

struct ThrowingFS : IAppFS {
    explicit ThrowingFS(IApplet*) { throw std::runtime_error("facet set-up failed"); }
};

struct TestApplet : IApplet {
    explicit TestApplet(ISender* s) : IApplet(s) { setError(new CErrorJava); }
};

// An applet whose family installs every facet, the way a family constructor does.
struct FullApplet : IApplet {
    explicit FullApplet(ISender* s, bool failInFs = false) : IApplet(s) {
        setError(new Noted<IAppError>("error"));
        setPack(new Noted<IAppPack>("pack"));
        if (failInFs) setFs(new ThrowingFS(this));
        setFs(new Noted<IAppFS>("fs"));
        setPin(new Noted<IAppPin>("pin"));
        setInfo(new Noted<IAppInfo>("info"));
        setLabel(new Noted<IAppLabel>("label"));
        setCrypto(new Noted<IAppCrypto>("crypto"));
        setBio(new Noted<IAppBio>("bio"));
        setSession(new Noted<IAppSession>("session"));
    }
};

struct AppletBase : ::testing::Test {
    void SetUp() override {
        g_log.clear();
        g_live = 0;
    }
};

TEST_F(AppletBase, DestructionDeletesEachFacetOnceInReverseSlotOrder) {
    ScriptedSender sender;
    {
        FullApplet a(&sender);
        EXPECT_EQ(g_live, 9);
    }
    EXPECT_EQ(g_log, (std::vector<std::string>{"session", "bio", "crypto", "label", "info", "pin", "fs", "pack",
                                               "error"}));
    EXPECT_EQ(g_live, 0);
    EXPECT_TRUE(sender.sent.empty());  // the sender outlives the applet and saw no traffic
}

TEST_F(AppletBase, ReplacingASlotDeletesTheOldObjectUnlessItIsTheSame) {
    ScriptedSender sender;
    IApplet a(&sender);
    auto* first = new Noted<IAppFS>("first");
    a.setFs(first);
    a.setFs(first);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(a.fs(), first);
    auto* second = new Noted<IAppFS>("second");
    a.setFs(second);
    EXPECT_EQ(g_log, std::vector<std::string>{"first"});
    EXPECT_EQ(a.fs(), second);
    auto* label = new Noted<IAppLabel>("label");
    a.setLabel(label);
    a.setLabel(new Noted<IAppLabel>("label2"));
    EXPECT_EQ(g_log, (std::vector<std::string>{"first", "label"}));
}

TEST_F(AppletBase, ThrowingFacetConstructorLeavesNothingBehind) {
    ScriptedSender sender;
    EXPECT_THROW(FullApplet(&sender, true), std::runtime_error);
    // Everything installed before the failure is gone, in the destructor's order.
    EXPECT_EQ(g_log, (std::vector<std::string>{"pack", "error"}));
    EXPECT_EQ(g_live, 0);
}

TEST_F(AppletBase, FreshAppletHoldsBareFacetsThatRefuse) {
    ScriptedSender sender;
    IApplet a(&sender);
    EXPECT_EQ(a.sender(), &sender);
    EXPECT_EQ(CodeOf([&] { a.fs()->select({0x3F00}); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.pin()->pathUser(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.info()->rnd(8); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.label()->read(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.crypto()->remove(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.bio()->loginType(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.session()->endSession(); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { a.pack()->keyClear(); }), 0xFACE);
    // The bare error facet is the common table.
    EXPECT_EQ(CodeOf([&] { a.error()->raiseSW(0x6A84); }), 0x6400);
    EXPECT_EQ(CodeOf([&] { a.error()->raiseSW(0x9000); }), 0);
    // No objects are shared between applets.
    IApplet b(&sender);
    EXPECT_NE(a.fs(), b.fs());
    EXPECT_NE(a.fs(), &IAppFS::stub);
    EXPECT_NE(a.error(), b.error());
    // Base selection, set-up and file-system switch do nothing.
    a.selectTokenApp();
    a.init();
    a.switchToFileSystem(2);
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(AppletBase, EmptySlotsRaiseNotSupported) {
    IApplet a(nullptr);
    const std::vector<std::function<void()>> empties = {
        [&] { a.setError(nullptr); a.error(); },     [&] { a.setPack(nullptr); a.pack(); },
        [&] { a.setFs(nullptr); a.fs(); },           [&] { a.setPin(nullptr); a.pin(); },
        [&] { a.setInfo(nullptr); a.info(); },       [&] { a.setLabel(nullptr); a.label(); },
        [&] { a.setCrypto(nullptr); a.crypto(); },   [&] { a.setBio(nullptr); a.bio(); },
        [&] { a.setSession(nullptr); a.session(); }, [&] { a.sender(); },
    };
    for (size_t i = 0; i < empties.size(); ++i) {
        auto r = RaisedBy(empties[i]);
        ASSERT_TRUE(r) << "slot " << i;
        EXPECT_EQ(r->code, 0xFACE);
        EXPECT_EQ(r->file, "Externals/Internal/LibAPDU/Source/token/libapdu.internal");
    }
}

TEST_F(AppletBase, AdapterTakesTheAppletsOwnFacets) {
    ScriptedSender sender;
    FullApplet a(&sender);
    const CAdapter ad = AppletToAdapter(&a);
    EXPECT_EQ(ad.fs, a.fs());
    EXPECT_EQ(ad.pin, a.pin());
    EXPECT_EQ(ad.info, a.info());
    EXPECT_EQ(ad.crypto, a.crypto());
    EXPECT_EQ(ad.label, a.label());

    IApplet bare(&sender);
    bare.setCrypto(nullptr);
    EXPECT_EQ(CodeOf([&] { AppletToAdapter(&bare); }), 0xFACE);
}

TEST_F(AppletBase, StatusWordsAreCheckedThroughTheCurrentErrorFacet) {
    ScriptedSender sender;
    TestApplet a(&sender);
    EXPECT_EQ(CodeOf([&] { CheckSW(&a, {0x67, 0x34}); }), 0x6A82);  // Java translates 6734
    EXPECT_EQ(CodeOf([&] { CheckSW(&a, {0x01, 0x90, 0x00}); }), 0);
    EXPECT_EQ(CodeOf([&] { CheckSW(&a, {0x90}); }), 0xFFFF);
    a.setError(new CErrorWren);
    EXPECT_EQ(CodeOf([&] { CheckSW(&a, {0x00, 0x90}); }), 0);
}

TEST_F(AppletBase, FacetsReachTheTransportThroughTheApplet) {
    // A facet that sends one SELECT and checks the answer, as family facets do.
    struct SelectingFS : IAppFS {
        explicit SelectingFS(IApplet* a) : applet(a) {}
        void selectByFID(unsigned short fid) override {
            TBytes cmd = {0x00, 0xA4, 0x00, 0x0C, 0x02};
            PutBE16(cmd, fid);
            TBytes response(258, 0);
            applet->sender()->send(cmd, response);
            CheckSW(applet, response);
        }
        IApplet* applet;
    };
    ScriptedSender sender;
    sender.expect(libapdu::TBytes{0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00}, libapdu::TBytes{0x90, 0x00});
    sender.expect(libapdu::TBytes{0x00, 0xA4, 0x00, 0x0C, 0x02, 0xE0, 0x0E}, libapdu::TBytes{0x6A, 0x82});
    TestApplet a(&sender);
    a.setFs(new SelectingFS(&a));
    a.fs()->selectByFID(0x3F00);
    EXPECT_EQ(CodeOf([&] { a.fs()->selectByFID(0xE00E); }), 0x6A82);
}

TEST(CoreByteReader, ReadsWithinTheAnswerAndRefusesPastIt) {
    const TBytes answer = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    CByteReader r(answer);
    EXPECT_EQ(r.u8(), 0x01);
    EXPECT_EQ(r.be16(), 0x0203);
    EXPECT_EQ(r.le16(), 0x0504);
    EXPECT_EQ(r.remaining(), 2u);
    EXPECT_EQ(CodeOf([&] { r.be32(); }), 0x6281);
    EXPECT_EQ(r.remaining(), 2u);  // a refused take consumes nothing
    EXPECT_EQ(r.take(2), (TBytes{0x06, 0x07}));
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.take(0), TBytes{});

    CByteReader whole(answer);
    EXPECT_EQ(whole.be32(), 0x01020304u);
    CByteReader inner = whole.sub(2);
    EXPECT_EQ(whole.remaining(), 1u);
    EXPECT_EQ(inner.be16(), 0x0506);
    EXPECT_EQ(CodeOf([&] { inner.u8(); }), 0x6281);  // the sub-reader ends at its own bound
}

TEST(CoreByteReader, EveryTakeOnAShortAnswerRaisesTheCallersCode) {
    const std::vector<std::pair<const char*, std::function<void(CByteReader&)>>> takes = {
        {"u8", [](CByteReader& r) { r.u8(); }},          {"be16", [](CByteReader& r) { r.be16(); }},
        {"le16", [](CByteReader& r) { r.le16(); }},      {"be32", [](CByteReader& r) { r.be32(); }},
        {"take", [](CByteReader& r) { r.take(5); }},     {"sub", [](CByteReader& r) { r.sub(5); }},
        {"skip", [](CByteReader& r) { r.skip(5); }},     {"huge", [](CByteReader& r) { r.take(SIZE_MAX); }},
    };
    const TBytes empty;
    for (const auto& [name, take] : takes) {
        CByteReader r(empty);
        EXPECT_EQ(CodeOf([&] { take(r); }), 0x6281) << name;
        CByteReader own(empty, 0x6282);
        EXPECT_EQ(CodeOf([&] { take(own); }), 0x6282) << name;
        CByteReader none(nullptr, 10);  // no storage means nothing to read
        EXPECT_EQ(CodeOf([&] { take(none); }), 0x6281) << name;
    }
    CByteReader e(empty);
    EXPECT_TRUE(e.empty());
    e.skip(0);
    EXPECT_EQ(e.sub(0).remaining(), 0u);
}

// The one walker of the Java/Heron tag-length-value lists, which the file
// system, information, PIN and secure-messaging facets all read through.
TEST(CoreByteReader, FindsJavaElementsAndStopsAtAMalformedList) {
    struct Case {
        const char* what;
        TBytes list;
        unsigned char tag;
        const char* value;  // nullptr: not found
    } cases[] = {
        {"first element", {0x01, 0x02, 0xAA, 0xBB, 0x02, 0x01, 0xCC}, 0x01, "AA BB"},
        {"after another", {0x01, 0x02, 0xAA, 0xBB, 0x02, 0x01, 0xCC}, 0x02, "CC"},
        {"empty value", {0x03, 0x00, 0x02, 0x01, 0xCC}, 0x03, ""},
        {"escaped length", {0x04, 0xFF, 0x00, 0x02, 0x11, 0x22}, 0x04, "11 22"},
        {"absent", {0x01, 0x01, 0xAA}, 0x02, nullptr},
        {"tag 00 before it", {0x00, 0x01, 0xAA, 0x02, 0x01, 0xCC}, 0x02, nullptr},
        {"tag FF before it", {0xFF, 0x01, 0xAA, 0x02, 0x01, 0xCC}, 0x02, nullptr},
        {"length byte missing", {0x02}, 0x02, nullptr},
        {"escape cut short", {0x02, 0xFF, 0x00}, 0x02, nullptr},
        {"value runs past the list", {0x02, 0x05, 0xAA}, 0x02, nullptr},
        {"earlier element runs past", {0x01, 0x09, 0x02, 0x01, 0xCC}, 0x02, nullptr},
        {"found before a malformed rest", {0x02, 0x01, 0xCC, 0x00}, 0x02, "CC"},
    };
    for (const Case& c : cases) {
        CByteReader value(nullptr, 0);
        const bool found = CByteReader(c.list).findEscapedElement(c.tag, value);
        EXPECT_EQ(found, c.value != nullptr) << c.what;
        if (found && c.value) {
            EXPECT_EQ(testing_card::ToHex(value.take(value.remaining())), c.value) << c.what;
        }
    }
    struct Number {
        TBytes value;
        unsigned int number;
    } numbers[] = {{{}, 0}, {{0x12}, 0x12}, {{0x12, 0x34, 0x56}, 0x123456}, {{1, 2, 3, 4, 5}, 0x01020304}};
    for (const Number& n : numbers) EXPECT_EQ(CByteReader(n.value).leadingNumber(), n.number);
}

TEST(CoreWipe, OverwritesTheBuffer) {
    TBytes key = {1, 2, 3, 4};
    SecureWipe(key);
    EXPECT_EQ(key, TBytes(4, 0));
    TBytes none;
    SecureWipe(none);
}

}  // namespace
