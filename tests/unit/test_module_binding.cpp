// The token module driven as the native methods drive it, over simulated cards in
// process (tests/binding): the whole store road with no JVM.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "module_binding.h"
#include "sim_tokens.h"

namespace mb = module_binding;
using libapdu::TBytes;

namespace {
std::u16string U(const char16_t* s) { return std::u16string(s); }

struct Expect {
    const char* javaClass;
    const char* message;
};

template <class F> void ExpectOutcome(const Expect& want, F&& call, const std::string& what) {
    const mb::Outcome o = mb::Run(call);
    EXPECT_EQ(o.javaClass, want.javaClass) << what << ": " << o.message;
    EXPECT_EQ(o.message, want.message) << what;
}

const Expect kUnknown = {"java/io/IOException", "Unknown error"};
const Expect kNotFound = {"java/io/FileNotFoundException", "File not found"};
const Expect kWrongPin = {"java/security/UnrecoverableKeyException", "Wrong pin"};
}  // namespace

TEST(ModuleBinding, StoreRoadOnSimulatedJavaAndHeronTokens) {
    for (bool heron : {false, true}) {
        SCOPED_TRACE(heron ? "heron" : "java");
        cardsim::SimTokenOptions o;
        o.serial = {0x0A, 0x00, 0x1B};
        std::unique_ptr<cardsim::CardSim> card = heron ? cardsim::MakeHeronToken(o) : cardsim::MakeJavaToken(o);
        const long long h = mb::createToken(card.get());
        EXPECT_NE(h, 0);
        EXPECT_EQ(mb::tokenCount(), 1u);
        EXPECT_EQ(mb::getTokenSerial(card.get(), h), L"a\\0\\1b\\");

        const std::u16string pin = U(u"1234"), wrong = U(u"1235"), next = U(u"5678");
        ExpectOutcome(kWrongPin, [&] { mb::Login(card.get(), h, &wrong); }, "wrong PIN");
        mb::Login(card.get(), h, &pin);
        mb::openDir(card.get(), h, "1a", true);
        const TBytes data = {1, 2, 3, 4, 5};
        mb::storeFile(card.get(), h, 0xF001, data, false);
        EXPECT_EQ(mb::getFileSize(card.get(), h, 0xF001), 64);
        TBytes back(5);
        mb::readFile(card.get(), h, 0xF001, 5, back);
        EXPECT_EQ(back, data);
        mb::closeDir(card.get(), h, false);
        EXPECT_EQ(mb::getDirList(card.get(), h), L"1a");

        mb::changePin(card.get(), h, &pin, &next);
        mb::Logout(card.get(), h);
        ExpectOutcome(kWrongPin, [&] { mb::Login(card.get(), h, &pin); }, "old PIN after the change");
        mb::Login(card.get(), h, &next);
        mb::openDir(card.get(), h, "1a", false);
        mb::deleteFile(card.get(), h, 0xF001);
        ExpectOutcome(kNotFound, [&] { mb::getFileSize(card.get(), h, 0xF001); }, "deleted file");

        mb::destroyToken(card.get(), h);
        EXPECT_EQ(mb::tokenCount(), 0u);
        ExpectOutcome(kUnknown, [&] { mb::getDirList(card.get(), h); }, "destroyed handle");
    }
}

// A Tessel token is found by its applet's identifier whatever its answer-to-reset, and
// the store road runs on it without init: no access list is rewritten (80 E8).
TEST(ModuleBinding, TesselStoreRoadNeedsNoInit) {
    for (bool knownAtr : {true, false}) {
        SCOPED_TRACE(knownAtr ? "Tessel ATR" : "unknown ATR");
        cardsim::SimTokenOptions o;
        if (!knownAtr) o.atr = {0x3B, 0x80, 0x80, 0x01, 0x01};
        std::unique_ptr<cardsim::CardSim> card = cardsim::MakeTesselToken(o);
        const long long h = mb::createToken(card.get());
        EXPECT_EQ(mb::getTokenSerial(card.get(), h), L"54\\53\\0\\0\\12\\34\\56\\78\\");

        const std::u16string pin = U(u"1234");
        mb::Login(card.get(), h, &pin);
        mb::openDir(card.get(), h, "a1", true);
        mb::storeFile(card.get(), h, 0xF007, TBytes{9, 8, 7}, false);
        EXPECT_EQ(mb::getFileSize(card.get(), h, 0xF007), 8);
        mb::closeDir(card.get(), h, true);
        EXPECT_EQ(mb::getDirList(card.get(), h), L"");
        mb::destroyToken(card.get(), h);
        EXPECT_EQ(card->count(0x80, 0xE8), 0u);
    }
    EXPECT_EQ(mb::tokenCount(), 0u);
}

// Every call hands the token's transport the card of that call: a call made with
// another sender reaches that sender, not the one the token was created over.
TEST(ModuleBinding, EachCallReachesTheCardItPasses) {
    std::unique_ptr<cardsim::CardSim> card = cardsim::MakeJavaToken();
    const long long h = mb::createToken(card.get());
    std::unique_ptr<cardsim::CardSim> other = cardsim::MakeJavaToken();
    card->resetCounters();
    // The other card has no applet selected: whatever it answers, it is asked.
    (void)mb::Run([&] { mb::getDirList(other.get(), h); });
    EXPECT_EQ(card->commandCount(), 0u);
    EXPECT_GT(other->commandCount(), 0u);
    // A call with no card gets no answer: a general error, and the token lives on.
    ExpectOutcome({"java/io/IOException", "Smart card error with code 0xffff"},
                  [&] { mb::getTokenSerial(nullptr, h); }, "serial with no card");
    mb::destroyToken(card.get(), h);
}

TEST(ModuleBinding, CreationFailuresLeaveNoToken) {
    // A card with no applet at all: every probe fails.
    cardsim::CardSim bare(TBytes{0x3B, 0x00});
    ExpectOutcome({"java/io/IOException", "Smart card error with code 0xffff"},
                  [&] { mb::createToken(&bare); }, "no applet");
    ExpectOutcome(kUnknown, [&] { mb::createToken(nullptr); }, "null card");
    // A Java token refused by its manager's version.
    cardsim::SimTokenOptions o;
    o.managerVersion = 9;
    std::unique_ptr<cardsim::CardSim> refused = cardsim::MakeJavaToken(o);
    ExpectOutcome(kUnknown, [&] { mb::createToken(refused.get()); }, "manager version 9");
    EXPECT_EQ(mb::tokenCount(), 0u);
}

// Handles are never given twice: after a destroy, tokens made over the same card
// (whose transports the allocator places where the old one was) get new handles, and
// the old handle stays unknown for good.
TEST(ModuleBinding, HandlesAreNeverGivenTwice) {
    std::unique_ptr<cardsim::CardSim> card = cardsim::MakeHeronToken();
    const long long old = mb::createToken(card.get());
    mb::destroyToken(card.get(), old);
    std::vector<long long> seen = {old};
    for (int i = 0; i < 20; ++i) {
        const long long h = mb::createToken(card.get());
        EXPECT_EQ(std::count(seen.begin(), seen.end(), h), 0) << "handle " << h << " given again";
        seen.push_back(h);
        ExpectOutcome(kUnknown, [&] { mb::getTokenSerial(card.get(), old); }, "old handle");
        ExpectOutcome(kUnknown, [&] { mb::destroyToken(card.get(), old); }, "old handle destroyed again");
        EXPECT_TRUE(mb::Run([&] { mb::getTokenSerial(card.get(), h); }).ok());
        if (i % 2 == 0) mb::destroyToken(card.get(), h);  // every other one kept, so the module lives on too
    }
    for (size_t i = 2; i < seen.size(); i += 2) mb::destroyToken(card.get(), seen[i]);
    EXPECT_EQ(mb::tokenCount(), 0u);
}

namespace {
// A card whose transmit calls back into the library once, on the same thread, at the
// first command that matches (any command when no instruction is named), and keeps
// what that nested call came to.
class CCallingBackCard : public libapdu::ISender {
public:
    CCallingBackCard(libapdu::ISender* inner, std::function<void()> nested, int ins = -1)
        : m_inner(inner), m_nested(std::move(nested)), m_ins(ins) {}

    void send(const TBytes& command, TBytes& response) override {
        if (m_nested && (m_ins < 0 || (command.size() > 1 && command[1] == m_ins))) {
            auto nested = std::move(m_nested);
            m_nested = nullptr;
            nestedOutcome = mb::Run(nested);
            fired = true;
        }
        m_inner->send(command, response);
    }
    TBytes atr() override { return m_inner->atr(); }

    bool fired = false;
    mb::Outcome nestedOutcome;

private:
    libapdu::ISender* m_inner;
    std::function<void()> m_nested;
    int m_ins;
};

// Logs in, opens a container and stores F006 in it.
void PrepareContainer(libapdu::ISender* card, long long h) {
    const std::u16string pin = U(u"1234");
    mb::Login(card, h, &pin);
    mb::openDir(card, h, "2b", true);
    mb::storeFile(card, h, 0xF006, TBytes(20, 0x66), false);
}

// Every container file of directory 2b as a caller reads it back.
std::vector<TBytes> ContainerFiles(libapdu::ISender* card, long long h) {
    std::vector<TBytes> files;
    mb::openDir(card, h, "2b", false);
    for (int id : {0xF003, 0xF006}) {
        TBytes back(static_cast<size_t>(mb::getFileSize(card, h, id)));
        mb::readFile(card, h, id, static_cast<int>(back.size()), back);
        files.push_back(back);
    }
    return files;
}
}  // namespace

// A card whose transmit calls the library again from the same thread: the nested call
// is refused ("Unknown error") before it sends anything, and the outer call goes on as
// if it had never been made. Served, the nested call's selection of F006 took the
// outer store's bytes, and a nested Logout cut the outer call off.
TEST(ModuleBinding, CallsFromInsideTransmitAreRefused) {
    std::unique_ptr<cardsim::CardSim> plain = cardsim::MakeJavaToken();
    const long long ph = mb::createToken(plain.get());
    PrepareContainer(plain.get(), ph);
    mb::storeFile(plain.get(), ph, 0xF003, TBytes(300, 0x33), false);
    const std::vector<TBytes> want = ContainerFiles(plain.get(), ph);
    const std::string wantTree = plain->dump();
    mb::destroyToken(plain.get(), ph);

    struct Case {
        const char* what;
        int ins;  // the instruction at which transmit calls back (15: the Java write); -1 the first command
        int nested;
    };
    const Case cases[] = {
        {"getFileSize at the first command", -1, 0}, {"getFileSize at the first write", 0x15, 0},
        {"readFile at the first command", -1, 1},    {"readFile at the first write", 0x15, 1},
        {"Logout at the first command", -1, 2},      {"Logout at the first write", 0x15, 2},
        {"createToken at the first write", 0x15, 3}, {"another token at the first write", 0x15, 4},
        {"Login with no PIN (refused before its arguments are read)", 0x15, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeJavaToken();
        std::unique_ptr<cardsim::CardSim> other = cardsim::MakeJavaToken();
        const long long h = mb::createToken(sim.get());
        const long long oh = mb::createToken(other.get());
        PrepareContainer(sim.get(), h);
        CCallingBackCard* self = nullptr;
        const std::function<void()> nested[] = {
            [&] { (void)mb::getFileSize(self, h, 0xF006); },
            [&] {
                TBytes out(20);
                mb::readFile(self, h, 0xF006, 20, out);
            },
            [&] { mb::Logout(self, h); },
            [&] { (void)mb::createToken(other.get()); },
            [&] { (void)mb::getTokenSerial(other.get(), oh); },
            [&] { mb::Login(self, h, nullptr); },
        };
        CCallingBackCard card(sim.get(), nested[c.nested], c.ins);
        self = &card;
        const size_t otherBefore = other->commandCount();
        const size_t before = sim->commandCount();
        const mb::Outcome outer = mb::Run([&] { mb::storeFile(&card, h, 0xF003, TBytes(300, 0x33), false); });
        EXPECT_TRUE(outer.ok()) << outer.message;
        ASSERT_TRUE(card.fired);
        EXPECT_EQ(card.nestedOutcome.javaClass, kUnknown.javaClass);
        EXPECT_EQ(card.nestedOutcome.message, kUnknown.message);
        EXPECT_GT(sim->commandCount(), before);
        EXPECT_EQ(other->commandCount(), otherBefore) << "the nested call reached a card";
        EXPECT_EQ(mb::tokenCount(), 2u);
        EXPECT_EQ(ContainerFiles(sim.get(), h), want);
        EXPECT_EQ(sim->dump(), wantTree);
        mb::destroyToken(sim.get(), h);
        mb::destroyToken(other.get(), oh);
    }

    // createToken holds the module lock through its probe: a call on another token from
    // inside it is refused, and the probe goes on to give its token.
    std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeJavaToken();
    std::unique_ptr<cardsim::CardSim> other = cardsim::MakeHeronToken();
    const long long oh = mb::createToken(other.get());
    CCallingBackCard card(sim.get(), [&] { (void)mb::getTokenSerial(other.get(), oh); });
    const long long h = mb::createToken(&card);
    ASSERT_TRUE(card.fired);
    EXPECT_EQ(card.nestedOutcome.message, kUnknown.message);
    EXPECT_TRUE(mb::Run([&] { (void)mb::getTokenSerial(sim.get(), h); }).ok());
    mb::destroyToken(sim.get(), h);
    mb::destroyToken(other.get(), oh);
    EXPECT_EQ(mb::tokenCount(), 0u);
}
