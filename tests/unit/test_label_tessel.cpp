#include "applabel/label_tessel.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

const path kFile = {0x3F00, 0x3000, 0xC000};

struct TesselLabelTest : ::testing::Test {
    TesselLabelTest() : applet(&sender, new CErrorTessel), fs(new FakeFS) {
        applet.setFs(fs);
        fs->files[kFile] = TBytes(32, 0x00);
        label = new CLabelTessel(&applet);
        applet.setLabel(label);
    }
    ScriptedSender sender;
    TestApplet applet;
    FakeFS* fs;
    CLabelTessel* label;
};

TEST_F(TesselLabelTest, WritePadsWithBlanksAndReadDropsThem) {
    struct Case {
        const char* name;
        TBytes label;
        TBytes stored;
        TBytes readBack;
    };
    const TBytes full(32, 'x');
    const Case cases[] = {
        {"empty", {}, TBytes(32, 0x20), {}},
        {"short", H("41 42"), Concat(H("41 42"), TBytes(30, 0x20)), H("41 42")},
        {"inner blank kept", H("41 20 42 20"), Concat(H("41 20 42"), TBytes(29, 0x20)), H("41 20 42")},
        {"full", full, full, full},
        {"7-bit bounds", H("01 7F"), Concat(H("01 7F"), TBytes(30, 0x20)), H("01 7F")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs->calls.clear();
        label->write(c.label);
        EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 3F00/3000/C000", "write 32@0"}));
        EXPECT_EQ(Hex(fs->files[kFile]), Hex(c.stored));
        EXPECT_EQ(Hex(label->read()), Hex(c.readBack));
    }
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(TesselLabelTest, ReadDropsTrailingZeroesAndBlanksOnly) {
    fs->files[kFile] = Concat(H("20 4B 20 00 20 00"), TBytes(26, 0x00));
    fs->calls.clear();
    EXPECT_EQ(Hex(label->read()), "20 4B");
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 3F00/3000/C000", "read 32@0"}));
}

TEST_F(TesselLabelTest, RefusedLabelsTouchNothing) {
    const TBytes cases[] = {TBytes(33, 'a'), H("41 80"), H("FF"), H("41 00 42")};
    for (const TBytes& c : cases) {
        SCOPED_TRACE(Hex(c));
        EXPECT_EQ(RaisedCode([&] { label->write(c); }), 0x6B00);
    }
    EXPECT_TRUE(fs->calls.empty());
    EXPECT_EQ(fs->files[kFile], TBytes(32, 0x00));
}

TEST_F(TesselLabelTest, CardErrorsPassThrough) {
    fs->failWrite[kFile] = 0x6982;
    EXPECT_EQ(RaisedCode([&] { label->write(H("41")); }), 0x6982);
    fs->files.erase(kFile);
    EXPECT_EQ(RaisedCode([&] { label->read(); }), 0x6A82);
}

TEST_F(TesselLabelTest, EncodingIsUtf8) { EXPECT_EQ(label->encoding(), 3); }

}  // namespace
