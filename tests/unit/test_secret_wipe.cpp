// PINs on their way from the caller to the card: no heap block that the library frees
// while it converts and uses one may still hold the PIN in any of its forms (UTF-16
// units, wide characters, UTF-8 or locale bytes). Every allocation of this test
// binary goes through the replaced operators below; only a watching thread scans.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "libapdu.h"
#include "libapdu.internal.h"
#include "module_binding.h"
#include "sim_tokens.h"

namespace {
struct Watch {
    std::vector<std::vector<unsigned char>> forms;  // byte patterns of the secret
    int found = 0;
};
thread_local Watch* g_watch = nullptr;

void Scan(void* p) {
    Watch* w = g_watch;
    if (!w || !p) return;
    g_watch = nullptr;  // no scanning of the scan's own frees
    const size_t n = malloc_usable_size(p);
    const unsigned char* bytes = static_cast<const unsigned char*>(p);
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
    explicit CWatching(const std::string& secret) {
        m_watch.forms = Forms(secret);
        g_watch = &m_watch;
    }
    ~CWatching() { g_watch = nullptr; }
    int found() const { return m_watch.found; }

private:
    Watch m_watch;
};

// The card side of the conversation, out of the watch: a card keeps what it stores.
class CUnwatchedCard : public libapdu::ISender {
public:
    explicit CUnwatchedCard(libapdu::ISender& card) : m_card(card) {}
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        Watch* w = g_watch;
        g_watch = nullptr;
        m_card.send(command, response);
        g_watch = w;
    }
    libapdu::TBytes atr() override { return m_card.atr(); }

private:
    libapdu::ISender& m_card;
};

const std::string kPin = "Qz7#kP2!wX9$mN4&vB6*rT1^yH8@jL3%";  // long enough never to sit inside a string object
}  // namespace

void* operator new(size_t n) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept {
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
    std::unique_ptr<cardsim::CardSim> sim = cardsim::MakeJavaToken();
    CUnwatchedCard unwatched(*sim);
    libapdu::ISender* card = &unwatched;
    const long long h = module_binding::createToken(card);
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
    module_binding::destroyToken(card, h);
}
