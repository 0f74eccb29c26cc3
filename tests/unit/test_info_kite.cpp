#include "appinfo/info_kite.h"
#include "info_test_support.h"

using namespace infotest;

namespace {

struct KiteInfoTest : ::testing::Test {
    KiteInfoTest() : applet(&sender, new CErrorKite), fs(new FakeFS), info(new CInfoKite(&applet)) {
        applet.setFs(fs);
        applet.setInfo(info);
    }
    ScriptedSender sender;
    TestApplet applet;
    FakeFS* fs;
    CInfoKite* info;
};

TBytes WithSW(size_t dataBytes, unsigned char first = 0) {
    TBytes r(dataBytes, 0);
    for (size_t i = 0; i < dataBytes; ++i) r[i] = static_cast<unsigned char>(first + i);
    r.push_back(0x90);
    r.push_back(0x00);
    return r;
}

// ---------------------------------------------------------------- GET DATA

TEST_F(KiteInfoTest, VersionAndSerial) {
    sender.expect(H("00 CA 01 82 00"), H("04 02 90 00"), 258);
    EXPECT_EQ(Hex(info->version(7)), "04 02");

    // Every kind but 1 reads the serial number, bytes 10 to 15.
    for (unsigned char kind : {0, 2, 3}) {
        sender.expect(H("00 CA 01 81 00"), WithSW(16, 0xA0), 258);
        EXPECT_EQ(Hex(info->id(kind)), "AA AB AC AD AE AF");
    }
    EXPECT_TRUE(sender.done());
}

TEST_F(KiteInfoTest, ShortAnswersRaise6281) {
    struct Case {
        const char* name;
        const char* command;
        TBytes answer;
        std::function<void(CInfoKite*)> call;
    };
    const Case cases[] = {
        {"version, 1 data byte", "00 CA 01 82 00", WithSW(1), [](CInfoKite* i) { i->version(1); }},
        {"serial, 15 data bytes", "00 CA 01 81 00", WithSW(15), [](CInfoKite* i) { i->id(2); }},
        {"total, 3 data bytes", "00 CA 01 89 00", WithSW(3), [](CInfoKite* i) { i->memoryTotal(); }},
        {"free, 3 data bytes", "00 CA 01 8A 00", WithSW(3), [](CInfoKite* i) { i->memoryFree(); }},
        {"free, 1 data byte", "00 CA 01 8A 00", WithSW(1), [](CInfoKite* i) { i->memoryFree(); }},
        {"only a status word", "00 CA 01 81 00", H("90 00"), [](CInfoKite* i) { i->id(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sender.expect(H(c.command), c.answer);
        EXPECT_EQ(RaisedSource([&] { c.call(info); }),
                  "Externals/Internal/LibAPDU/Source/token/appinfo/info_kite");
    }
    sender.expect(H("00 CA 01 82 00"), WithSW(1));
    EXPECT_EQ(RaisedCode([&] { info->version(1); }), 0x6281);
    EXPECT_TRUE(sender.done());
}

TEST_F(KiteInfoTest, StatusWordGoesThroughTheErrorFacet) {
    sender.expect(H("00 CA 01 81 00"), H("6A 82"));
    EXPECT_EQ(RaisedCode([&] { info->id(2); }), 0x6A82);
    // Kite maps 6F86 to "not found" before the base table.
    sender.expect(H("00 CA 01 82 00"), H("01 02 6F 86"));
    EXPECT_EQ(RaisedCode([&] { info->version(0); }), 0x6A82);
}

TEST_F(KiteInfoTest, MemorySelectsTheApplicationDirectoryFirst) {
    sender.expect(H("00 CA 01 89 00"), H("00 00 00 40 90 00"), 256);
    EXPECT_EQ(info->memoryTotal(), 65536u);
    sender.expect(H("00 CA 01 8A 00"), H("01 00 90 00"), 256);
    EXPECT_EQ(info->memoryFree(), 256u);
    EXPECT_EQ(fs->calls, (std::vector<std::string>{"select ", "select "}));

    sender.expect(H("00 CA 01 8A 00"), H("01 00 00 90 00"));
    EXPECT_EQ(RaisedCode([&] { info->memoryFree(); }), 0x6281);
}

TEST_F(KiteInfoTest, MemoryWithoutFileSystemRaisesFace) {
    applet.setFs(new IAppFS);
    EXPECT_EQ(RaisedCode([&] { info->memoryTotal(); }), 0xFACE);
    EXPECT_TRUE(sender.sent.empty());
}

// ---------------------------------------------------------------- random bytes

TEST_F(KiteInfoTest, RandomBytesInPiecesOf240) {
    EXPECT_TRUE(info->rnd(0).empty());
    EXPECT_TRUE(sender.sent.empty());

    sender.expect(H("00 84 00 00 F0"), WithSW(240), 242);
    sender.expect(H("00 84 00 00 01"), H("77 90 00"), 3);
    const TBytes r = info->rnd(241);
    ASSERT_EQ(r.size(), 241u);
    EXPECT_EQ(r[239], 239);
    EXPECT_EQ(r[240], 0x77);

    sender.expect(H("00 84 00 00 F0"), WithSW(240));
    EXPECT_EQ(info->rnd(240).size(), 240u);

    sender.expect(H("00 84 00 00 08"), WithSW(7));
    EXPECT_EQ(RaisedCode([&] { info->rnd(8); }), 0x6281);
    EXPECT_TRUE(sender.done());
}

// ---------------------------------------------------------------- FIPS and colour

TEST_F(KiteInfoTest, FipsProbeIsAskedOnce) {
    for (bool present : {true, false}) {
        SCOPED_TRACE(present);
        FakeFS* f = new FakeFS;
        if (present) f->files[{0x3F00, 0x6666, 0x5000, 0x0002}] = TBytes(4);
        applet.setFs(f);
        CInfoKite fresh(&applet);
        EXPECT_EQ(fresh.isFips(), present);
        EXPECT_EQ(fresh.isFips(), present);
        EXPECT_EQ(f->calls, (std::vector<std::string>{"select 3F00/6666/5000/0002"}));
    }
}

TEST_F(KiteInfoTest, FipsWithoutFileSystemIsNotFips) {
    applet.setFs(new IAppFS);
    EXPECT_FALSE(info->isFips());
}

TEST_F(KiteInfoTest, ColourFromTheFileOfEachLayout) {
    struct Case {
        bool fips;
        path file;
        const char* read;
    };
    const Case cases[] = {
        {true, {0x3F00, 0x6666, 0x5000, 0x000A}, "read 1@2"},
        {false, {0x3F00, 0x6666, 0x1000, 0x0006}, "read 1@0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fips);
        FakeFS* f = new FakeFS;
        if (c.fips) f->files[{0x3F00, 0x6666, 0x5000, 0x0002}] = TBytes(4);
        f->files[c.file] = c.fips ? H("00 00 03") : H("05");
        applet.setFs(f);
        CInfoKite fresh(&applet);
        EXPECT_EQ(fresh.color(), c.fips ? 3u : 5u);
        EXPECT_TRUE(f->called("select " + PathText(c.file)));
        EXPECT_TRUE(f->called(c.read));
    }
}

TEST_F(KiteInfoTest, ColourFileMissingAnswersNotAvailable) {
    EXPECT_EQ(info->color(), 0xFFFFFFFFu);
    applet.setFs(new IAppFS);
    CInfoKite fresh(&applet);
    EXPECT_EQ(fresh.color(), 0xFFFFFFFFu);
}

// ---------------------------------------------------------------- control channel

const unsigned int kCode = 0x9C41264C;

TEST_F(KiteInfoTest, TokenNumberFromTheBasicInformation) {
    sender.expectControl(kCode, H("02 00 00 00"), H("10 11 12 13 04 03 02 01"));
    EXPECT_EQ(Hex(info->readBasicInfo()), "10 11 12 13 04 03 02 01");
    sender.expectControl(kCode, H("02 00 00 00"), H("10 11 12 13 04 03 02 01"));
    EXPECT_EQ(Hex(info->id(1)), "01 02 03 04");
    EXPECT_TRUE(sender.done());
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(KiteInfoTest, BasicInformationOfWrongLength) {
    for (const char* out : {"", "01 02 03 04 05 06 07", "01 02 03 04 05 06 07 08 09"}) {
        SCOPED_TRACE(out);
        sender.expectControl(kCode, H("02 00 00 00"), H(out));
        EXPECT_EQ(RaisedCode([&] { info->readBasicInfo(); }), 0x6281);
        sender.expectControl(kCode, H("02 00 00 00"), H(out));
        EXPECT_EQ(RaisedCode([&] { info->id(1); }), 0xFACE);
    }
}

// A reader without a control channel (the Java transports) leaves the reply as
// it was handed over: that must never read as a block of zeroes.
TEST_F(KiteInfoTest, ControlThatDoesNothingNeverPassesForSuccess) {
    sender.controlMode = ScriptedSender::Control::DoesNothing;
    EXPECT_EQ(RaisedCode([&] { info->readBasicInfo(); }), 0x6281);
    EXPECT_EQ(RaisedCode([&] { info->id(1); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->corvidID(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->readCfg(); }), 0x6281);
    for (size_t n : sender.controlOutSizes) EXPECT_EQ(n, 0u);

    sender.controlMode = ScriptedSender::Control::NotSupported;
    EXPECT_EQ(RaisedCode([&] { info->readBasicInfo(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->id(1); }), 0xFACE);
}

TEST_F(KiteInfoTest, ConfigurationBlock) {
    const TBytes lengthStep = H("01 00 00 00 C0 AA 00 00 00 00 03 00");
    sender.expectControl(kCode, lengthStep, H("00 03 00"));
    sender.expectControl(kCode, H("01 00 00 00 C0 AA 00 00 01 00 04 00"), H("C1 C2 C3 00"));
    EXPECT_EQ(Hex(info->readCfg()), "C1 C2 C3");

    sender.expectControl(kCode, lengthStep, H("00 00 00"));
    sender.expectControl(kCode, H("01 00 00 00 C0 AA 00 00 01 00 01 00"), H("00"));
    EXPECT_TRUE(info->readCfg().empty());

    // n + 1 goes low byte first.
    TBytes block(0x1234 + 1, 0x11);
    block.back() = 0x00;
    sender.expectControl(kCode, lengthStep, H("12 34 00"));
    sender.expectControl(kCode, H("01 00 00 00 C0 AA 00 00 01 00 35 12"), block);
    EXPECT_EQ(info->readCfg().size(), 0x1234u);
    EXPECT_TRUE(sender.done());
}

TEST_F(KiteInfoTest, ConfigurationBlockRefusals) {
    const TBytes lengthStep = H("01 00 00 00 C0 AA 00 00 00 00 03 00");
    struct Case {
        const char* name;
        const char* head;
        const char* block;  // nullptr: the block step is not reached
    };
    const Case cases[] = {
        {"length step of 2 bytes", "00 03", nullptr},
        {"length step of 4 bytes", "00 03 00 00", nullptr},
        {"length step not ending in 00", "00 03 01", nullptr},
        {"length that cannot be asked for", "FF FF 00", nullptr},
        {"block one byte short", "00 03 00", "C1 C2 00"},
        {"block one byte long", "00 03 00", "C1 C2 C3 00 00"},
        {"block not ending in 00", "00 03 00", "C1 C2 C3 01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sender.expectControl(kCode, lengthStep, H(c.head));
        if (c.block) sender.expectControl(kCode, H("01 00 00 00 C0 AA 00 00 01 00 04 00"), H(c.block));
        EXPECT_EQ(RaisedCode([&] { info->readCfg(); }), 0x6281);
        EXPECT_TRUE(sender.done());
    }
}

TEST_F(KiteInfoTest, UnofferedOperationsRaiseFace) {
    EXPECT_EQ(RaisedCode([&] { info->value(1); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->isZudezoZudSMSupport(); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { info->getZudezoZudSMInfo(0); }), 0xFACE);
    EXPECT_TRUE(sender.sent.empty());
}

}  // namespace
