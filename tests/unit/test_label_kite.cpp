#include "applabel/label_kite.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

const path kFips = {0x3F00, 0x6666, 0x5000, 0x0002};
const path kUtf8 = {0x3F00, 0x6666, 0x1000, 0x0005};
const path kLegacy = {0x3F00, 0x6666, 0x1000, 0x0002};
const path kMarker = {0x3F00, 0x6666, 0x0001};

struct KiteLabelTest : ::testing::Test {
    void make(bool fips) {
        info = new FakeInfo(fips);
        applet.setInfo(info);
        applet.setFs(fs);
        applet.setPin(new FakePin);
        for (const path& p : {kFips, kUtf8, kLegacy, kMarker}) fs->files[p] = {};
        label = new CLabelKite(&applet);
        applet.setLabel(label);
    }
    ScriptedSender sender;
    TestApplet applet{&sender, new CErrorKite};
    FakeFS* fs = new FakeFS;
    FakeInfo* info = nullptr;
    CLabelKite* label = nullptr;
};

TBytes Padded(TBytes b, size_t n = 32) {
    b.resize(n, 0x00);
    return b;
}

TEST_F(KiteLabelTest, WriteOnOtherTokensStoresBothForms) {
    make(false);
    label->write(H("4B 69 74 65"));
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 3F00/6666/1000/0005", "write 32@0",
                                                   "select 3F00/6666/1000/0002", "write 32@0",
                                                   "select 3F00/6666/0001", "write 16@0"}));
    EXPECT_EQ(Hex(fs->files[kUtf8]), Hex(Padded(H("4B 69 74 65"))));
    EXPECT_EQ(Hex(fs->files[kLegacy]), Hex(Padded(H("4B 69 74 65"))));
    EXPECT_TRUE(fs->files[kFips].empty());
    EXPECT_NE(fs->files[kMarker], TBytes(16, 0x00));
    EXPECT_EQ(info->asked, 1);
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(KiteLabelTest, LegacyFormOfAFullLabelEndsInZero) {
    make(false);
    const TBytes full(32, 'Q');
    label->write(full);
    EXPECT_EQ(fs->files[kUtf8], full);
    EXPECT_EQ(Hex(fs->files[kLegacy]), Hex(Concat(TBytes(31, 'Q'), H("00"))));
}

TEST_F(KiteLabelTest, WriteOnFipsTokensStoresOneForm) {
    make(true);
    label->write(H("46"));
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 3F00/6666/5000/0002", "write 32@0",
                                                   "select 3F00/6666/0001", "write 16@0"}));
    EXPECT_EQ(Hex(fs->files[kFips]), Hex(Padded(H("46"))));
}

TEST_F(KiteLabelTest, ChangeMarkerIsFresh) {
    make(false);
    label->write(H("41"));
    const TBytes first = fs->files[kMarker];
    label->write(H("41"));
    EXPECT_EQ(first.size(), 16u);
    EXPECT_NE(first, fs->files[kMarker]);
}

TEST_F(KiteLabelTest, MarkerFailureNeverFailsTheWrite) {
    make(false);
    fs->failWrite[kMarker] = 0x6982;
    EXPECT_NO_THROW(label->write(H("41")));
    fs->files.erase(kMarker);
    EXPECT_NO_THROW(label->write(H("42")));
    EXPECT_EQ(Hex(fs->files[kUtf8]), Hex(Padded(H("42"))));
}

TEST_F(KiteLabelTest, RefusedLabelsTouchNothing) {
    make(false);
    struct Case {
        const char* name;
        TBytes label;
        unsigned short code;
    };
    const Case cases[] = {
        {"33 bytes", TBytes(33, 'a'), 0x6B00},
        {"not UTF-8", H("41 C3"), 0x6281},
        // The conversion comes first, so a long label that does not convert says so.
        {"40 bytes, not UTF-8", Concat(TBytes(39, 'a'), H("FF")), 0x6281},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RaisedCode([&] { label->write(c.label); }), c.code);
    }
    EXPECT_TRUE(fs->calls.empty());
}

TEST_F(KiteLabelTest, SecondWriteFailureLeavesTheFirst) {
    make(false);
    fs->failWrite[kLegacy] = 0x6A84;
    EXPECT_EQ(RaisedCode([&] { label->write(H("41")); }), 0x6A84);
    EXPECT_EQ(Hex(fs->files[kUtf8]), Hex(Padded(H("41"))));
    EXPECT_FALSE(fs->called("select 3F00/6666/0001"));
}

TEST_F(KiteLabelTest, ReadReturnsTheStoredFormWithItsPadding) {
    for (bool fips : {true, false}) {
        SCOPED_TRACE(fips);
        if (info) fs = new FakeFS;  // the applet deletes the previous one
        make(fips);
        fs->files[fips ? kFips : kUtf8] = Padded(H("4C 42"));
        fs->files[kLegacy] = Padded(H("58"));
        EXPECT_EQ(Hex(label->read()), Hex(Padded(H("4C 42"))));
        EXPECT_EQ(fs->calls.front(), "select " + PathText(fips ? kFips : kUtf8));
    }
}

TEST_F(KiteLabelTest, ReadFallsBackToTheLegacyFile) {
    make(false);
    fs->files.erase(kUtf8);
    fs->files[kLegacy] = Padded(H("4F 6C 64"));
    EXPECT_EQ(Hex(label->read()), Hex(Padded(H("4F 6C 64"))));
    EXPECT_TRUE(fs->called("select 3F00/6666/1000/0002"));

    // A UTF-8 file that cannot be read also falls back.
    fs->files[kUtf8] = Padded(H("55"));
    fs->failSelect[kUtf8] = 0x6982;
    EXPECT_EQ(Hex(label->read()), Hex(Padded(H("4F 6C 64"))));

    fs->files.erase(kLegacy);
    EXPECT_EQ(RaisedCode([&] { label->read(); }), 0x6A82);
}

TEST_F(KiteLabelTest, NeedsTheInformationFacet) {
    make(false);
    applet.setInfo(new IAppInfo);
    EXPECT_EQ(RaisedCode([&] { label->read(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { label->write(H("41")); }), 0xFACE);
    EXPECT_EQ(label->encoding(), 3);
}

}  // namespace
