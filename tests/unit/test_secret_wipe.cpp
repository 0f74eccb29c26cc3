// PINs, login tickets, keys and read-protected file bytes on their way between the
// caller and the card: no heap block that the library frees while it converts, wraps
// and carries one may still hold it in any of its forms (UTF-16 units, wide
// characters, UTF-8 or locale bytes, file bytes), on every family. Every allocation of this test binary goes through the
// replaced operators below; only a watching thread scans.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "applet_heron.h"
#include "applet_java.h"
#include "applet_kite.h"
#include "apppin/pin_common.h"
#include "crypto/crypto.h"
#include "libapdu.h"
#include "libapdu.internal.h"
#include "Z6EZSender.h"
#include "module_binding.h"
#include "scripted_sender.h"
#include "sim_crypto.h"
#include "sim_kite.h"
#include "sim_rsa.h"
#include "sim_tessel.h"
#include "sim_tokens.h"
#include "tessel_ticket.h"

namespace {
struct Watch {
    std::vector<std::vector<unsigned char>> forms;  // byte patterns of the secret
    int found = 0;
    // When set, a copy of every freed block, for secrets known only afterwards.
    std::vector<std::vector<unsigned char>>* kept = nullptr;
};
thread_local Watch* g_watch = nullptr;

void Scan(void* p) {
    Watch* w = g_watch;
    if (!w || !p) return;
    g_watch = nullptr;  // no scanning of the scan's own frees
    const size_t n = malloc_usable_size(p);
    const unsigned char* bytes = static_cast<const unsigned char*>(p);
    if (w->kept) w->kept->emplace_back(bytes, bytes + n);
    for (const auto& form : w->forms)
        if (n >= form.size())
            for (size_t i = 0; i + form.size() <= n; ++i)
                if (std::memcmp(bytes + i, form.data(), form.size()) == 0) {
                    ++w->found;
                    break;
                }
    g_watch = w;
}

// The first eight characters of the secret in each form it may take on the way.
std::vector<std::vector<unsigned char>> Forms(const std::string& ascii) {
    const std::string head = ascii.substr(0, 8);
    std::vector<unsigned char> narrow(head.begin(), head.end()), units, wide;
    for (char c : head) {
        const char16_t u = static_cast<char16_t>(c);
        const wchar_t wc = static_cast<wchar_t>(c);
        units.insert(units.end(), reinterpret_cast<const unsigned char*>(&u),
                     reinterpret_cast<const unsigned char*>(&u) + sizeof u);
        wide.insert(wide.end(), reinterpret_cast<const unsigned char*>(&wc),
                    reinterpret_cast<const unsigned char*>(&wc) + sizeof wc);
    }
    return {narrow, units, wide};
}

class CWatching {
public:
    explicit CWatching(const std::string& secret, const std::string& other = std::string()) {
        m_watch.forms = Forms(secret);
        if (!other.empty())
            for (auto& form : Forms(other)) m_watch.forms.push_back(std::move(form));
        g_watch = &m_watch;
    }
    ~CWatching() { g_watch = nullptr; }
    int found() const { return m_watch.found; }

private:
    Watch m_watch;
};

// The card side of the conversation, out of the watch: a card keeps what it stores.
// Commands reach it as the javax.smartcardio transport hands them on (that
// transport wipes its own copies).
class CUnwatchedCard : public libapdu::ISender {
public:
    explicit CUnwatchedCard(libapdu::ISender& card) : m_card(card) {}
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        Watch* w = g_watch;
        g_watch = nullptr;
        m_card.send(KOVA::APDUSupport::Z6EZSender::rewrite(command), response);
        g_watch = w;
    }
    libapdu::TBytes atr() override { return m_card.atr(); }

private:
    libapdu::ISender& m_card;
};

// A token of the module over a simulated card reached out of the watch; destroyed
// with the fixture.
struct CModuleToken {
    std::unique_ptr<cardsim::CardSim> sim;
    CUnwatchedCard unwatched;
    libapdu::ISender* card;
    long long h;
    explicit CModuleToken(std::unique_ptr<cardsim::CardSim> s)
        : sim(std::move(s)), unwatched(*sim), card(&unwatched), h(module_binding::createToken(card)) {}
    ~CModuleToken() { module_binding::destroyToken(card, h); }
};

const std::string kPin = "Qz7#kP2!wX9$mN4&vB6*rT1^yH8@jL3%";  // long enough never to sit inside a string object
}  // namespace

// Neither operator is inlined: where they are, the compiler pairs the malloc in
// one with the delete or the free in the other and warns of a mismatch. Every
// block starts as zeros: what an earlier owner left in the memory (the test's own
// copies of a secret, the simulated card's) never passes for what the block's
// owner wrote, in the room a vector holds past its size either.
__attribute__((noinline)) void* operator new(size_t n) {
    if (void* p = std::malloc(n ? n : 1)) {
        std::memset(p, 0, malloc_usable_size(p));
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
__attribute__((noinline)) void operator delete(void* p) noexcept {
    Scan(p);
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

TEST(SecretWipe, PinConversionsLeaveNoFreedCopy) {
    const std::wstring pin(kPin.begin(), kPin.end());
    for (unsigned char encoding : {2, 3}) {
        libapdu::TBytes bytes;
        int found = 0;
        {
            CWatching watch(kPin);
            bytes = libapdu::IConvert::wstring_to_bytes(pin, encoding);
            found = watch.found();
        }
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kPin);
        EXPECT_EQ(found, 0) << "encoding " << int(encoding) << ": freed blocks held the PIN";
        libapdu::SecureWipe(bytes);
    }
}

// The watch finds what it is meant to find: a copy freed unwiped.
TEST(SecretWipe, TheWatchSeesAFreedCopy) {
    CWatching watch(kPin);
    { std::string copy = kPin; }
    EXPECT_GT(watch.found(), 0);
}

// Login and PIN change as the natives call the module, on a simulated Java token.
TEST(SecretWipe, LoginAndChangeLeaveNoFreedCopyOfThePins) {
    cardsim::SimTokenOptions o;
    o.userPin.assign(kPin.begin(), kPin.end());
    std::unique_ptr<cardsim::CardSim> card = cardsim::MakeJavaToken(o);
    const long long h = module_binding::createToken(card.get());
    const std::u16string pin(kPin.begin(), kPin.end());
    std::string next = kPin;
    std::reverse(next.begin(), next.end());
    const std::u16string newPin(next.begin(), next.end());
    {
        CWatching watch(kPin);
        module_binding::Login(card.get(), h, &pin);
        EXPECT_EQ(watch.found(), 0) << "login";
    }
    {
        CWatching watch(next);
        module_binding::changePin(card.get(), h, &pin, &newPin);
        EXPECT_EQ(watch.found(), 0) << "change";
    }
    module_binding::destroyToken(card.get(), h);
}

// A read-protected container file's bytes on their way to the card and back: the
// pieces, the commands that carry them and the answers that bring them back are
// wiped before they are freed. (The simulated card keeps its own copies, as a card does.)
TEST(SecretWipe, ReadProtectedFileBytesLeaveNoFreedCopy) {
    CModuleToken token(cardsim::MakeJavaToken());
    libapdu::ISender* card = token.card;
    const long long h = token.h;
    const std::u16string pin = u"1234";
    module_binding::Login(card, h, &pin);
    module_binding::openDir(card, h, "5", true);
    const libapdu::TBytes secret(kPin.begin(), kPin.end());
    libapdu::TBytes back(secret.size());
    {
        CWatching watch(kPin);
        module_binding::storeFile(card, h, 0xF001, secret, false);
        module_binding::readFile(card, h, 0xF001, 0, back);
        EXPECT_EQ(watch.found(), 0);
    }
    EXPECT_EQ(back, secret);
}

// ---------------------------------------------------------------- every family

namespace {

// A container file's bytes, new on every call: a copy left by an earlier store (the
// simulator's, a test's own) that the allocator hands out again and the library
// frees unwritten cannot pass for one of this store's.
libapdu::TBytes FileBytes(size_t n) {
    static std::mt19937 random(20261210);
    libapdu::TBytes b(n);
    for (auto& x : b) x = static_cast<unsigned char>(random());
    return b;
}

class CWatchingBytes {
public:
    explicit CWatchingBytes(const libapdu::TBytes& secret) {
        for (size_t at = 0; at + 8 <= secret.size(); at += 8)
            m_watch.forms.emplace_back(secret.begin() + at, secret.begin() + at + 8);
        g_watch = &m_watch;
    }
    ~CWatchingBytes() { g_watch = nullptr; }
    int found() const { return m_watch.found; }

private:
    Watch m_watch;
};

struct WipeFamily {
    const char* name;
    std::unique_ptr<cardsim::CardSim> (*make)(const cardsim::SimTokenOptions&);
    bool fips;  // a FIPS token: files travel under secure messaging
    const char* read;  // the first bytes of the commands that read a file's bytes
};

void PrintTo(const WipeFamily& f, std::ostream* os) { *os << f.name; }

const WipeFamily kWipeFamilies[] = {
    {"Java", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeJavaToken(o); }, false, "80 18"},
    {"Heron", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeHeronToken(o); }, false, "80 1C"},
    {"Kite32", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeKiteToken("kite32", o); }, false, "00 B0"},
    {"Kite42Fips", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeKiteToken("kite42", o); }, true, "00 B0"},
    {"Gost", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeGostToken(o); }, false, "80 13 20 00"},
    {"Gost2", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeGost2Token(o); }, false, "80 4C 60 00"},
    {"DataStore", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeDataStoreToken(o); }, false, "80 20 30 00"},
    {"Tessel", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeTesselToken(o); }, false, "00 B0"},
};

class SecretWipeFamily : public ::testing::TestWithParam<WipeFamily> {};

}  // namespace

// A read-protected container file stored and read back through the entry points on
// every family, in one piece and in many (and, where the token has it, under secure
// messaging): no block the library frees on the way holds a run of the file.
TEST_P(SecretWipeFamily, StoreAndReadOfAProtectedFileLeaveNoFreedCopy) {
    cardsim::SimTokenOptions options;
    options.userPin = {'1', '2', '3', '4', '5', '6', '7', '8'};
    options.fips = GetParam().fips;
    CModuleToken token(GetParam().make(options));
    libapdu::ISender* card = token.card;
    const long long h = token.h;
    const std::u16string pin = u"12345678";
    module_binding::Login(card, h, &pin);
    module_binding::openDir(card, h, "1", true);
    for (size_t length : {48, 300}) {
        SCOPED_TRACE(length);
        const int file = length > 64 ? 0xF002 : 0xF001;
        const libapdu::TBytes secret = FileBytes(length);
        libapdu::TBytes back(secret.size());
        int found = 0;
        {
            CWatchingBytes watch(secret);
            module_binding::storeFile(card, h, file, secret, false);
            module_binding::readFile(card, h, file, 0, back);
            found = watch.found();
        }
        EXPECT_EQ(found, 0);
        EXPECT_EQ(back, secret);
    }
}

// A card that refuses a read with the file's bytes before the status word: the
// refused answer is wiped as well.
TEST_P(SecretWipeFamily, ARefusedReadThatCarriesTheBytesLeavesNoFreedCopy) {
    cardsim::SimTokenOptions options;
    options.userPin = {'1', '2', '3', '4', '5', '6', '7', '8'};
    options.fips = GetParam().fips;
    CModuleToken token(GetParam().make(options));
    const std::u16string pin = u"12345678";
    module_binding::Login(token.card, token.h, &pin);
    module_binding::openDir(token.card, token.h, "1", true);
    const libapdu::TBytes secret = FileBytes(48);
    module_binding::storeFile(token.card, token.h, 0xF001, secret, false);
    libapdu::TBytes refusal = secret;
    refusal.insert(refusal.end(), {0x69, 0x82});
    token.sim->replaceNext(cardsim::MatchPrefix(testing_card::Hex(GetParam().read)), refusal);
    libapdu::TBytes back(secret.size());
    int found = 0;
    module_binding::Outcome outcome;
    {
        CWatchingBytes watch(secret);
        outcome = module_binding::Run([&] { module_binding::readFile(token.card, token.h, 0xF001, 0, back); });
        found = watch.found();
    }
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(found, 0);
    size_t served = 0;
    for (const auto& e : token.sim->log()) served += e.response == refusal;
    EXPECT_EQ(served, 1u) << "the refusal was never served";
}

INSTANTIATE_TEST_SUITE_P(Families, SecretWipeFamily, ::testing::ValuesIn(kWipeFamilies),
                         [](const ::testing::TestParamInfo<WipeFamily>& i) { return std::string(i.param.name); });

namespace {
// The card of a token made below the module: owned by the token, the simulator not.
class COwnedUnwatchedCard : public libapdu::ISender {
public:
    explicit COwnedUnwatchedCard(libapdu::ISender& card) : m_card(card) {}
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override { m_card.send(command, response); }
    libapdu::TBytes atr() override { return m_card.atr(); }

private:
    CUnwatchedCard m_card;
};
}  // namespace

// The file systems the module does not choose by itself: the Wren token and the
// DataStore token's second layout, driven through the token as the module drives it.
TEST(SecretWipe, WrenAndTheSecondDataStoreLayoutLeaveNoFreedCopy) {
    struct Row {
        const char* name;
        std::unique_ptr<cardsim::CardSim> (*make)();
        unsigned short applet, layout;
        const char* read;  // the first bytes of the commands that read a file's bytes
    } const rows[] = {
        {"Wren", [] { return cardsim::MakeWrenToken(); }, 0x1001, 1, "00 B0"},
        {"DataStore, second layout", [] { return cardsim::MakeDataStoreToken(); }, 0x2205, 2, "80 20 30 00"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<cardsim::CardSim> sim = row.make();
        std::unique_ptr<libapdu::ISender> sender(new COwnedUnwatchedCard(*sim));
        std::unique_ptr<libapdu::IToken> token = libapdu::IToken::create(sender);
        token->switchToApplet(row.applet);
        if (row.layout != 1) token->switchToFileSystem(row.layout);
        libapdu::IAppPin* pin = token->pin();
        pin->select(pin->pathUser());
        pin->login(libapdu::TBytes{'1', '2', '3', '4'});
        libapdu::IAppFS* fs = token->fs();
        const libapdu::path folder = {0xE00E, 0x0B00, 0x0001};
        libapdu::FileCreatePath(libapdu::TokenToAdapter(token.get()), folder, libapdu::CFileInfo(2, 0, 0, 0));
        const unsigned char u = static_cast<unsigned char>(pin->pathUser().back());
        for (size_t length : {48, 300}) {
            SCOPED_TRACE(length);
            const unsigned short file = length > 64 ? 0xF002 : 0xF001;
            const libapdu::TBytes secret = FileBytes(length);
            libapdu::TBytes back(secret.size());
            fs->select(folder);
            fs->create(file, libapdu::CFileInfo(1, static_cast<unsigned short>(length), u, u));
            libapdu::path at = folder;
            at.push_back(file);
            int found = 0;
            {
                CWatchingBytes watch(secret);
                fs->select(at);
                fs->write(secret, 0);
                fs->read(back, 0);
                found = watch.found();
            }
            EXPECT_EQ(found, 0);
            EXPECT_EQ(back, secret);
        }
        // A read refused with file bytes before the status word.
        libapdu::TBytes refusal = FileBytes(48);
        const libapdu::TBytes carried = refusal;
        refusal.insert(refusal.end(), {0x69, 0x82});
        sim->replaceNext(cardsim::MatchPrefix(testing_card::Hex(row.read)), refusal);
        fs->select({0xE00E, 0x0B00, 0x0001, 0xF001});
        libapdu::TBytes back(48);
        int found = 0;
        bool refused = false;
        {
            CWatchingBytes watch(carried);
            try {
                fs->read(back, 0);
            } catch (const libapdu::IException&) {
                refused = true;
            }
            found = watch.found();
        }
        EXPECT_TRUE(refused);
        EXPECT_EQ(found, 0) << "refused read";
    }
}

// Login and PIN change on every family, the change under secure messaging where the
// token has it (a FIPS Kite token, the Tessel token): no freed block holds either PIN.
TEST_P(SecretWipeFamily, LoginAndChangeLeaveNoFreedCopyOfThePins) {
    const std::string first = "Qz7#kP2!wX9$mN4&", second = "Lr5@tG8^cV1*hJ6%";
    cardsim::SimTokenOptions options;
    options.userPin.assign(first.begin(), first.end());
    options.fips = GetParam().fips;
    CModuleToken token(GetParam().make(options));
    libapdu::ISender* card = token.card;
    const long long h = token.h;
    const std::u16string pin(first.begin(), first.end()), next(second.begin(), second.end());
    int found = 0;
    {
        CWatching watch(first);
        module_binding::Login(card, h, &pin);
        found = watch.found();
    }
    EXPECT_EQ(found, 0) << "login";
    {
        CWatching watch(first, second);
        module_binding::changePin(card, h, &pin, &next);
        found = watch.found();
    }
    EXPECT_EQ(found, 0) << "change";
}

// A key deciphered on a Tessel token comes back in pieces by GET RESPONSE: the
// answers, and the buffer that gathers them as it grows, leave no freed copy.
TEST(SecretWipe, ATesselDecipherInPiecesLeavesNoFreedCopyOfThePlainText) {
    std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeTesselToken();
    cardsim::SimTesselApplet* applet = sim->find<cardsim::SimTesselApplet>();
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(2048);
    applet->addKey(0x02, key, cardsim::MakeCertificate(key, 1, "large"));
    std::unique_ptr<libapdu::ISender> sender(new COwnedUnwatchedCard(*sim));
    std::unique_ptr<libapdu::IToken> token = libapdu::IToken::create(sender);
    token->selectApplet(0x2101);
    token->pin()->select(token->pin()->pathUser());
    token->pin()->login(libapdu::TBytes{'1', '2', '3', '4'});
    token->crypto()->select({0x3F00, 0x3000, 0x3002, 0x0202});
    applet->splitAnswers(40);
    const libapdu::TBytes secret = FileBytes(200);
    const libapdu::TBytes cipher = cardsim::RsaEncrypt(key, secret);
    libapdu::TBytes plain;
    int found = 0;
    {
        CWatchingBytes watch(secret);
        plain = token->crypto()->decrypt(cipher);
        found = watch.found();
    }
    EXPECT_EQ(found, 0);
    EXPECT_EQ(plain, secret);
    EXPECT_GE(sim->count(0x00, 0xC0), 4u);
    libapdu::SecureWipe(plain);
}

// ---------------------------------------------------------------- Tessel and Kite roads

namespace {

// The eight-byte runs of a secret, less those too plain to tell apart from a
// block of zeros or of filler (runs of a mostly empty record).
std::vector<std::vector<unsigned char>> Runs(const libapdu::TBytes& secret) {
    std::vector<std::vector<unsigned char>> runs;
    for (size_t at = 0; at + 8 <= secret.size(); at += 8) {
        std::vector<unsigned char> run(secret.begin() + at, secret.begin() + at + 8);
        std::vector<unsigned char> distinct = run;
        std::sort(distinct.begin(), distinct.end());
        if (std::unique(distinct.begin(), distinct.end()) - distinct.begin() >= 3) runs.push_back(std::move(run));
    }
    return runs;
}

// A watch for the runs and forms given, which also keeps every block freed while
// it lives: some secrets are known only once the road is over (the answer to the
// card's challenge).
class CWatchingRoad {
public:
    // The forms come in whole: temporaries that made them must be gone before the watch begins.
    explicit CWatchingRoad(std::vector<std::vector<unsigned char>>&& forms) {
        m_watch.forms = std::move(forms);
        m_watch.kept = &m_kept;
        g_watch = &m_watch;
    }
    ~CWatchingRoad() { stop(); }
    void stop() { g_watch = nullptr; }
    int found() const { return m_watch.found; }
    // Kept blocks holding one of the secret's runs; called once the watch stopped.
    int holding(const libapdu::TBytes& secret) const {
        int n = 0;
        for (const auto& block : m_kept)
            for (const auto& run : Runs(secret))
                if (std::search(block.begin(), block.end(), run.begin(), run.end()) != block.end()) {
                    ++n;
                    break;
                }
        return n;
    }

private:
    Watch m_watch;
    std::vector<std::vector<unsigned char>> m_kept;
};

std::vector<std::vector<unsigned char>> operator+(std::vector<std::vector<unsigned char>> a,
                                                  const std::vector<std::vector<unsigned char>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A Tessel token the library opens over a simulated card reached out of the watch.
struct CTesselRoad {
    std::unique_ptr<cardsim::CardSim> sim;
    cardsim::SimTesselApplet* applet;
    std::unique_ptr<libapdu::IToken> token;
    explicit CTesselRoad(const cardsim::SimTokenOptions& o = cardsim::SimTokenOptions())
        : sim(cardsim::MakeTesselToken(o)), applet(sim->find<cardsim::SimTesselApplet>()) {
        std::unique_ptr<libapdu::ISender> sender(new COwnedUnwatchedCard(*sim));
        token = libapdu::IToken::create(sender);
        token->selectApplet(0x2101);
    }
    libapdu::IAppPin* pin() { return token->pin(); }
    // The data field of the last command the card took with this CLA and INS.
    libapdu::TBytes lastData(unsigned char cla, unsigned char ins) const {
        libapdu::TBytes data;
        for (const auto& e : sim->log())
            if (e.command.size() > 5 && e.command[0] == cla && e.command[1] == ins)
                data.assign(e.command.begin() + 5, e.command.begin() + 5 + e.command[4]);
        return data;
    }
};

const std::string kTesselPin = "Qz7#kP2!wX9$mN4&";

}  // namespace

namespace {
// A callee that takes its bytes by value, as the pack facet's keySet does.
__attribute__((noinline)) size_t TakenByValue(libapdu::TBytes b) { return b.size(); }
// A callee that fills a buffer lent to it past the room it came with.
__attribute__((noinline)) void FilledPastItsRoom(libapdu::TBytes& out, const libapdu::TBytes& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), s.begin(), s.end());
}
}  // namespace

// The library's byte buffers let go of no block unwiped, whatever is done with them:
// grown past their room, copied, assigned anew, shrunk, passed by value, lent to a
// callee that regrows them, destroyed.
TEST(SecretWipe, ByteBuffersWipeEveryBlockTheyLetGo) {
    using libapdu::TBytes;
    struct Case {
        const char* name;
        void (*road)(const TBytes& s);
    } const cases[] = {
        {"grown a byte at a time",
         [](const TBytes& s) {
             TBytes b;
             for (unsigned char x : s) b.push_back(x);
         }},
        {"grown in pieces",
         [](const TBytes& s) {
             TBytes b;
             for (size_t at = 0; at < s.size(); at += 8) b.insert(b.end(), s.begin() + at, s.begin() + at + 8);
         }},
        {"moved to a larger block",
         [](const TBytes& s) {
             TBytes b(s);
             b.reserve(4 * s.size());
         }},
        {"grown by resize",
         [](const TBytes& s) {
             TBytes b(s);
             b.resize(3 * s.size());
         }},
        {"shrunk to fit",
         [](const TBytes& s) {
             TBytes b(s);
             b.resize(8);
             b.shrink_to_fit();
         }},
        {"copied",
         [](const TBytes& s) {
             const TBytes copy = s;
             TBytes assigned;
             assigned = copy;
         }},
        {"assigned more bytes than it has room for",
         [](const TBytes& s) {
             TBytes b(s);
             b = TBytes(4 * s.size(), 0x5A);
         }},
        {"assigned another's by move",
         [](const TBytes& s) {
             TBytes b(s);
             TBytes other(8, 0x5A);
             b = std::move(other);
         }},
        {"passed by value", [](const TBytes& s) { TakenByValue(s); }},
        {"lent to a callee that regrows it",
         [](const TBytes& s) {
             TBytes b(s);
             FilledPastItsRoom(b, s);
         }},
        {"joined behind a header", [](const TBytes& s) { libapdu::Join({0x00, 0xD6, 0x00, 0x00}, s); }},
        {"a PIN command built",
         [](const TBytes& s) {
             libapdu::CPinCommand c(0x00, 0x20, 0x00, 0x00);
             c.bytes(s);
             const TBytes apdu = c.build(true);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TBytes secret = FileBytes(64);
        int found = 0;
        {
            CWatchingBytes watch(secret);
            c.road(secret);
            found = watch.found();
        }
        EXPECT_EQ(found, 0);
    }
}

// A login ticket of each type that reaches the biometric step, the PIN step or
// both: neither the ticket's text, nor its decoded record (the PIN's characters,
// the ticket key), nor the PIN as the PIN step converts it, nor the answer to the
// card's challenge is left in a freed block.
TEST(SecretWipe, TesselTicketLoginsLeaveNoFreedCopyOfTheTicket) {
    struct Case {
        unsigned int type;
        bool bio, pin;
    } const cases[] = {
        {0x20, false, true}, {0x23, true, false}, {0x24, true, false},
        {0x24, false, true}, {0x24, true, true},  {0x25, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.type << (c.bio ? " biometric" : "") << (c.pin ? " PIN" : ""));
        cardsim::SimTokenOptions options;
        options.userPin.assign(kTesselPin.begin(), kTesselPin.end());
        CTesselRoad t(options);
        tessel_test::TicketParts parts;
        parts.type = c.type;
        parts.keyId = c.bio ? cardsim::SimTesselApplet::kTicketKeyId : libapdu::TBytes(4, 0);
        parts.key = c.bio ? cardsim::SimTesselApplet::kTicketKey : libapdu::TBytes(16, 0);
        parts.pin = c.pin ? std::u32string(kTesselPin.begin(), kTesselPin.end()) : U"";
        const libapdu::TBytes text = tessel_test::TicketText(parts);
        const libapdu::TBytes decoded = tessel_test::TicketBytes(parts);
        std::vector<std::vector<unsigned char>> forms = Runs(text) + Runs(libapdu::TBytes(decoded.begin() + 24, decoded.end()));
        if (c.pin) forms = forms + Forms(kTesselPin);
        int found = 0;
        libapdu::TBytes response;
        {
            CWatchingRoad watch(std::move(forms));
            t.pin()->login(text);
            watch.stop();
            found = watch.found();
            if (c.pin) {
                response = t.lastData(0x80, 0x20);
                ASSERT_EQ(response.size(), 16u);
                EXPECT_EQ(watch.holding(response), 0) << "the answer to the challenge";
            }
        }
        EXPECT_EQ(found, 0);
        EXPECT_EQ(t.applet->bioVerified(), c.bio);
        EXPECT_EQ(t.applet->pin(0x24)->verified, c.pin);
    }
}

// PIN verification on every kind of designator (the user PIN by its challenge,
// the others by VERIFY with the PIN itself) and the external login.
TEST(SecretWipe, TesselVerificationsAndTheExternalLoginLeaveNoFreedCopy) {
    struct Case {
        const char* name;
        unsigned char reference;
        bool external;
    } const cases[] = {
        {"user, by challenge", 0x24, false}, {"admin", 0x10, false},        {"a PIN counted apart", 0x11, false},
        {"another PIN", 0x12, false},        {"external login", 0x24, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTesselRoad t;
        const libapdu::TBytes secret(kTesselPin.begin(), kTesselPin.end());
        t.applet->pin(c.reference)->value = secret;
        t.pin()->pathUser();  // the designators read first, as callers do (the read moves the card)
        t.pin()->select({0x3F00, c.reference});
        int found = 0;
        {
            CWatchingRoad watch(Forms(kTesselPin));
            if (c.external)
                t.pin()->externalLogin(secret);
            else
                t.pin()->login(secret);
            watch.stop();
            found = watch.found();
            if (c.reference == 0x24 && !c.external) {
                const libapdu::TBytes response = t.lastData(0x80, 0x20);
                ASSERT_EQ(response.size(), 16u);
                EXPECT_EQ(watch.holding(response), 0) << "the answer to the challenge";
            }
        }
        EXPECT_EQ(found, 0);
        EXPECT_TRUE(t.applet->pin(c.reference)->verified);
    }
}

namespace {
// The eight parts of an RSA key of 1024 bits as an import takes them.
libapdu::CCryptoInfo KeyToImport(const cardsim::SimRsaKey& key) {
    libapdu::CCryptoInfo info;
    info.keyLength = 128;
    info.keyPart1 = cardsim::RsaPublicExponent(key);
    info.keyPart2 = cardsim::RsaModulus(key);
    info.keyPart3 = cardsim::RsaPrivatePart(key, "d");
    info.keyPart4 = cardsim::RsaPrivatePart(key, "rsa-factor1");
    info.keyPart5 = cardsim::RsaPrivatePart(key, "rsa-factor2");
    info.keyPart6 = cardsim::RsaPrivatePart(key, "rsa-exponent1");
    info.keyPart7 = cardsim::RsaPrivatePart(key, "rsa-exponent2");
    info.keyPart8 = cardsim::RsaPrivatePart(key, "rsa-coefficient1");
    return info;
}

// Imports the key as the facet is asked to, watching for the private parts of
// `secret` (the key the caller means, whatever `info` has become): the code raised
// (0 when imported) and how many freed blocks held a run of them.
unsigned short WatchedImport(libapdu::IAppCrypto* crypto, unsigned short fid, const libapdu::CCryptoInfo& info,
                             const libapdu::CCryptoInfo& secret, int& found) {
    std::vector<std::vector<unsigned char>> runs;
    for (const libapdu::TBytes* part : {&secret.keyPart3, &secret.keyPart4, &secret.keyPart5, &secret.keyPart6,
                                        &secret.keyPart7, &secret.keyPart8})
        runs = runs + Runs(*part);
    unsigned short code = 0;
    CWatchingRoad watch(std::move(runs));
    try {
        crypto->create(fid, info);
    } catch (const libapdu::IException& e) {
        code = e.code();
    }
    found = watch.found();
    return code;
}
}  // namespace

// A key imported with all eight parts, and each refusal before the card is asked:
// no freed block holds a run of the private parts (the caller's by-value copies
// included).
TEST(SecretWipe, TesselKeyImportLeavesNoFreedCopyOfThePrivateParts) {
    const libapdu::CCryptoInfo full = KeyToImport(cardsim::MakeRsaKey(1024));
    auto with = [&](std::function<void(libapdu::CCryptoInfo&)> change) {
        libapdu::CCryptoInfo i = full;
        change(i);
        return i;
    };
    struct Case {
        const char* name;
        unsigned short fid;
        libapdu::CCryptoInfo info;
        unsigned short refusal;  // 0: imported
    } const cases[] = {
        {"imported", 0x0203, full, 0},
        {"a reserved file identifier", 0x3F00, full, 0x6900},
        {"a key length the card has not", 0x0203, with([](libapdu::CCryptoInfo& i) { i.keyLength = 192; }), 0x6900},
        {"a first part too long for its length byte", 0x0203,
         with([](libapdu::CCryptoInfo& i) { i.keyPart1.assign(256, 0x01); }), 0x6B00},
        {"a part too long for its length field", 0x0203,
         with([](libapdu::CCryptoInfo& i) { i.keyPart2.assign(0x10000, 0x02); }), 0x6B00},
        {"parts too long for the command", 0x0203,
         with([](libapdu::CCryptoInfo& i) { i.keyPart2.assign(0xFF00, 0x02); }), 0x6B00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTesselRoad t;
        t.pin()->select(t.pin()->pathUser());
        t.pin()->login(libapdu::TBytes{'1', '2', '3', '4'});
        t.token->fs()->select({0x3F00, 0x3000, 0x3002});
        int found = 0;
        EXPECT_EQ(WatchedImport(t.token->crypto(), c.fid, c.info, full, found), c.refusal);
        EXPECT_EQ(found, 0);
        EXPECT_EQ(t.applet->find({0x3F00, 0x3000, 0x3002, 0x0203}) != nullptr, c.refusal == 0);
    }
}

// A PIN change on a FIPS Kite token: the new PIN's MAC and encryption keys, held
// while the change runs through both reference sets and replaced for the last
// phase, are left in no freed block.
TEST(SecretWipe, AFipsKitePinChangeLeavesNoFreedCopyOfTheNewKeys) {
    const std::string first = "Qz7#kP2!wX9$mN4&", second = "Lr5@tG8^cV1*hJ6%";
    cardsim::SimTokenOptions options;
    options.userPin.assign(first.begin(), first.end());
    options.fips = true;
    CModuleToken token(cardsim::MakeKiteToken("kite42", options));
    const libapdu::TBytes salt = token.sim->find<cardsim::SimKiteApplet>()->salt();
    std::vector<std::vector<unsigned char>> keys;
    for (int id : {1, 3}) {
        libapdu::TBytes k(24, 0);
        libapdu::crypto_corvid_kite_sha1(id, reinterpret_cast<const unsigned char*>(second.data()), second.size(),
                                         salt.data(), salt.size(), k.data(), k.size());
        keys = keys + Runs(k);
    }
    const std::u16string pin(first.begin(), first.end()), next(second.begin(), second.end());
    module_binding::Login(token.card, token.h, &pin);
    std::vector<std::vector<unsigned char>> forms = keys + Forms(first) + Forms(second);
    int found = 0;
    {
        CWatchingRoad watch(std::move(forms));
        module_binding::changePin(token.card, token.h, &pin, &next);
        found = watch.found();
    }
    EXPECT_EQ(found, 0);
    cardsim::SimKiteApplet* applet = token.sim->find<cardsim::SimKiteApplet>();
    EXPECT_TRUE(applet->pinIs(0x11, libapdu::TBytes(second.begin(), second.end())));
}

// ---------------------------------------------------------------- logins by challenge

namespace {

// A family whose login answers the card's challenge with a MAC under a key derived
// from the PIN.
struct LoginFamily {
    const char* name;
    std::unique_ptr<cardsim::CardSim> (*make)(const cardsim::SimTokenOptions&);
    bool fips;
    unsigned char cla, ins;  // the login command; its last eight bytes are the MAC
    // The keys the library derives from a PIN on this token.
    std::vector<libapdu::TBytes> (*keys)(const cardsim::CardSim& card, const libapdu::TBytes& pin);
};

void PrintTo(const LoginFamily& f, std::ostream* os) { *os << f.name; }

std::vector<libapdu::TBytes> JavaKeys(const cardsim::CardSim& card, const libapdu::TBytes& pin) {
    const libapdu::TBytes salt = card.find<cardsim::SimJavaApplet>()->salt();
    std::vector<libapdu::TBytes> keys;
    for (int id = 0; id < 5; ++id) keys.push_back(cardsim::JavaKey(id, pin, salt));
    return keys;
}

std::vector<libapdu::TBytes> KiteKeys(const cardsim::CardSim& card, const libapdu::TBytes& pin) {
    const libapdu::TBytes salt = card.find<cardsim::SimKiteApplet>()->salt();
    return {cardsim::PinKey24(pin), cardsim::JavaKey(1, pin, salt), cardsim::JavaKey(3, pin, salt)};
}

std::unique_ptr<cardsim::CardSim> Kite32(const cardsim::SimTokenOptions& o) { return cardsim::MakeKiteToken("kite32", o); }
std::unique_ptr<cardsim::CardSim> Kite42(const cardsim::SimTokenOptions& o) { return cardsim::MakeKiteToken("kite42", o); }

const LoginFamily kLoginFamilies[] = {
    {"Java", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeJavaToken(o); }, false, 0x80, 0x11, JavaKeys},
    {"JavaFips", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeJavaToken(o); }, true, 0x80, 0x11, JavaKeys},
    {"Heron", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeHeronToken(o); }, false, 0x80, 0x10, JavaKeys},
    {"HeronFips", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeHeronToken(o); }, true, 0x80, 0x10,
     JavaKeys},
    {"Kite32", Kite32, false, 0x00, 0x82, KiteKeys},
    {"Kite42", Kite42, false, 0x00, 0x82, KiteKeys},
    {"Kite42Fips", Kite42, true, 0x00, 0x82, KiteKeys},
};

class SecretWipeLogin : public ::testing::TestWithParam<LoginFamily> {};

}  // namespace

// Login, and a PIN change with the logins it makes, through the entry points: no
// freed block holds the answer to any of the card's challenges (with the challenge,
// which travels in clear, it would let PIN guesses be tested offline), nor a key
// derived from either PIN.
TEST_P(SecretWipeLogin, LoginAndChangeLeaveNoFreedCopyOfTheMacsOrTheLoginKeys) {
    const LoginFamily& f = GetParam();
    const std::string first = "Qz7#kP2!wX9$mN4&", second = "Lr5@tG8^cV1*hJ6%";
    cardsim::SimTokenOptions options;
    options.userPin.assign(first.begin(), first.end());
    options.fips = f.fips;
    CModuleToken token(f.make(options));
    const std::u16string pin(first.begin(), first.end()), next(second.begin(), second.end());
    std::vector<std::vector<unsigned char>> keys;
    for (const std::string* p : {&first, &second})
        for (const libapdu::TBytes& k : f.keys(*token.sim, libapdu::TBytes(p->begin(), p->end()))) keys = keys + Runs(k);
    struct Step {
        const char* name;
        std::function<void()> call;
    } const steps[] = {
        {"login", [&] { module_binding::Login(token.card, token.h, &pin); }},
        {"change", [&] { module_binding::changePin(token.card, token.h, &pin, &next); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const size_t before = token.sim->log().size();
        int found = 0, holding = 0;
        std::vector<libapdu::TBytes> macs;
        std::vector<std::vector<unsigned char>> forms = keys + Forms(first) + Forms(second);
        {
            CWatchingRoad watch(std::move(forms));
            step.call();
            watch.stop();
            found = watch.found();
            const std::vector<cardsim::SimLogEntry> log = token.sim->log();
            for (size_t i = before; i < log.size(); ++i) {
                const libapdu::TBytes& c = log[i].command;
                if (c.size() >= 13 && c[0] == f.cla && c[1] == f.ins) macs.emplace_back(c.end() - 8, c.end());
            }
            for (const libapdu::TBytes& mac : macs) holding += watch.holding(mac);
        }
        EXPECT_FALSE(macs.empty()) << "no login was seen";
        EXPECT_EQ(holding, 0) << "a freed block held the answer to a challenge";
        EXPECT_EQ(found, 0) << "a freed block held a PIN or a key derived from one";
    }
}

INSTANTIATE_TEST_SUITE_P(Families, SecretWipeLogin, ::testing::ValuesIn(kLoginFamilies),
                         [](const ::testing::TestParamInfo<LoginFamily>& i) { return std::string(i.param.name); });

// A PIN change under secure messaging sets the session keys aside while it derives the
// new PIN's; after a logout neither the slots nor that copy gives any key back.
TEST(SecretWipe, NoSessionKeyOutlivesALogoutAfterAFipsPinChange) {
    const struct {
        const char* name;
        std::unique_ptr<cardsim::CardSim> (*make)(const cardsim::SimTokenOptions&);
        libapdu::IApplet* (*applet)(libapdu::ISender* card);
    } cases[] = {
        {"Java", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeJavaToken(o); },
         [](libapdu::ISender* card) -> libapdu::IApplet* { return new libapdu::CAppletJava(card); }},
        {"Heron", [](const cardsim::SimTokenOptions& o) { return cardsim::MakeHeronToken(o); },
         [](libapdu::ISender* card) -> libapdu::IApplet* { return new libapdu::CAppletHeron(card); }},
        {"Kite42", Kite42, [](libapdu::ISender* card) -> libapdu::IApplet* { return new libapdu::CAppletKite(card); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cardsim::SimTokenOptions options;
        options.fips = true;
        std::unique_ptr<cardsim::CardSim> card = c.make(options);
        std::unique_ptr<libapdu::IApplet> applet(c.applet(card.get()));
        applet->selectTokenApp();
        applet->init();
        libapdu::IAppPin* pin = applet->pin();
        pin->select(pin->pathUser());
        pin->login(libapdu::TBytes{'1', '2', '3', '4'});
        pin->select(pin->pathUser());
        pin->change(libapdu::TBytes{'5', '6', '7', '8'});
        pin->logout();
        libapdu::IAppPack* keys = applet->pack();
        keys->keyRestore();
        for (size_t slot = 0; slot < 5; ++slot) {
            unsigned short code = 0;
            try {
                keys->keyGet(slot);
            } catch (const libapdu::IException& e) {
                code = e.code();
            }
            EXPECT_EQ(code, 0x6900) << "slot " << slot;
        }
    }
}

// ---------------------------------------------------------------- deciphering

namespace {
// A key object's descriptor on a Java token: the six-byte key header, then the name.
libapdu::TBytes JavaKeyDescriptor(const std::string& name) {
    libapdu::TBytes d = {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x01, 0xAA, 0x02, 0xBB, 0xCC,
                         static_cast<unsigned char>(name.size())};
    d.insert(d.end(), name.begin(), name.end());
    return d;
}

// A token the library opens over a simulated card reached out of the watch.
struct CCardRoad {
    std::unique_ptr<cardsim::CardSim> sim;
    std::unique_ptr<libapdu::IToken> token;
    CCardRoad(std::unique_ptr<cardsim::CardSim> s, unsigned short applet) : sim(std::move(s)) {
        std::unique_ptr<libapdu::ISender> sender(new COwnedUnwatchedCard(*sim));
        token = libapdu::IToken::create(sender);
        token->selectApplet(applet);
        token->pin()->select(token->pin()->pathUser());
        token->pin()->login(libapdu::TBytes{'1', '2', '3', '4'});
    }
};
}  // namespace

// The plain text of a decipherment on a Java and a Kite token, in the clear and
// under secure messaging: neither the card's answer nor the unwrapped reply is
// left in a freed block.
TEST(SecretWipe, JavaAndKiteDeciphermentsLeaveNoFreedCopyOfThePlainText) {
    // Of the size a FIPS Kite token deciphers under secure messaging.
    const cardsim::SimRsaKey key = cardsim::SharedRsaKey(1024);
    struct Case {
        const char* name;
        bool fips;
        bool java;
    } const cases[] = {{"Java", false, true}, {"Java FIPS", true, true}, {"Kite42", false, false},
                       {"Kite42 FIPS", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cardsim::SimTokenOptions o;
        o.fips = c.fips;
        std::unique_ptr<cardsim::CardSim> sim = c.java ? cardsim::MakeJavaToken(o) : cardsim::MakeKiteToken("kite42", o);
        libapdu::path at;
        if (c.java) {
            sim->find<cardsim::SimJavaApplet>()->addKeyObject(0x3002, JavaKeyDescriptor("large"), key);
            at = {0x3F00, 0x6666, 0x5000, 0x0220, 0x3002};
        } else if (c.fips) {
            sim->find<cardsim::SimKiteApplet>()->addFipsKey(0x3002, "large", key, cardsim::MakeCertificate(key, 1, "large"));
            at = {0x3F00, 0x6666, 0x5000, 0x0220, 0x3002};
        } else {
            sim->find<cardsim::SimKiteApplet>()->addKey(0x2002, 1, "large", key, cardsim::MakeCertificate(key, 1, "large"));
            at = {0x3F00, 0x6666, 0x6000, 0x2002, 0x0001};
        }
        CCardRoad road(std::move(sim), c.java ? 0x2001 : 0x1002);
        road.token->crypto()->select(at);
        const libapdu::TBytes secret = FileBytes(100);
        const libapdu::TBytes cipher = cardsim::RsaEncrypt(key, secret);
        libapdu::TBytes plain;
        int found = 0;
        {
            CWatchingBytes watch(secret);
            plain = road.token->crypto()->decrypt(cipher);
            found = watch.found();
        }
        EXPECT_EQ(found, 0);
        EXPECT_EQ(plain, secret);
    }
}

// A decipherment answer that fills the Tessel reply buffer to its last byte, or to
// one byte short of it, before the status word is added: the gathered answer grows
// past its room there, and the block it leaves holds the plain text.
TEST(SecretWipe, ATesselDecipherAnswerAtTheEdgeOfItsBufferLeavesNoFreedCopy) {
    for (size_t size : {1023, 1024}) {
        SCOPED_TRACE(size);
        CTesselRoad t;
        t.pin()->select(t.pin()->pathUser());
        t.pin()->login(libapdu::TBytes{'1', '2', '3', '4'});
        // The answer data: the plain text element 80 82 nn nn, then filler to the size.
        const libapdu::TBytes secret = FileBytes(size - 4);
        libapdu::TBytes answer = {0x80, 0x82, static_cast<unsigned char>(secret.size() >> 8),
                                  static_cast<unsigned char>(secret.size() & 0xFF)};
        answer.insert(answer.end(), secret.begin(), secret.end());
        answer.insert(answer.end(), {0x90, 0x00});
        t.sim->replaceNext(cardsim::MatchPrefix(testing_card::Hex("00 2A 80")), answer);
        libapdu::TBytes plain;
        int found = 0;
        {
            CWatchingBytes watch(secret);
            plain = t.token->crypto()->decrypt(libapdu::TBytes(16, 0x42));
            found = watch.found();
        }
        EXPECT_EQ(plain, secret);
        EXPECT_EQ(found, 0);
        libapdu::SecureWipe(plain);
    }
}

// A key handed to a family that imports none (Java, Heron, Kite): refused with
// FACE, and the private parts of the by-value copy it was given are not left in a
// freed block.
TEST(SecretWipe, ARefusedImportOnAFamilyWithoutKeyImportLeavesNoFreedCopyOfThePrivateParts) {
    libapdu::CCryptoInfo info = KeyToImport(cardsim::MakeRsaKey(1024));
    info.privateKey = info.keyPart3;
    struct Case {
        const char* name;
        std::unique_ptr<cardsim::CardSim> (*make)();
        unsigned short applet;
    } const cases[] = {
        {"Java", [] { return cardsim::MakeJavaToken(); }, 0x2001},
        {"Heron", [] { return cardsim::MakeHeronToken(); }, 0x2204},
        {"Kite32", [] { return cardsim::MakeKiteToken("kite32"); }, 0x1002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCardRoad road(c.make(), c.applet);
        int found = 0;
        EXPECT_EQ(WatchedImport(road.token->crypto(), 0x0203, info, info, found), 0xFACE);
        EXPECT_EQ(found, 0);
    }
}
