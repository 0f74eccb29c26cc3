#include "applabel/label_wren.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

const path kDir = {0x8000};
const path kFile = {0x8000, 0xAAAA};

struct WrenLabelTest : ::testing::Test {
    WrenLabelTest() : applet(&sender, new CErrorWren), fs(new FakeFS) {
        applet.setFs(fs);
        applet.setPin(new FakePin);
        label = new CLabelWren(&applet);
        applet.setLabel(label);
    }
    ScriptedSender sender;
    TestApplet applet;
    FakeFS* fs;
    CLabelWren* label;
};

TEST_F(WrenLabelTest, WriteOnATokenWithoutLabel) {
    label->write(H("57 52 45 4E"));
    EXPECT_EQ(fs->calls, (std::vector<std::string>{
                             "select 8000/AAAA",  // 6A82, dropped
                             "select 8000", "select ", "select ",
                             "create 8000 type 2 size 0 access 00 11",
                             "select 8000", "create AAAA type 1 size 4 access 00 11",
                             "select 8000/AAAA", "write 4@0"}));
    EXPECT_EQ(Hex(fs->files[kFile]), "57 52 45 4E");
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(WrenLabelTest, WriteReplacesTheOldFile) {
    fs->dirs.insert(kDir);
    fs->files[kFile] = H("4F 4C 44 21 21");
    label->write(H("4E 45"));
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 8000/AAAA", "remove", "select 8000", "select 8000",
                                                   "create AAAA type 1 size 2 access 00 11", "select 8000/AAAA",
                                                   "write 2@0"}));
    EXPECT_EQ(Hex(fs->files[kFile]), "4E 45");
    EXPECT_EQ(Hex(label->read()), "4E 45");
}

TEST_F(WrenLabelTest, EmptyLabelMakesAnEmptyFile) {
    fs->dirs.insert(kDir);
    label->write({});
    EXPECT_TRUE(fs->called("create AAAA type 1 size 0 access 00 11"));
    EXPECT_TRUE(fs->called("write 0@0"));
    EXPECT_TRUE(fs->files[kFile].empty());
}

TEST_F(WrenLabelTest, RefusedLabelsTouchNothing) {
    for (const TBytes& c : {TBytes(33, 'a'), H("41 00 42"), H("00")}) {
        SCOPED_TRACE(Hex(c));
        EXPECT_EQ(RaisedCode([&] { label->write(c); }), 0x6B00);
    }
    EXPECT_TRUE(fs->calls.empty());
}

TEST_F(WrenLabelTest, RemovalErrorOtherThanNotFoundPasses) {
    fs->dirs.insert(kDir);
    fs->files[kFile] = H("4F");
    fs->failRemove = 0x6982;
    EXPECT_EQ(RaisedCode([&] { label->write(H("41")); }), 0x6982);
    EXPECT_EQ(Hex(fs->files[kFile]), "4F");
    EXPECT_FALSE(fs->called("select 8000"));
}

TEST_F(WrenLabelTest, DirectoryStepErrorsAreDropped) {
    // Neither 8000 nor the application directory can be reached: the directory
    // step fails quietly and the create step reports the real failure.
    fs->failSelect[path()] = 0x6982;
    EXPECT_EQ(RaisedCode([&] { label->write(H("41")); }), 0x6A82);
    EXPECT_EQ(fs->calls.back(), "select 8000");

    // A token whose user PIN cannot be named: the directory description fails
    // and is dropped too; the file description then reports it.
    fs->failSelect.clear();
    fs->calls.clear();
    applet.setPin(new IAppPin);
    EXPECT_EQ(RaisedCode([&] { label->write(H("41")); }), 0xFACE);
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 8000/AAAA"}));
}

TEST_F(WrenLabelTest, ReadReturnsTheWholeFile) {
    fs->dirs.insert(kDir);
    fs->files[kFile] = H("41 42 43");
    EXPECT_EQ(Hex(label->read()), "41 42 43");
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 8000/AAAA", "info", "read 3@0"}));
    EXPECT_EQ(label->encoding(), 2);
}

}  // namespace
