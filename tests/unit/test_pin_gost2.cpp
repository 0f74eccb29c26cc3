#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppin/pin_gost2.h"
#include "pin_test_applet.h"

using namespace libapdu;
using namespace keyshelf_test;

namespace {

const char kStatus[] = "80 38 20 00 00";

// A status record for the applet version; the PIN entry starts at 12 up to
// version 6 and at 13 from version 7.
TBytes Record(unsigned char version, unsigned char verified, unsigned char limit, unsigned char failures,
              unsigned char lengthCode) {
    const size_t i = version <= 6 ? 12 : 13;
    TBytes r(version <= 6 ? 32 : 33, 0xEE);
    r[0] = 2;
    r[1] = version;
    r[i - 1] = verified;
    r[i] = limit;
    r[i + 1] = failures;
    r[i + 9] = lengthCode;
    return r;
}

TBytes StatusAnswer(unsigned char verified = 0, unsigned char version = 7) {
    return Concat(Record(version, verified, 10, 2, 0x20), {0x90, 0x00});  // min length 7
}

// A version 7 record that lost its last byte.
TBytes ShortRecord() {
    TBytes r = Record(7, 1, 10, 0, 0);
    r.pop_back();
    return r;
}

TEST(Gost2StatusRecord, TheVersionPlacesThePinEntry) {
    struct Case {
        unsigned char version, verified, limit, failures, lengthCode;
        unsigned char left;
        unsigned short state, minL;
    } cases[] = {
        {6, 1, 10, 3, 0x00, 7, 0xFF, 6},
        {0, 0, 5, 0, 0x20, 5, 0x00, 7},
        {7, 1, 15, 15, 0xE0, 0, 0xFF, 13},
        {9, 2, 3, 0, 0x1F, 3, 0x00, 6},   // only exactly 1 means verified; the low bits are no length
        {7, 0, 3, 9, 0x40, 0, 0x00, 8},   // more failures than the limit: blocked, not wrapped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.version));
        const PinInfo p = ParseGost2PinStatus(Record(c.version, c.verified, c.limit, c.failures, c.lengthCode));
        EXPECT_EQ(p.triesMax, c.limit);
        EXPECT_EQ(p.triesLeft, c.left);
        EXPECT_EQ(p.loginState, c.state);
        EXPECT_EQ(p.minLength, c.minL);
        EXPECT_EQ(p.maxLength, 32);
    }
}

TEST(Gost2StatusRecord, RecordsOfTheWrongKindOrLengthAreRefused) {
    TBytes wrongKind = Record(7, 1, 10, 0, 0);
    wrongKind[0] = 1;
    const TBytes v7Short = ShortRecord();
    TBytes v6Long = Record(6, 1, 10, 0, 0);
    v6Long.push_back(0);
    const TBytes cases[] = {{}, {0x02}, {0x02, 0x07}, wrongKind, v7Short, v6Long, TBytes(33, 0x02)};
    for (const TBytes& c : cases) EXPECT_EQ(RaisedCode([&] { ParseGost2PinStatus(c); }), 0x6281) << ToHex(c);
}

using Gost2Card = FamilyCard<CErrorGost2, CPinGost2>;

TEST(Gost2Pin, DesignatorsAndEncoding) {
    Gost2Card t;
    EXPECT_EQ(t.pin->pathUser(), path{2});
    EXPECT_EQ(t.pin->pathAdmin(), path{1});
    EXPECT_TRUE(t.pin->pathGlobal().empty());
    EXPECT_EQ(t.pin->encoding(), 2);
}

TEST(Gost2Pin, SelectReadsTheRecordWhateverTheDesignator) {
    for (const path& designator : {path{2}, path{1}, path{}}) {
        Gost2Card t;
        t.card.expect(Hex(kStatus), StatusAnswer(1, 6));
        t.pin->select(designator);
        EXPECT_EQ(t.pin->info().triesLeft, 8);
        EXPECT_EQ(t.pin->info().loginState, 0xFF);
        EXPECT_EQ(t.card.capacities[0], 35u);
    }
}

TEST(Gost2Pin, SelectFailuresLeaveTheUnknownRecord) {
    const struct {
        const char* name;
        TBytes answer;
        unsigned short code;
    } cases[] = {
        {"bare 9000", {0x90, 0x00}, 0x6281},
        {"record one byte short", Concat(ShortRecord(), {0x90, 0x00}), 0x6281},
        {"card error", {0x6A, 0x82}, 0x6A82},
        {"success only as 9000", Concat(Record(7, 1, 10, 0, 0), {0x61, 0x00}), 0xFFFF},
        {"nothing came back", {0x00, 0x00}, 0xFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Gost2Card t;
        t.card.expect(Hex(kStatus), StatusAnswer(1)).expect(Hex(kStatus), c.answer);
        t.pin->select({2});
        EXPECT_EQ(RaisedCode([&] { t.pin->select({2}); }), c.code);
        EXPECT_EQ(t.pin->info().loginState, 0x10);
        EXPECT_EQ(t.pin->info().triesLeft, 0xFF);
    }
}

TEST(Gost2Pin, LoginAlwaysNamesPinTwo) {
    Gost2Card t;
    t.card.expect(Hex(kStatus), StatusAnswer()).expect("80 0A 10 00 09 02 07 31 32 33 34 35 36 37", "90 00");
    t.pin->select({1});
    t.pin->login({'1', '2', '3', '4', '5', '6', '7'});
    EXPECT_EQ(t.pin->info().triesLeft, 10);
    EXPECT_EQ(t.pin->info().loginState, 0xFF);
}

TEST(Gost2Pin, WrongAndBlockedPins) {
    struct Case {
        const char* answer;
        unsigned short code;
    } cases[] = {{"67 01", 0x6300}, {"67 02", 0x6300}, {"67 04", 0x6300}, {"67 03", 0x6983}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Gost2Card t;
        t.card.expect(Hex(kStatus), StatusAnswer()).expect("80 0A 10 00 09 02 07 30 30 30 30 30 30 30", c.answer);
        t.pin->select({2});
        EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(7, '0')); }), c.code);
        EXPECT_EQ(t.pin->info().triesLeft, 7);
        EXPECT_EQ(t.pin->info().loginState, 0x00);
    }
}

TEST(Gost2Pin, PinsOutsideTheCardsLengthsAreRefusedBeforeAnythingIsSent) {
    Gost2Card t;
    t.card.expect(Hex(kStatus), StatusAnswer(1));  // lengths 7 to 32
    t.pin->select({2});
    for (size_t size : {0u, 6u, 33u, 255u}) {
        EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(size, '1')); }), 0x6B00) << size;
        EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(size, '1')); }), 0x6B00) << size;
    }
    EXPECT_EQ(t.card.sent.size(), 1u);
    t.card.expect(Concat(Hex("80 0A 10 00 22 02 20"), TBytes(32, '1')), Hex("90 00"));
    t.pin->login(TBytes(32, '1'));
}

TEST(Gost2Pin, ChangeNeedsALoggedInSession) {
    Gost2Card t;
    t.card.expect(Hex(kStatus), StatusAnswer(0));
    t.pin->select({2});
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(8, '2')); }), 0x6283);
    EXPECT_EQ(t.card.sent.size(), 1u);

    t.card.expect("80 0A 10 00 09 02 07 31 31 31 31 31 31 31", "90 00")
        .expect(Hex(kStatus), StatusAnswer(1))
        .expect("80 0A 20 00 0A 02 08 32 32 32 32 32 32 32 32", "90 00");
    t.pin->login(TBytes(7, '1'));
    t.pin->select({2});
    t.pin->change(TBytes(8, '2'));
}

TEST(Gost2Pin, LogoutForgetsTheLoginEvenWhenTheCardRefuses) {
    Gost2Card t;
    t.card.expect(Hex(kStatus), StatusAnswer(1)).expect("80 38 10 00", "69 00");
    t.pin->select({2});
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0x6900);
    EXPECT_EQ(t.pin->info().loginState, 0x00);
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(8, '2')); }), 0x6283);
}

}  // namespace
