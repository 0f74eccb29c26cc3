// The label facets of Java and Heron: one design, run for both families.
#include "applabel/label_heron.h"
#include "applabel/label_java.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct Family;
void PrintTo(const Family& f, std::ostream* os);

struct Family {
    const char* name;
    const char* resize;  // command start of the resize of the selected file
    const char* marker;  // command start of the change marker
    IAppError* (*error)();
    IAppLabel* (*make)(IApplet*);
};

const Family kJava = {"Java", "80 1A 00 00 04 03 02", "80 1B 00 00 12 10 10",
                      [] { return static_cast<IAppError*>(new CErrorJava); },
                      [](IApplet* a) { return static_cast<IAppLabel*>(new CLabelJava(a)); }};
const Family kHeron = {"Heron", "80 17 00 00 04 03 02", "80 1D 00 00 12 10 10",
                       [] { return static_cast<IAppError*>(new CErrorHeron); },
                       [](IApplet* a) { return static_cast<IAppLabel*>(new CLabelHeron(a)); }};

const path kFile = {0x0002};

struct JavaLabelTest : ::testing::TestWithParam<Family> {
    JavaLabelTest() : applet(&sender, GetParam().error()), fs(new FakeFS) {
        applet.setFs(fs);
        applet.setPin(new FakePin);
        fs->files[kFile] = H("4F 4C 44");
        label = GetParam().make(&applet);
        applet.setLabel(label);
    }
    void expectResize(const char* lhll, const char* answer = "90 00") {
        sender.expect(H(std::string(GetParam().resize) + " " + lhll + " 00"), H(answer), 256);
    }
    void expectMarker(const char* answer = "90 00") {
        sender.expectPrefix(H(GetParam().marker), 7 + 16, H(answer), 2);
    }

    ScriptedSender sender;
    TestApplet applet;
    FakeFS* fs;
    IAppLabel* label;
};

TEST_P(JavaLabelTest, WriteResizesWritesAndMarks) {
    struct Case {
        const char* name;
        TBytes label;
        const char* lhll;
    };
    const Case cases[] = {
        {"five bytes", H("48 45 4C 4C 4F"), "00 05"},
        {"empty", {}, "00 00"},
        {"largest", TBytes(32, 'z'), "00 20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs->calls.clear();
        fs->files[kFile] = {};
        expectResize(c.lhll);
        expectMarker();
        label->write(c.label);
        EXPECT_TRUE(sender.done());
        EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 0002", "select 0002",
                                                       "write " + std::to_string(c.label.size()) + "@0"}));
        EXPECT_EQ(fs->files[kFile], c.label);
    }
}

TEST_P(JavaLabelTest, ChangeMarkerIsFreshWithItsLowestBitSet) {
    std::vector<TBytes> markers;
    for (int i = 0; i < 2; ++i) {
        expectResize("00 01");
        expectMarker();
        label->write(H("41"));
        const TBytes& sent = sender.sent.back();
        markers.emplace_back(sent.begin() + 7, sent.end());
        EXPECT_EQ(markers.back()[0] & 0x01, 0x01);
    }
    EXPECT_NE(markers[0], markers[1]);
}

TEST_P(JavaLabelTest, TooLongLabelSendsNothing) {
    EXPECT_EQ(RaisedCode([&] { label->write(TBytes(33, 'a')); }), 0x6B00);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(fs->calls.empty());
}

TEST_P(JavaLabelTest, RefusedResizeLeavesTheLabel) {
    expectResize("00 02", "6A 84");
    EXPECT_EQ(RaisedCode([&] { label->write(H("41 42")); }), 0x6400);
    EXPECT_EQ(Hex(fs->files[kFile]), "4F 4C 44");
    EXPECT_TRUE(sender.done());
}

TEST_P(JavaLabelTest, RefusedMarkerIsReported) {
    fs->files[kFile] = {};  // as the resize leaves it
    expectResize("00 02");
    expectMarker("69 82");
    EXPECT_EQ(RaisedCode([&] { label->write(H("41 42")); }), 0x6900);
    EXPECT_EQ(Hex(fs->files[kFile]), "41 42");  // nothing is rolled back
}

TEST_P(JavaLabelTest, ReadReturnsTheWholeFile) {
    fs->files[kFile] = H("41 00 20");
    EXPECT_EQ(Hex(label->read()), "41 00 20");
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select 0002", "info", "read 3@0"}));
    EXPECT_EQ(label->encoding(), 3);
    EXPECT_TRUE(sender.sent.empty());
}

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

INSTANTIATE_TEST_SUITE_P(Families, JavaLabelTest, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

}  // namespace
