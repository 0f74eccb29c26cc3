#include <gtest/gtest.h>

#include "apperror/apperror.h"
#include "apppin/pin_datastore.h"
#include "pin_test_applet.h"

using namespace libapdu;
using namespace keyshelf_test;

namespace {

const char kStatus[] = "80 30 30 00 00";

struct PinEntry {
    unsigned char verified, failures, limit, minLen, maxLen;
};

// A status record of `size` bytes with PIN n's entry at the offsets the applet uses.
TBytes Record(const PinEntry e[3], size_t size = 30) {
    TBytes r(size, 0xEE);
    for (int n = 1; n <= 3; ++n) {
        r[6 + n] = e[n - 1].verified;
        r[9 + n] = e[n - 1].failures;
        r[12 + n] = e[n - 1].limit;
        r[15 + n] = e[n - 1].minLen;
        r[18 + n] = e[n - 1].maxLen;
    }
    return r;
}

const PinEntry kEntries[3] = {{0, 1, 10, 4, 8}, {1, 0, 5, 6, 12}, {0, 3, 3, 0, 255}};

TBytes StatusAnswer(size_t size = 30) { return Concat(Record(kEntries, size), {0x90, 0x00}); }

void ExpectInfo(const PinInfo& p, unsigned short minL, unsigned short maxL, unsigned char left, unsigned char max,
                unsigned short state) {
    EXPECT_EQ(p.minLength, minL);
    EXPECT_EQ(p.maxLength, maxL);
    EXPECT_EQ(p.triesLeft, left);
    EXPECT_EQ(p.triesMax, max);
    EXPECT_EQ(p.loginState, state);
}

TEST(DataStoreStatusRecord, EachPinHasItsOwnEntry) {
    struct Case {
        size_t size;
        unsigned short id;
        unsigned short minL, maxL;
        unsigned char left, max;
        unsigned short state;
    } cases[] = {
        {30, 1, 4, 8, 9, 10, 0x00},
        {34, 2, 6, 12, 5, 5, 0xFF},
        {30, 3, 0, 255, 0, 3, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        ExpectInfo(ParseDataStorePinStatus(Record(kEntries, c.size), c.id), c.minL, c.maxL, c.left, c.max, c.state);
    }
}

TEST(DataStoreStatusRecord, MalformedRecordsAndUnknownPinsAreRefused) {
    for (size_t size : {0u, 1u, 29u, 31u, 33u, 35u, 258u})
        EXPECT_EQ(RaisedCode([&] { ParseDataStorePinStatus(TBytes(size, 0), 1); }), 0x6281) << size;
    for (unsigned short id : {0, 4, 0xFFFF})
        EXPECT_EQ(RaisedCode([&] { ParseDataStorePinStatus(Record(kEntries), id); }), 0x6B00) << id;
}

TEST(DataStoreStatusRecord, MoreFailuresThanTheLimitReadsAsNoTriesLeft) {
    const PinEntry over[3] = {{0, 12, 10, 4, 8}, {}, {}};
    EXPECT_EQ(ParseDataStorePinStatus(Record(over), 1).triesLeft, 0);
}

using DataStoreCard = FamilyCard<CErrorDataStore, CPinDataStore>;

TEST(DataStorePin, DesignatorsAndEncoding) {
    DataStoreCard t;
    EXPECT_EQ(t.pin->pathUser(), path{1});
    EXPECT_EQ(t.pin->pathUser(), path{1});
    EXPECT_EQ(t.pin->pathAdmin(), path{2});
    EXPECT_EQ(t.pin->pathGlobal(), path{3});
    EXPECT_EQ(t.pin->encoding(), 2);
    ExpectInfo(t.pin->info(), 0, 0, 0xFF, 0xFF, 0x10);
    EXPECT_TRUE(t.card.sent.empty());
}

TEST(DataStorePin, SelectReadsTheStatusRecordWithRoomForItsLongestAnswer) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer(34));
    t.pin->select({2});
    ExpectInfo(t.pin->info(), 6, 12, 5, 5, 0xFF);
    EXPECT_EQ(t.card.capacities[0], 258u);
}

TEST(DataStorePin, SelectFailuresLeaveTheUnknownRecord) {
    struct Case {
        const char* name;
        path designator;
        TBytes answer;  // empty: nothing may be sent
        unsigned short code;
    } cases[] = {
        {"empty designator", {}, {}, 0x6B00},
        {"PIN 4", {4}, StatusAnswer(), 0x6B00},
        {"PIN 0", {0}, StatusAnswer(), 0x6B00},
        {"short record", {1}, Concat(TBytes(29, 0), {0x90, 0x00}), 0x6281},
        {"bare status word", {1}, {0x90, 0x00}, 0x6281},
        {"card error", {1}, {0x6A, 0x82}, 0x6A82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataStoreCard t;
        t.card.expect(Hex(kStatus), StatusAnswer());
        t.pin->select({1});  // leave known values behind to be reset
        if (!c.answer.empty()) t.card.expect(Hex(kStatus), c.answer);
        EXPECT_EQ(RaisedCode([&] { t.pin->select(c.designator); }), c.code);
        ExpectInfo(t.pin->info(), 0, 0, 0xFF, 0xFF, 0x10);
        EXPECT_EQ(t.card.sent.size(), c.answer.empty() ? 1u : 2u);
    }
}

TEST(DataStorePin, LoginSendsTheReferenceAndPinAndRestoresTheTries) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer())
        .expect("80 10 10 00 06 00 04 31 32 33 34", "90 00");
    t.pin->select({1});
    t.pin->login({'1', '2', '3', '4'});
    ExpectInfo(t.pin->info(), 4, 8, 10, 10, 0xFF);
}

TEST(DataStorePin, AdminPinIsReferencedAsOne) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer()).expect("80 10 10 00 08 01 06 61 62 63 64 65 66", "90 00");
    t.pin->select({2});
    t.pin->login({'a', 'b', 'c', 'd', 'e', 'f'});
}

TEST(DataStorePin, WrongAndBlockedPins) {
    struct Case {
        const char* answer;
        unsigned short code;
    } cases[] = {{"67 03", 0x6300}, {"67 05", 0x6300}, {"67 07", 0x6300}, {"63 C2", 0x6300},
                 {"67 04", 0x6983}, {"67 06", 0x6983}, {"69 83", 0x6983}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        DataStoreCard t;
        t.card.expect(Hex(kStatus), StatusAnswer()).expect("80 10 10 00 06 00 04 30 30 30 30", c.answer);
        t.pin->select({1});
        EXPECT_EQ(RaisedCode([&] { t.pin->login({'0', '0', '0', '0'}); }), c.code);
        ExpectInfo(t.pin->info(), 4, 8, 8, 10, 0x00);  // one try fewer, state as before
    }
}

TEST(DataStorePin, PinLengthIsCheckedBeforeAnythingIsSent) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer());
    t.pin->select({1});  // maxLength 8
    EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(9, '1')); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(9, '1')); }), 0x6B00);
    EXPECT_EQ(t.card.sent.size(), 1u);
    t.card.expect("80 10 10 00 0A 00 08 31 31 31 31 31 31 31 31", "90 00");
    t.pin->login(TBytes(8, '1'));
}

TEST(DataStorePin, APinTooLongForTheLengthByteIsRefusedEvenWhenTheCardAllowsIt) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer());
    t.pin->select({3});  // the card claims a maximum of 255
    for (size_t size : {254u, 255u}) {
        EXPECT_EQ(RaisedCode([&] { t.pin->login(TBytes(size, '1')); }), 0x6B00) << size;
        EXPECT_EQ(RaisedCode([&] { t.pin->change(TBytes(size, '1')); }), 0x6B00) << size;
    }
    EXPECT_EQ(t.card.sent.size(), 1u);
    EXPECT_EQ(t.pin->info().triesMax, 3);
}

TEST(DataStorePin, LoginBeforeAnySelectIsRefused) {
    DataStoreCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->login({'1'}); }), 0x6B00);
}

TEST(DataStorePin, ChangeSendsTheNewPinWithAnExpectedLengthAndLeavesTheRecord) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer())
        .expect("80 10 10 00 06 00 04 31 32 33 34", "90 00")
        .expect("80 10 20 00 07 00 05 35 36 37 38 39 00", "90 00");
    t.pin->select({1});
    t.pin->login({'1', '2', '3', '4'});
    t.pin->change({'5', '6', '7', '8', '9'});
    ExpectInfo(t.pin->info(), 4, 8, 10, 10, 0xFF);
}

TEST(DataStorePin, LogoutForgetsTheLoginEvenWhenTheCardRefuses) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer(34)).expect("80 10 30 00 00 00", "67 09");
    t.pin->select({2});  // verified
    EXPECT_EQ(RaisedCode([&] { t.pin->logout(); }), 0x6900);
    EXPECT_EQ(t.pin->info().loginState, 0x00);
}

TEST(DataStorePin, AnUnreachableCardIsAnErrorNotASuccess) {
    DataStoreCard t;
    t.card.expect(Hex(kStatus), StatusAnswer());
    t.pin->select({1});
    // Transport gave up: the answer buffer stays zero-filled, status word 0000.
    t.card.expect("80 10 10 00 06 00 04 31 32 33 34", "00 00");
    EXPECT_EQ(RaisedCode([&] { t.pin->login({'1', '2', '3', '4'}); }), 0xFFFF);
    EXPECT_NE(t.pin->info().loginState, 0xFF);
}

TEST(DataStorePin, UnsupportedOperations) {
    DataStoreCard t;
    EXPECT_EQ(RaisedCode([&] { t.pin->unblock({'1'}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->externalLogin({'1'}); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { t.pin->challengeGet(); }), 0xFACE);
}

}  // namespace

namespace {

TEST(DataStorePin, AMaximumLengthOfZeroStatesNoLimit) {
    // The status record gives PIN 1 no maximum: login and change go out whatever the length.
    const PinEntry open[3] = {{0, 0, 10, 0, 0}, {0, 0, 5, 6, 12}, {0, 0, 3, 0, 255}};
    const TBytes pin(20, '7');
    DataStoreCard t;
    t.card.expect(Hex(kStatus), Concat(Record(open), {0x90, 0x00}))
        .expect(Concat(Hex("80 10 10 00 16 00 14"), pin), Hex("90 00"))
        .expect(Concat(Concat(Hex("80 10 20 00 16 00 14"), pin), {0x00}), Hex("90 00"));
    t.pin->select({1});
    EXPECT_EQ(t.pin->info().maxLength, 0);
    t.pin->login(pin);
    t.pin->change(pin);
    EXPECT_TRUE(t.card.done());
}

}  // namespace
