// The information facets of Java and Heron: one design, run for both families.
#include "appinfo/info_heron.h"
#include "appinfo/info_java.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct Family;
void PrintTo(const Family& f, std::ostream* os);

struct Family {
    const char* name;
    const char* getData;    // CLA INS of GET DATA
    const char* challenge;  // CLA INS of GET CHALLENGE
    const char* source;
    IAppError* (*error)();
    IAppInfo* (*make)(IApplet*);
};

const Family kJava = {"Java", "00 CA", "80 17", "Externals/Internal/LibAPDU/Source/token/appinfo/info_java",
                      [] { return static_cast<IAppError*>(new CErrorJava); },
                      [](IApplet* a) { return static_cast<IAppInfo*>(new CInfoJava(a)); }};
const Family kHeron = {"Heron", "80 02", "80 12", "Externals/Internal/LibAPDU/Source/token/appinfo/info_heron",
                       [] { return static_cast<IAppError*>(new CErrorHeron); },
                       [](IApplet* a) { return static_cast<IAppInfo*>(new CInfoHeron(a)); }};

struct JavaInfoTest : ::testing::TestWithParam<Family> {
    JavaInfoTest() : applet(&sender, GetParam().error()), fs(new FakeFS), info(GetParam().make(&applet)) {
        applet.setFs(fs);
        applet.setInfo(info);
    }
    TBytes getData(const char* p1p2) const { return H(std::string(GetParam().getData) + " " + p1p2 + " 00"); }

    ScriptedSender sender;
    TestApplet applet;
    FakeFS* fs;
    IAppInfo* info;
};

struct AnswerCase {
    const char* name;
    const char* p1p2;
    const char* reply;
    std::function<TBytes(IAppInfo*)> call;  // the result as bytes
    const char* expected;                   // nullptr: 6281
};

TBytes Number(unsigned int v) { return TBytes{static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)}; }

const auto kId = [](IAppInfo* i) { return i->id(2); };
const auto kVersion = [](IAppInfo* i) { return i->version(1); };
const auto kDate = [](IAppInfo* i) { return i->value(1); };
const auto kColor = [](IAppInfo* i) { return Number(i->color()); };
const auto kTotal = [](IAppInfo* i) { return Number(i->memoryTotal()); };
const auto kFree = [](IAppInfo* i) { return Number(i->memoryFree()); };

const AnswerCase kAnswers[] = {
    {"serial", "01 07", "07 08 01 06 A1 A2 A3 A4 A5 A6 90 00", kId, "A1 A2 A3 A4 A5 A6"},
    {"colour missing", "01 07", "07 08 01 06 A1 A2 A3 A4 A5 A6 90 00", kColor, nullptr},
    {"colour after a skipped object", "01 07", "11 02 01 02 07 03 05 01 2A 90 00", kColor, "00 00 00 2A"},
    {"manufacturing date", "01 07", "07 09 01 01 AA 04 04 20 24 01 31 90 00", kDate, "20 24 01 31"},
    {"version", "01 11", "11 03 05 01 07 90 00", kVersion, "05 01 07"},
    {"empty version", "01 11", "11 00 90 00", kVersion, ""},
    {"total with escaped length", "01 13", "13 FF 00 04 00 01 00 00 90 00", kTotal, "00 01 00 00"},
    {"free of 6 bytes cut to 4", "01 14", "14 06 01 02 03 04 05 06 90 00", kFree, "01 02 03 04"},
    {"free of 2 bytes", "01 14", "14 02 01 02 90 00", kFree, "00 00 01 02"},
    {"free of length 0", "01 14", "14 00 90 00", kFree, "00 00 00 00"},
    {"tag 00 where an object starts", "01 14", "00 02 01 02 90 00", kFree, nullptr},
    {"tag FF where an object starts", "01 07", "FF 02 01 02 90 00", kId, nullptr},
    {"only the status word", "01 11", "90 00", kVersion, nullptr},
    {"value runs past the answer", "01 13", "13 04 00 01 90 00", kTotal, nullptr},
    {"serial runs past object 07", "01 07", "07 03 01 06 A1 A2 A3 A4 A5 A6 90 00", kId, nullptr},
    {"escaped length past the answer", "01 11", "11 FF 00 09 01 02 90 00", kVersion, nullptr},
};

TEST_P(JavaInfoTest, AnswersReadFromTheObjects) {
    for (const AnswerCase& c : kAnswers) {
        SCOPED_TRACE(c.name);
        sender.expect(getData(c.p1p2), H(c.reply), 256);
        if (c.expected) {
            EXPECT_EQ(Hex(c.call(info)), Hex(H(c.expected)));
        } else {
            EXPECT_EQ(RaisedSource([&] { c.call(info); }), GetParam().source);
        }
        EXPECT_TRUE(sender.done());
    }
    sender.expect(getData("01 11"), H("90 00"));
    EXPECT_EQ(RaisedCode([&] { info->version(0); }), 0x6281);
}

TEST_P(JavaInfoTest, EveryKindReadsTheSameSerial) {
    for (unsigned char kind : {0, 1, 2}) {
        sender.expect(getData("01 07"), H("07 04 01 02 C1 C2 90 00"));
        EXPECT_EQ(Hex(info->id(kind)), "C1 C2");
    }
}

TEST_P(JavaInfoTest, ValueOnlyForKindOne) {
    EXPECT_TRUE(info->value(0).empty());
    EXPECT_TRUE(info->value(2).empty());
    EXPECT_TRUE(sender.sent.empty());
}

TEST_P(JavaInfoTest, StatusWordComesBeforeTheWalk) {
    // The card's error, not a malformed answer, is what the caller sees.
    sender.expect(getData("01 07"), H("07 08 01 06 A1 A2 A3 A4 A5 A6 6A 82"));
    EXPECT_EQ(RaisedCode([&] { info->id(2); }), 0x6A82);
}

TEST_P(JavaInfoTest, RandomBytesInPiecesOf32) {
    const std::string cla = GetParam().challenge;
    EXPECT_TRUE(info->rnd(0).empty());
    EXPECT_TRUE(sender.sent.empty());
    TBytes piece(32, 0x42);
    piece.push_back(0x90);
    piece.push_back(0x00);
    sender.expect(H(cla + " 00 00 20"), piece, 34);
    sender.expect(H(cla + " 00 00 01"), H("43 90 00"), 3);
    const TBytes r = info->rnd(33);
    ASSERT_EQ(r.size(), 33u);
    EXPECT_EQ(r[31], 0x42);
    EXPECT_EQ(r[32], 0x43);

    sender.expect(H(cla + " 00 00 02"), H("43 44 45 90 00"));
    EXPECT_EQ(RaisedCode([&] { info->rnd(2); }), 0x6281);
    EXPECT_TRUE(sender.done());
}

TEST_P(JavaInfoTest, FipsFromTheSecondByteOfFile000A) {
    struct Case {
        const char* name;
        const char* file;  // nullptr: no file
        bool fips;
    };
    const Case cases[] = {
        {"flag set", "00 01", true},
        {"flag clear", "01 00", false},
        {"file missing", nullptr, false},
        {"file too short", "01", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFS* f = new FakeFS;
        if (c.file) f->files[{0x000A}] = H(c.file);
        applet.setFs(f);
        std::unique_ptr<IAppInfo> fresh(GetParam().make(&applet));
        EXPECT_EQ(fresh->isFips(), c.fips);
        const size_t calls = f->calls.size();
        EXPECT_EQ(fresh->isFips(), c.fips);
        EXPECT_EQ(f->calls.size(), calls) << "asked the card twice";
        EXPECT_EQ(f->calls.front(), "select 000A");
    }
}

TEST_P(JavaInfoTest, UnofferedOperationsRaiseFace) {
    EXPECT_EQ(RaisedCode([&] { info->isZudezoZudSMSupport(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->getZudezoZudSMInfo(1); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->setZudezoZudSMInfo({}, 0, {}, {}, 0); }), 0xFACE);
}

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

INSTANTIATE_TEST_SUITE_P(Families, JavaInfoTest, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

TEST(JavaInfo, ManufacturingDateIsValueOne) {
    ScriptedSender s;
    TestApplet applet(&s);
    CInfoJava info(&applet);
    s.expect(H("00 CA 01 07 00"), H("07 04 04 02 19 99 90 00"));
    EXPECT_EQ(Hex(info.ManufacturingDate()), "19 99");
}

}  // namespace
