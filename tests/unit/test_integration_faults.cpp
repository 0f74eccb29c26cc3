// Broken card answers on every kind of command the Java and Heron facets send:
// a chosen status word, an answer cut short, an answer with bytes too many and
// no answer at all. Each must end in the error the facet's rules give (or be
// taken as it stands where the rules ignore the extra bytes), never in a read
// past the answer.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "sim_token_fixture.h"
#include "test_applet.h"

using libapdu::CFileInfo;
using libapdu::TBytes;
using libapdu::path;
using sim_token::Family;
using sim_token::Op;
using sim_token::OpenSimToken;
using sim_token::SimToken;
using testing_card::Hex;
using testing_card::RaisedCode;

namespace {

const long kNoError = -1;
const cardsim::FidPath kApp = {0x3F00, 0x6666, 0x5000};

cardsim::FidPath InApp(unsigned short fid) {
    cardsim::FidPath p = kApp;
    p.push_back(fid);
    return p;
}

// One command of the facets, the steps that lead up to it, and the call that sends it.
struct Action {
    Op Family::*op;
    std::function<void(SimToken&)> prepare;
    std::function<void(SimToken&)> call;
    // After a call that succeeded in spite of the fault: what must still hold.
    std::function<void(SimToken&)> check;
};

const std::map<std::string, Action>& Actions() {
    static const std::map<std::string, Action> actions = {
        {"select",
         {&Family::select, [](SimToken&) {},
          [](SimToken& t) { t.fs()->select(path{0x0002}); },
          [](SimToken& t) {
              // Whatever was cut off, the elements that arrived whole were taken.
              EXPECT_EQ(t.fs()->info().type, 1);
              EXPECT_EQ(t.fs()->info().size, 9);
          }}},
        {"list",
         {&Family::list, [](SimToken& t) { t.fs()->select(path{}); },
          [](SimToken& t) { t.fs()->list(1); },
          [](SimToken& t) { EXPECT_EQ(t.fs()->list(1), (std::vector<unsigned short>{0x000A, 0x0002, 0x000F})); }}},
        {"create",
         {&Family::create, [](SimToken& t) { t.fs()->select(path{}); },
          [](SimToken& t) { t.fs()->create(0x0600, CFileInfo(1, 4, 0, 0)); },
          [](SimToken& t) { EXPECT_NE(t.applet->tree().find(InApp(0x0600)), nullptr); }}},
        {"remove",
         {&Family::remove,
          [](SimToken& t) {
              t.fs()->select(path{});
              t.fs()->create(0x0601, CFileInfo(1, 4, 0, 0));
              t.fs()->select(path{0x0601});
          },
          [](SimToken& t) { t.fs()->remove(); },
          [](SimToken& t) { EXPECT_EQ(t.applet->tree().find(InApp(0x0601)), nullptr); }}},
        {"read",
         {&Family::read, [](SimToken& t) { t.fs()->select(path{0x0002}); },
          [](SimToken& t) {
              TBytes b(9);
              t.fs()->read(b, 0);
          },
          nullptr}},
        {"write",
         {&Family::write, [](SimToken& t) { t.fs()->select(path{0x0002}); },
          [](SimToken& t) { t.fs()->write(TBytes{'A', 'B'}, 0); },
          [](SimToken& t) { EXPECT_EQ(t.applet->tree().find(InApp(0x0002))->content[0], 'A'); }}},
        {"change marker",
         {&Family::marker, [](SimToken& t) { t.fs()->select(path{}); },
          [](SimToken& t) { t.fs()->create(0x0602, CFileInfo(1, 4, 0, 0)); },
          nullptr}},
        {"get data",
         {&Family::getData, [](SimToken&) {},
          [](SimToken& t) { t.token->info()->id(2); },
          [](SimToken& t) { EXPECT_EQ(t.token->info()->id(2), t.applet->info().serial); }}},
        {"challenge",
         {&Family::challenge, [](SimToken&) {},
          [](SimToken& t) { t.token->info()->rnd(8); },
          nullptr}},
        {"label length",
         {&Family::labelLength, [](SimToken&) {},
          [](SimToken& t) { t.token->label()->write(TBytes{'N', 'e', 'w'}); },
          nullptr}},
    };
    return actions;
}

struct Fault {
    cardsim::SimFault::Kind kind;
    uint16_t sw;
    size_t count;
    TBytes bytes;
};

Fault ParseFault(const std::string& text) {
    if (text.compare(0, 3, "sw ") == 0) return {cardsim::SimFault::kStatus, static_cast<uint16_t>(std::stoul(text.substr(3), nullptr, 16)), 0, {}};
    if (text == "truncated") return {cardsim::SimFault::kTruncate, 0, 1, {}};
    if (text == "over-long") return {cardsim::SimFault::kExtend, 0, 3, {}};
    if (text == "empty") return {cardsim::SimFault::kEmpty, 0, 0, {}};
    if (text == "one byte") return {cardsim::SimFault::kReplace, 0, 0, {0x90}};
    ADD_FAILURE() << "unknown fault " << text;
    return {cardsim::SimFault::kStatus, 0x6F00, 0, {}};
}

void Inject(cardsim::CardSim& card, const cardsim::CommandMatch& match, const Fault& f) {
    cardsim::SimFault sf;
    sf.match = match;
    sf.kind = f.kind;
    sf.sw = f.sw;
    sf.count = f.count;
    sf.bytes = f.bytes;
    card.inject(sf);
}

struct FaultCase {
    const char* action;
    const char* fault;
    long code;
};

// Status words: the card's own words go through the Java and Heron pre-map,
// then the base table. Answers that only carry a status word have nothing to
// cut short; an empty or one-byte answer has no status word (0000, raised as FFFF).
const FaultCase kCases[] = {
    {"select", "sw 6982", 0x6900},     {"select", "sw 6707", 0x6A82},   {"select", "truncated", kNoError},
    {"select", "over-long", kNoError}, {"select", "empty", 0xFFFF},      {"select", "one byte", 0xFFFF},

    {"list", "sw 6A82", 0x6A82},       {"list", "sw 6734", 0x6A82},     {"list", "truncated", 0x6281},
    {"list", "over-long", kNoError},   {"list", "empty", 0xFFFF},

    {"create", "sw 6707", 0x6900},     {"create", "sw 6A84", 0x6400},   {"create", "sw 6735", 0x6400},
    {"create", "over-long", kNoError}, {"create", "empty", 0xFFFF},

    {"remove", "sw 6707", 0x6900},     {"remove", "sw 6982", 0x6900},   {"remove", "over-long", kNoError},
    {"remove", "empty", 0xFFFF},

    {"read", "sw 6982", 0x6900},       {"read", "sw 6282", 0x6282},     {"read", "truncated", 0x6282},
    {"read", "over-long", 0x6282},     {"read", "empty", 0xFFFF},

    {"write", "sw 6A84", 0x6400},      {"write", "sw 6721", 0x6B00},    {"write", "over-long", kNoError},
    {"write", "empty", 0xFFFF},

    {"change marker", "sw 6F00", 0x6F00}, {"change marker", "sw 6780", 0x6F00}, {"change marker", "empty", 0xFFFF},

    {"get data", "sw 6A88", 0x6A82},   {"get data", "truncated", 0x6281}, {"get data", "over-long", kNoError},
    {"get data", "empty", 0xFFFF},

    {"challenge", "sw 6F00", 0x6F00},  {"challenge", "truncated", 0x6281}, {"challenge", "over-long", 0x6281},
    {"challenge", "empty", 0xFFFF},

    {"label length", "sw 6A84", 0x6400}, {"label length", "empty", 0xFFFF},
};

class IntegrationFaults : public ::testing::TestWithParam<const Family*> {};

}  // namespace

TEST_P(IntegrationFaults, EachKindOfCommandFailsWithTheMappedCode) {
    const Family& family = *GetParam();
    for (const FaultCase& c : kCases) {
        SCOPED_TRACE(std::string(c.action) + ", " + c.fault);
        const Action& a = Actions().at(c.action);
        SimToken t = OpenSimToken(family);
        a.prepare(t);
        Inject(*t.card, sim_token::Match(family.*(a.op)), ParseFault(c.fault));
        EXPECT_EQ(RaisedCode([&] { a.call(t); }), c.code);
        EXPECT_EQ(t.card->pendingFaults(), 0u) << "the fault never met its command";
        if (c.code == kNoError && a.check) a.check(t);
    }
}

TEST_P(IntegrationFaults, ChangeMarkerFailureIsRaisedAfterTheCardChanged) {
    const Family& family = *GetParam();
    SimToken t = OpenSimToken(family);
    t.fs()->select(path{});
    t.card->failNext(sim_token::Match(family.marker), 0x6F00);
    EXPECT_EQ(RaisedCode([&] { t.fs()->create(0x0700, CFileInfo(2, 0, 0, 0)); }), 0x6F00);
    EXPECT_NE(t.applet->tree().find(InApp(0x0700)), nullptr);

    t.fs()->select(path{0x0700});
    t.card->failNext(sim_token::Match(family.marker), 0x6F00);
    EXPECT_EQ(RaisedCode([&] { t.fs()->remove(); }), 0x6F00);
    EXPECT_EQ(t.applet->tree().find(InApp(0x0700)), nullptr);
}

TEST_P(IntegrationFaults, AFailedPieceStopsALongWrite) {
    const Family& family = *GetParam();
    SimToken t = OpenSimToken(family);
    t.fs()->select(path{});
    t.fs()->create(0x0800, CFileInfo(1, 600, 0, 0));
    t.fs()->select(path{0x0800});
    // The second piece is refused: the third is not sent, the first stays written.
    cardsim::SimFault skipFirst;
    skipFirst.match = sim_token::Match(family.write);
    skipFirst.kind = cardsim::SimFault::kStatusAfter;
    skipFirst.sw = 0x9000;
    t.card->inject(skipFirst);
    t.card->failNext(sim_token::Match(family.write), 0x6A84);
    const TBytes data = sim_token::Pattern(600, 4);
    EXPECT_EQ(RaisedCode([&] { t.fs()->write(data, 0); }), 0x6400);
    EXPECT_EQ(t.sent(family.write).size(), 2u);
    const TBytes& stored = t.applet->tree().find(InApp(0x0800))->content;
    EXPECT_TRUE(TBytes(stored.begin(), stored.begin() + 245) == TBytes(data.begin(), data.begin() + 245));
    EXPECT_TRUE(TBytes(stored.begin() + 245, stored.end()) == TBytes(355, 0));
}

TEST_P(IntegrationFaults, SelectionOfTheAppletByAid) {
    const Family& family = *GetParam();
    const struct {
        const char* fault;
        long code;
        bool exists;
    } cases[] = {
        {"sw 6A82", 0x6A82, false}, {"sw 6999", 0x6900, false}, {"empty", 0xFFFF, false},
        {"one byte", 0xFFFF, false}, {"over-long", kNoError, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SimToken t = OpenSimToken(family);
        const auto aidSelect = cardsim::MatchPrefix(Hex("00 A4 04 00"));
        Inject(*t.card, aidSelect, ParseFault(c.fault));
        EXPECT_EQ(t.token->checkIfExist(family.appletId), c.exists);
        Inject(*t.card, aidSelect, ParseFault(c.fault));
        EXPECT_EQ(RaisedCode([&] { t.token->switchToApplet(family.appletId); }), c.code);
        EXPECT_EQ(t.card->pendingFaults(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, IntegrationFaults,
                         ::testing::Values(&sim_token::JavaFamily(), &sim_token::HeronFamily()),
                         [](const ::testing::TestParamInfo<const Family*>& i) { return std::string(i.param->name); });

// The JavaManager answers that decide whether a Java token is taken.
TEST(IntegrationFaultsJavaManager, LifeCycleAnswerAndIdentity) {
    const struct {
        const char* what;
        std::function<void(cardsim::CardSim&)> inject;
        std::function<void(libapdu::IToken&)> call;
        long code;
    } cases[] = {
        // 45 data bytes; the release level needs the first 13.
        {"life cycle cut to 13 data bytes", [](cardsim::CardSim& c) { c.truncateNext(cardsim::MatchPrefix(Hex("80 CA 9F 7F")), 32); },
         [](libapdu::IToken& t) { EXPECT_EQ(t.info()->version(1), Hex("07 01")); }, kNoError},
        {"life cycle cut to 12 data bytes", [](cardsim::CardSim& c) { c.truncateNext(cardsim::MatchPrefix(Hex("80 CA 9F 7F")), 33); },
         [](libapdu::IToken& t) { t.info()->version(1); }, 0x6281},
        {"life cycle status word", [](cardsim::CardSim& c) { c.failNext(cardsim::MatchPrefix(Hex("80 CA 9F 7F")), 0x6A88); },
         [](libapdu::IToken& t) { t.info()->version(1); }, 0x6A82},
        {"life cycle empty", [](cardsim::CardSim& c) { c.emptyNext(cardsim::MatchPrefix(Hex("80 CA 9F 7F"))); },
         [](libapdu::IToken& t) { t.info()->version(1); }, 0xFFFF},
        {"life cycle over-long", [](cardsim::CardSim& c) { c.extendNext(cardsim::MatchPrefix(Hex("80 CA 9F 7F")), 300); },
         [](libapdu::IToken& t) { EXPECT_EQ(t.info()->version(1), Hex("07 01")); }, kNoError},
        {"identity truncated", [](cardsim::CardSim& c) { c.truncateNext(cardsim::MatchPrefix(Hex("80 CA 00 46")), 1); },
         [](libapdu::IToken& t) { t.info()->id(0); }, 0x6281},
        {"object 01 status word", [](cardsim::CardSim& c) { c.failNext(cardsim::MatchPrefix(Hex("00 CA 00 01")), 0x6982); },
         [](libapdu::IToken& t) { t.info()->value(2); }, 0x6900},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<cardsim::CardSim> card = cardsim::MakeJavaToken();
        cardsim::CardSim* raw = card.get();
        std::unique_ptr<libapdu::ISender> sender(std::move(card));
        auto token = libapdu::IToken::create(sender);
        token->switchToApplet(0x2002);
        c.inject(*raw);
        EXPECT_EQ(RaisedCode([&] { c.call(*token); }), c.code);
        EXPECT_EQ(raw->pendingFaults(), 0u);
    }
}
