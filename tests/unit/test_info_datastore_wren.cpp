// The information facets of DataStore and Wren against a scripted card: the
// status and configuration records, and the memory figures of the platform
// applet with the token applet selected again afterwards.
#include <gtest/gtest.h>

#include "applet_datastore.h"
#include "applet_wren.h"
#include "appinfo/info_datastore.h"
#include "appinfo/info_wren.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;
using testing_card::ToHex;

namespace {

const char kSelectPlatform[] = "00 A4 04 00 08 A0 00 00 04 48 FF 00 00";
const char kPlatformMemory[] = "80 EC A2 10";
const char kSelectDataStore[] = "00 A4 04 00 08 A0 00 00 04 48 00 03 01";
const char kStatus[] = "80 30 30 00 00";
const char kConfig[] = "00 DA 00 00 01 00 00";

TBytes Record(size_t n) {
    TBytes r(n, 0);
    for (size_t i = 0; i < n; ++i) r[i] = static_cast<unsigned char>(0x40 + i);
    return r;
}
TBytes WithSw(const TBytes& data) { return Concat(data, {0x90, 0x00}); }

// A platform answer of `n` bytes in all: A = 2, B = 8, free 00 10 00 00.
TBytes PlatformAnswer(size_t n) {
    TBytes r(n - 2, 0);
    r[16] = 0x02;
    r[20] = 0x08;
    r[r.size() - 3] = 0x10;
    return WithSw(r);
}

struct DataStoreInfo {
    ScriptedSender card;
    CAppletDataStore applet{&card};
    CInfoDataStore& info() { return *static_cast<CInfoDataStore*>(applet.info()); }
};

TEST(InfoDataStore, StatusRecordFigures) {
    DataStoreInfo t;
    TBytes r30 = Record(30);
    r30[5] = 0x12;
    r30[6] = 0x34;
    TBytes r34 = Record(34);
    t.card.expect(Hex(kStatus), WithSw(r30), 258)
        .expect(Hex(kStatus), WithSw(r30), 258)
        .expect(Hex(kSelectPlatform), Hex("6A 82"), 258)
        .expect(Hex(kStatus), WithSw(r30), 258)
        .expect(Hex(kSelectPlatform), Hex("6A 82"), 258)
        .expect(Hex(kSelectPlatform), Hex("6A 82"), 258)
        .expect(Hex(kStatus), WithSw(r34), 258);
    EXPECT_EQ(ToHex(t.info().version(0)), "40 41 42");
    EXPECT_EQ(ToHex(t.info().id(0)), "56 57 58 59 5A 5B 5C 5D");
    EXPECT_EQ(t.info().memoryFree(), 4660u);
    // No platform applet: no total, and the token applet was never left.
    EXPECT_EQ(t.info().memoryTotal(), 0xFFFFFFFFu);
    EXPECT_EQ(t.info().memoryFree(), 0x5E5F6061u);
    EXPECT_TRUE(t.card.done());
    EXPECT_EQ(t.info().color(), 0xFFFFFFFFu);
    EXPECT_FALSE(t.info().isFips());
    EXPECT_EQ(CodeOf([&] { t.info().rnd(8); }), 0xFACE);
    EXPECT_EQ(t.card.sent.size(), 7u);
}

TEST(InfoDataStore, StatusRecordsOfOtherLengthsAreRefused) {
    for (size_t n : {0, 29, 31, 32, 35}) {
        SCOPED_TRACE(n);
        DataStoreInfo t;
        t.card.expect(Hex(kStatus), WithSw(Record(n))).expect(Hex(kStatus), WithSw(Record(n)));
        t.card.expect(Hex(kSelectPlatform), Hex("6A 82")).expect(Hex(kStatus), WithSw(Record(n)));
        EXPECT_EQ(CodeOf([&] { t.info().version(0); }), 0x6281);
        EXPECT_EQ(CodeOf([&] { t.info().id(0); }), 0x6281);
        EXPECT_EQ(CodeOf([&] { t.info().memoryFree(); }), 0x6281);
    }
}

TEST(InfoDataStore, PlatformMemoryAndTheReturnToTheApplet) {
    for (size_t n : {46, 58}) {
        SCOPED_TRACE(n);
        DataStoreInfo t;
        for (int i = 0; i < 2; ++i)
            t.card.expect(Hex(kSelectPlatform), Hex("90 00"), 258)
                .expect(Hex(kPlatformMemory), PlatformAnswer(n), 258)
                .expect(Hex(kSelectDataStore), Hex("90 00"), 258);
        EXPECT_EQ(t.info().memoryTotal(), 8192u);
        EXPECT_EQ(t.info().memoryFree(), 4096u);
        EXPECT_TRUE(t.card.done());
    }
    // 47 bytes: no figures, the applet is selected again, and the record answers instead.
    DataStoreInfo t;
    TBytes r30 = Record(30);
    r30[5] = 0x00;
    r30[6] = 0x80;
    t.card.expect(kSelectPlatform, "90 00")
        .expect(Hex(kPlatformMemory), PlatformAnswer(47))
        .expect(kSelectDataStore, "90 00")
        .expect(Hex(kStatus), WithSw(r30))
        .expect(kSelectPlatform, "90 00")
        .expect(kPlatformMemory, "6D 00")
        .expect(kSelectDataStore, "90 00");
    EXPECT_EQ(t.info().memoryFree(), 0x80u);
    EXPECT_EQ(t.info().memoryTotal(), 0xFFFFFFFFu);
    EXPECT_TRUE(t.card.done());
}

struct WrenInfo {
    ScriptedSender card;
    CAppletWren applet{&card};
    CInfoWren& info() { return *static_cast<CInfoWren*>(applet.info()); }
};

TEST(InfoWren, ConfigurationRecordFigures) {
    WrenInfo t;
    TBytes c = Record(19);
    c[6] = 0x00;
    c[7] = 0x40;  // 4000 total, low byte first
    c[16] = 0x34;
    c[17] = 0x12;
    c[18] = 0x07;
    const TBytes answer = Concat(c, {0x00, 0x90});  // the status word in the card's order
    for (int i = 0; i < 5; ++i) t.card.expect(Hex(kConfig), answer, 258);
    EXPECT_EQ(ToHex(t.info().id(0)), "40 41 42 43");
    EXPECT_EQ(ToHex(t.info().version(0)), "44 45");
    EXPECT_EQ(t.info().memoryTotal(), 0x4000u);
    EXPECT_EQ(t.info().memoryFree(), 0x1234u);
    EXPECT_EQ(t.info().color(), 0x07u);
    EXPECT_TRUE(t.card.done());
    EXPECT_FALSE(t.info().isFips());
    EXPECT_EQ(CodeOf([&] { t.info().rnd(4); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { t.info().value(0); }), 0xFACE);
    EXPECT_EQ(t.card.sent.size(), 5u);
}

TEST(InfoWren, ShortConfigurationRecordsAreRefused) {
    for (size_t n : {0, 1, 18}) {
        SCOPED_TRACE(n);
        WrenInfo t;
        t.card.expect(Hex(kConfig), Concat(Record(n), {0x00, 0x90}));
        EXPECT_EQ(CodeOf([&] { t.info().color(); }), 0x6281);
    }
    WrenInfo t;
    t.card.expect(Hex(kConfig), Hex("82 69"));
    EXPECT_EQ(CodeOf([&] { t.info().id(0); }), 0x6900);
}

}  // namespace
