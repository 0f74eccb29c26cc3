// Every family's status-word facet against its table, over all 65536 words.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "apperror/apperror.h"
#include "raised.h"

using namespace libapdu;

namespace {

constexpr unsigned short kOk = 0;  // the facet returns

struct Row {
    unsigned lo, hi;
    unsigned short result;
};
using Rows = std::vector<Row>;

// Result of a word under rows; later rows win, words in no row are FFFF.
unsigned short Lookup(const Rows& rows, unsigned sw) {
    unsigned short r = 0xFFFF;
    for (const Row& row : rows)
        if (sw >= row.lo && sw <= row.hi) r = row.result;
    return r;
}

// The common table, as ranges of input words and what they end as.
const Rows kCommon = {
    {0x6100, 0x61FF, kOk},    {0x9000, 0x90FF, kOk},    {0x6200, 0x6280, 0x6200}, {0x6287, 0x62FF, 0x6200},
    {0x6281, 0x6281, 0x6281}, {0x6284, 0x6284, 0x6281}, {0x6282, 0x6282, 0x6282}, {0x6283, 0x6283, 0x6283},
    {0x6285, 0x6285, 0x6283}, {0x6981, 0x6981, 0x6283}, {0x6286, 0x6286, 0x6286}, {0x6300, 0x6380, 0x6300},
    {0x6382, 0x63FF, 0x6300}, {0x6381, 0x6381, 0x6400}, {0x6400, 0x65FF, 0x6400}, {0x6A84, 0x6A84, 0x6400},
    {0x6600, 0x66FF, 0x6900}, {0x6900, 0x6980, 0x6900}, {0x6982, 0x6982, 0x6900}, {0x6984, 0x6985, 0x6900},
    {0x6987, 0x69FF, 0x6900}, {0x6983, 0x6983, 0x6983}, {0x6986, 0x6986, 0x6A82}, {0x6A82, 0x6A83, 0x6A82},
    {0x6A88, 0x6A88, 0x6A82}, {0x6A89, 0x6A8A, 0x6A89}, {0x6700, 0x68FF, 0x6B00}, {0x6A00, 0x6A81, 0x6B00},
    {0x6A85, 0x6A87, 0x6B00}, {0x6A8B, 0x6B00, 0x6B00}, {0x6C00, 0x6EFF, 0x6B00}, {0x6F00, 0x6FFF, 0x6F00},
};

Rows With(Rows base, const Rows& extra) {
    base.insert(base.end(), extra.begin(), extra.end());
    return base;
}

// Final results of the words a family translates before the common table.
const Rows kWrenKite = With(kCommon, {{0x6F86, 0x6F86, 0x6A82}, {0x9850, 0x9850, 0x6F00}});

const Rows kJavaHeron = With(kCommon, {
    {0x6702, 0x6702, 0x6F00}, {0x6710, 0x6720, 0x6F00}, {0x6722, 0x6722, 0x6F00}, {0x6724, 0x6724, 0x6F00},
    {0x6726, 0x6730, 0x6F00}, {0x6732, 0x6733, 0x6F00}, {0x6737, 0x67FF, 0x6F00},
    {0x6701, 0x6701, 0x6283}, {0x6703, 0x6703, 0x6A89}, {0x6705, 0x6705, 0x6300}, {0x6707, 0x6707, 0x6A82},
    {0x6734, 0x6734, 0x6A82}, {0x6735, 0x6735, 0x6400}, {0x6736, 0x6736, 0x6900},
    {0x6704, 0x6704, 0x6B00}, {0x6706, 0x6706, 0x6B00}, {0x6708, 0x6709, 0x6B00}, {0x6721, 0x6721, 0x6B00},
    {0x6723, 0x6723, 0x6B00}, {0x6725, 0x6725, 0x6B00}, {0x6731, 0x6731, 0x6B00},
});

const Rows kTessel = With(kCommon, {{0x6B00, 0x6B00, 0x6400}});

const Rows kDataStore = With(kCommon, {
    {0x6701, 0x6701, 0x6A82}, {0x6702, 0x6702, 0x6400}, {0x6F00, 0x6F00, 0x6400}, {0x6703, 0x6703, 0x6300},
    {0x6705, 0x6705, 0x6300}, {0x6707, 0x6707, 0x6300}, {0x6704, 0x6704, 0x6983}, {0x6706, 0x6706, 0x6983},
    {0x6708, 0x6708, 0x6A89}, {0x6709, 0x6709, 0x6900}, {0x670A, 0x670B, 0x6B00},
});

Rows GostRows() {
    const Rows proprietary = {
        {0x0005, 0x0005, 0x6F00}, {0x0030, 0x0030, 0x6F00}, {0x0121, 0x0121, 0x6F00}, {0x0006, 0x0006, 0x6400},
        {0x0031, 0x0031, 0x6400}, {0x0010, 0x0010, 0x6900}, {0x0101, 0x0101, 0x6900}, {0x0102, 0x0102, 0x6900},
        {0x0104, 0x0104, 0x6900}, {0x0170, 0x0170, 0x6900}, {0x0012, 0x0012, 0x6A82}, {0x0060, 0x0060, 0x6A82},
        {0x0082, 0x0082, 0x6A82}, {0x0013, 0x0013, 0x6B00}, {0x0062, 0x0062, 0x6B00}, {0x0063, 0x0063, 0x6B00},
        {0x0103, 0x0103, 0x6B00}, {0x00A0, 0x00A0, 0x6300}, {0x00A2, 0x00A2, 0x6300}, {0x00A4, 0x00A4, 0x6983},
    };
    // 6Dxx and 6Exx lose their SW1: unlisted ones fall outside every common row.
    Rows rows = With(kCommon, {{0x6D00, 0x6EFF, 0xFFFF}});
    for (const Row& r : proprietary) {
        rows.push_back(r);
        if (r.lo < 0x100) {
            rows.push_back({0x6D00 | r.lo, 0x6D00 | r.lo, r.result});
            rows.push_back({0x6E00 | r.lo, 0x6E00 | r.lo, r.result});
        }
    }
    return rows;
}

Rows Gost2Rows() {
    Rows rows = {{0x9000, 0x9000, kOk}};
    auto add = [&](std::initializer_list<unsigned> words, unsigned short result) {
        for (unsigned w : words) rows.push_back({w, w, result});
    };
    add({0x6200}, 0x6200);
    add({0x6281}, 0x6281);
    add({0x6282}, 0x6282);
    add({0x6283}, 0x6283);
    add({0x6286}, 0x6286);
    add({0x6701, 0x6702, 0x6704, 0x671B, 0x671E, 0x671F, 0x6727}, 0x6300);
    add({0x6400, 0x6581, 0x6709, 0x6711, 0x671A, 0x671C, 0x6999, 0x6F00}, 0x6400);
    add({0x6705, 0x6710, 0x6719, 0x6722, 0x6729, 0x6900}, 0x6900);
    add({0x6703}, 0x6983);
    add({0x670B, 0x6717}, 0x6A80);
    add({0x6708, 0x6714, 0x6A82}, 0x6A82);
    add({0x6A84}, 0x6A84);
    add({0x670F, 0x6718, 0x6A89}, 0x6A89);
    add({0x6700, 0x670C, 0x670D, 0x6715, 0x6716, 0x6723, 0x6725, 0x6726, 0x6A86, 0x6B00, 0x6D00, 0x6E00}, 0x6B00);
    return rows;
}

struct Family {
    const char* name;
    std::function<IAppError*()> make;
    Rows expected;
    const char* source;
};

const char kInternal[] = "Externals/Internal/LibAPDU/Source/token/libapdu.internal";

std::vector<Family> Families() {
    return {
        {"base", [] { return new IAppError; }, kCommon, kInternal},
        {"Wren", [] { return new CErrorWren; }, kWrenKite, kInternal},
        {"Kite", [] { return new CErrorKite; }, kWrenKite, kInternal},
        {"Java", [] { return new CErrorJava; }, kJavaHeron, kInternal},
        {"Heron", [] { return new CErrorHeron; }, kJavaHeron, kInternal},
        {"Tessel", [] { return new CErrorTessel; }, kTessel, kInternal},
        {"DataStore", [] { return new CErrorDataStore; }, kDataStore, kInternal},
        {"Gost", [] { return new CErrorGost; }, GostRows(), kInternal},
        {"Gost2", [] { return new CErrorGost2; }, Gost2Rows(), "Externals/Internal/LibAPDU/Source/token/apperror/error_gost2"},
    };
}

TEST(CoreStatusWords, EveryWordOfEveryFamilyMapsAsItsTableSays) {
    for (const Family& f : Families()) {
        std::unique_ptr<IAppError> e(f.make());
        int mismatches = 0;
        for (unsigned sw = 0; sw <= 0xFFFF; ++sw) {
            const unsigned short want = Lookup(f.expected, sw);
            auto r = RaisedBy([&] { e->raiseSW(static_cast<unsigned short>(sw)); });
            const unsigned short got = r ? r->code : kOk;
            // Success is never reported as code 0000 raised, so "raised" and "returned" stay apart.
            const bool same = (r.has_value() == (want != kOk)) && got == want;
            if (!same && ++mismatches <= 5)
                ADD_FAILURE() << f.name << ": " << std::hex << sw << " gave " << (r ? got : 0x9000u) << ", want "
                              << (want == kOk ? 0x9000u : want);
            if (r && (r->file != f.source || r->line == 0 || r->date != BuildDate()) && ++mismatches <= 5)
                ADD_FAILURE() << f.name << ": " << std::hex << sw << " raised from " << r->file << ":" << r->line;
        }
        EXPECT_EQ(mismatches, 0) << f.name;
    }
}

TEST(CoreStatusWords, ExtractReadsTheLastTwoBytes) {
    struct Case {
        TBytes response;
        unsigned short base, wren;
    };
    const Case cases[] = {
        {{}, 0x0000, 0x0000},
        {{0x90}, 0x0000, 0x0000},
        {{0x90, 0x00}, 0x9000, 0x0090},
        {{0x00, 0x90}, 0x0090, 0x9000},
        {{0x01, 0x02, 0x03, 0x6A, 0x82}, 0x6A82, 0x826A},
    };
    IAppError base;
    CErrorWren wren;
    CErrorGost2 gost2;
    for (const Case& c : cases) {
        EXPECT_EQ(base.extractSW(c.response), c.base);
        EXPECT_EQ(gost2.extractSW(c.response), c.base);
        EXPECT_EQ(wren.extractSW(c.response), c.wren);
    }
}

TEST(CoreStatusWords, WholeAnswersThroughExtractAndRaise) {
    struct Case {
        const char* what;
        std::function<IAppError*()> make;
        TBytes response;
        unsigned short want;  // 0: success
    };
    const Case cases[] = {
        {"Wren reads its word low byte first", [] { return new CErrorWren; }, {0x00, 0x90}, 0},
        {"Wren: 90 00 is 0090", [] { return new CErrorWren; }, {0x90, 0x00}, 0xFFFF},
        {"empty answer", [] { return new IAppError; }, {}, 0xFFFF},
        {"one-byte answer", [] { return new CErrorGost2; }, {0x90}, 0xFFFF},
        {"61 10 is success in the common table", [] { return new CErrorJava; }, {0x61, 0x10}, 0},
        {"Gost 6D12", [] { return new CErrorGost; }, {0xAA, 0x6D, 0x12}, 0x6A82},
    };
    for (const Case& c : cases) {
        std::unique_ptr<IAppError> e(c.make());
        EXPECT_EQ(CodeOf([&] { e->raiseSW(e->extractSW(c.response)); }), c.want) << c.what;
    }
}

}  // namespace
