#include "appinfo/info_javamanager.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct JavaManagerInfoTest : ::testing::Test {
    JavaManagerInfoTest() : applet(&sender), info(new CInfoJavaManager(&applet)) { applet.setInfo(info); }
    ScriptedSender sender;
    TestApplet applet;
    CInfoJavaManager* info;
};

// A life-cycle answer of n data bytes: 9F 7F, its length, then counting bytes.
TBytes LifeCycle(size_t n, const char* sw = "90 00") {
    TBytes r;
    for (size_t i = 0; i < n; ++i) r.push_back(static_cast<unsigned char>(0xB0 + i));
    if (n >= 1) r[0] = 0x9F;
    if (n >= 2) r[1] = 0x7F;
    if (n >= 3) r[2] = static_cast<unsigned char>(n - 3);
    return Concat(r, H(sw));
}

TEST_F(JavaManagerInfoTest, VersionIsByteTwelveThenByteEleven) {
    for (size_t n : {13u, 45u}) {
        SCOPED_TRACE(n);
        sender.expect(H("80 CA 9F 7F 00"), LifeCycle(n), 256);
        EXPECT_EQ(Hex(info->version(1)), "BC BB");
    }
    EXPECT_TRUE(sender.done());
}

// A truncated answer must not yield a version: the acceptance check of Java
// tokens reads its first byte.
TEST_F(JavaManagerInfoTest, VersionNeedsThirteenDataBytes) {
    for (size_t n : {0u, 10u, 11u, 12u}) {
        SCOPED_TRACE(n);
        sender.expect(H("80 CA 9F 7F 00"), LifeCycle(n), 256);
        EXPECT_EQ(RaisedSource([&] { info->version(1); }),
                  "Externals/Internal/LibAPDU/Source/token/appinfo/info_javamanager");
    }
    // Twelve data bytes and the status word: 14 bytes, still too short.
    sender.expect(H("80 CA 9F 7F 00"), LifeCycle(12));
    EXPECT_EQ(RaisedCode([&] { info->version(1); }), 0x6281);
}

TEST_F(JavaManagerInfoTest, VersionStatusWordGoesThroughTheJavaMapping) {
    sender.expect(H("80 CA 9F 7F 00"), LifeCycle(20, "67 07"));
    EXPECT_EQ(RaisedCode([&] { info->version(1); }), 0x6A82);
}

TEST_F(JavaManagerInfoTest, IdentityAndObject01) {
    struct Case {
        const char* name;
        bool id;
        const char* reply;
        const char* expected;  // nullptr: 6281
    };
    const Case cases[] = {
        {"identity", true, "46 03 01 02 03 90 00", "01 02 03"},
        {"identity after another object", true, "42 01 00 46 02 0A 0B 90 00", "0A 0B"},
        {"identity missing", true, "42 01 00 90 00", nullptr},
        {"identity running past the answer", true, "46 05 01 02 03 90 00", nullptr},
        {"identity with tag 00 in front", true, "00 01 00 46 01 01 90 00", nullptr},
        {"object 01", false, "01 02 CC DD 90 00", "CC DD"},
        {"object 01 escaped length", false, "01 FF 00 02 CC DD 90 00", "CC DD"},
        {"object 01 missing", false, "90 00", nullptr},
        {"object 01 escape cut short", false, "01 FF 00 90 00", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sender.expect(H(c.id ? "80 CA 00 46 00" : "00 CA 00 01 00"), H(c.reply), 256);
        auto call = [&] { return c.id ? info->id(2) : info->value(2); };
        if (c.expected) {
            EXPECT_EQ(Hex(call()), Hex(H(c.expected)));
        } else {
            EXPECT_EQ(RaisedCode(call), 0x6281);
        }
    }
    EXPECT_TRUE(sender.done());
}

TEST_F(JavaManagerInfoTest, OtherValuesAreEmptyWithoutCommand) {
    for (unsigned char kind : {0, 1, 3}) EXPECT_TRUE(info->value(kind).empty());
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(JavaManagerInfoTest, UnofferedOperationsRaiseFace) {
    EXPECT_EQ(RaisedCode([&] { info->isFips(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->rnd(8); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->color(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->memoryFree(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->memoryTotal(); }), 0xFACE);
    EXPECT_TRUE(sender.sent.empty());
}

}  // namespace
