// The token module under threads, as a key store drives it, over simulated cards
// in process; built and run under ThreadSanitizer in CI (-DKEYSHELF_TSAN=ON).
//
// Each slot is one card that outlives its tokens. Its owner thread creates a
// token, logs in, changes the PIN and back, publishes the handle, works on its own
// file, and destroys the token while the slot's helper threads are still calling
// on it; then creates the next. Slots run side by side, so tokens are created and
// destroyed while others are used, and the allocator hands out freed memory again.
// Every file a thread stored is read back at the end on a fresh token. A separate
// phase holds one call inside the card and destroys its token meanwhile.
//
//   module_stress [ROUNDS]   (default 6)
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "module_binding.h"
#include "sim_tokens.h"

namespace mb = module_binding;
using libapdu::TBytes;

namespace {

const std::u16string kPin = u"1234";
const std::u16string kOtherPin = u"5678";
const size_t kSlots = 4;
const size_t kHelpers = 2;

std::mutex g_reportMutex;
std::atomic<int> g_failures{0};
std::atomic<long> g_helperCalls{0}, g_helperGone{0};

void Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(g_reportMutex);
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++g_failures;
}

// A card in its reader: one command at a time, as a reader serialises them.
// With a gate armed, the next command waits inside the card until it is opened.
class ReaderCard : public libapdu::ISender {
public:
    explicit ReaderCard(std::unique_ptr<cardsim::CardSim> card) : m_card(std::move(card)) {}

    void send(const TBytes& command, TBytes& response) override {
        {
            std::unique_lock<std::mutex> gate(m_gateMutex);
            if (m_armed) {
                m_armed = false;
                m_waiting = true;
                m_gateChanged.notify_all();
                m_gateChanged.wait(gate, [&] { return !m_waiting; });
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_card->send(command, response);
    }
    TBytes atr() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_card->atr();
    }
    void control(unsigned int, const TBytes&, TBytes&) override {}

    void arm() {
        std::lock_guard<std::mutex> gate(m_gateMutex);
        m_armed = true;
    }
    void awaitInside() {
        std::unique_lock<std::mutex> gate(m_gateMutex);
        m_gateChanged.wait(gate, [&] { return m_waiting; });
    }
    void open() {
        std::lock_guard<std::mutex> gate(m_gateMutex);
        m_waiting = false;
        m_gateChanged.notify_all();
    }

private:
    std::unique_ptr<cardsim::CardSim> m_card;
    std::mutex m_mutex;
    std::mutex m_gateMutex;
    std::condition_variable m_gateChanged;
    bool m_armed = false;
    bool m_waiting = false;
};

// The failure a call may meet when its token is destroyed under it or its
// directory closed: the handle or the directory is no longer found.
bool Gone(const mb::Outcome& o) { return o.javaClass == "java/io/IOException" && o.message == "Unknown error"; }

std::string Describe(const mb::Outcome& o) { return o.javaClass + " \"" + o.message + "\""; }

TBytes Content(unsigned seed, size_t n) {
    TBytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed * 131 + i * 7 + 1);
    return b;
}

struct Slot {
    std::unique_ptr<ReaderCard> card;
    std::string dir;
    std::atomic<long long> handle{0};
    std::atomic<bool> done{false};
    // What each thread last stored and saw succeed, by file: empty when deleted.
    std::mutex filesMutex;
    std::map<int, TBytes> files;

    void stored(int file, const TBytes& data) {
        std::lock_guard<std::mutex> lock(filesMutex);
        files[file] = data;
    }
};

// One file per thread of a slot: the owner's and each helper's.
const int kFiles[1 + kHelpers] = {0xF001, 0xF002, 0xF004};

void Owner(Slot& slot, int rounds) {
    libapdu::ISender* card = slot.card.get();
    for (int round = 0; round < rounds; ++round) {
        long long h = 0;
        mb::Outcome o = mb::Run([&] {
            h = mb::createToken(card);
            mb::Login(card, h, &kPin);
            mb::changePin(card, h, &kPin, &kOtherPin);
            mb::changePin(card, h, &kOtherPin, &kPin);
            mb::openDir(card, h, slot.dir, true);
        });
        if (!o.ok()) {
            Fail(slot.dir + ": setting up a token: " + Describe(o));
            return;
        }
        slot.handle = h;
        for (int i = 0; i < 4; ++i) {
            const TBytes data = Content(static_cast<unsigned>(round * 10 + i), 8 + static_cast<size_t>(i) * 13);
            o = mb::Run([&] { mb::storeFile(card, h, kFiles[0], data, false); });
            if (!o.ok()) {
                Fail(slot.dir + ": owner store: " + Describe(o));
                continue;
            }
            slot.stored(kFiles[0], data);
            TBytes back(data.size());
            o = mb::Run([&] { mb::readFile(card, h, kFiles[0], static_cast<int>(back.size()), back); });
            if (!o.ok() || back != data) Fail(slot.dir + ": owner read back: " + Describe(o));
            (void)mb::Run([&] { (void)mb::getTokenSerial(card, h); });
        }
        // Destroyed while the helpers are still calling on it: a call inside ends
        // first, later ones find no token.
        o = mb::Run([&] { mb::destroyToken(card, h); });
        if (!o.ok()) Fail(slot.dir + ": destroy: " + Describe(o));
        slot.handle = 0;
        // A destroyed handle never works again, whatever was created since. The
        // card of the call is none, so no card is reached should it name a token.
        o = mb::Run([&] { (void)mb::getTokenSerial(nullptr, h); });
        if (o.ok()) Fail(slot.dir + ": a destroyed handle still answers");
    }
}

void Helper(Slot& slot, size_t index) {
    libapdu::ISender* card = slot.card.get();
    const int file = kFiles[1 + index];
    unsigned step = 0;
    while (!slot.done) {
        const long long h = slot.handle;
        if (h == 0) {
            std::this_thread::yield();
            continue;
        }
        ++step;
        TBytes data = Content(static_cast<unsigned>(index * 1000 + step), 1 + step % 60);
        mb::Outcome o;
        bool storedNow = false, deletedNow = false;
        switch (step % 8) {
            case 0: o = mb::Run([&] { mb::Login(card, h, &kPin); }); break;
            case 1: o = mb::Run([&] { (void)mb::getTokenSerial(card, h); }); break;
            case 2: o = mb::Run([&] { (void)mb::getDirList(card, h); }); break;
            case 3: o = mb::Run([&] { mb::openDir(card, h, slot.dir, true); }); break;
            case 4:
            case 5:
                o = mb::Run([&] { mb::storeFile(card, h, file, data, false); });
                storedNow = o.ok();
                break;
            case 6: {
                TBytes back(8);
                o = mb::Run([&] { (void)mb::getFileSize(card, h, file); });
                if (o.ok()) o = mb::Run([&] { mb::readFile(card, h, file, 8, back); });
                break;
            }
            case 7:
                o = mb::Run([&] { mb::deleteFile(card, h, file); });
                deletedNow = o.ok();
                break;
        }
        ++g_helperCalls;
        if (Gone(o)) ++g_helperGone;
        if (storedNow) slot.stored(file, data);
        if (deletedNow) slot.stored(file, TBytes());
        // A file that is not there yet (deleted, or the token's first round) is fine.
        if (!o.ok() && !Gone(o) && o.message != "File not found")
            Fail(slot.dir + ": helper step " + std::to_string(step % 8) + ": " + Describe(o));
    }
}

// Every file the threads stored is on the card as they last left it.
void CheckFiles(Slot& slot) {
    libapdu::ISender* card = slot.card.get();
    long long h = 0;
    mb::Outcome o = mb::Run([&] {
        h = mb::createToken(card);
        mb::Login(card, h, &kPin);
        mb::openDir(card, h, slot.dir, false);
    });
    if (!o.ok()) {
        Fail(slot.dir + ": opening for the check: " + Describe(o));
        return;
    }
    for (const auto& [file, data] : slot.files) {
        TBytes back(data.size());
        o = mb::Run([&] { mb::readFile(card, h, file, static_cast<int>(back.size()), back); });
        if (data.empty()) {
            if (o.message != "File not found") Fail(slot.dir + ": a deleted file is back");
        } else if (!o.ok() || back != data) {
            Fail(slot.dir + ": file " + std::to_string(file) + " lost or changed: " + Describe(o));
        }
    }
    (void)mb::Run([&] { mb::destroyToken(card, h); });
}

// One call held inside the card while its token is destroyed from another thread:
// the destroy waits for the call, the call completes, the handle is gone after.
void DestroyWhileInside() {
    ReaderCard card(cardsim::MakeJavaToken());
    const long long h = mb::createToken(&card);
    card.arm();
    mb::Outcome inside;
    std::thread caller([&] { inside = mb::Run([&] { (void)mb::getTokenSerial(&card, h); }); });
    card.awaitInside();
    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        const mb::Outcome o = mb::Run([&] { mb::destroyToken(&card, h); });
        if (!o.ok()) Fail("destroy while inside: " + Describe(o));
        destroyed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (destroyed) Fail("destroy did not wait for the call inside");
    card.open();
    caller.join();
    destroyer.join();
    if (!inside.ok()) Fail("the call inside failed: " + Describe(inside));
    if (mb::Run([&] { (void)mb::getTokenSerial(&card, h); }).ok()) Fail("the destroyed handle answers");
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 6;
    DestroyWhileInside();

    std::vector<std::unique_ptr<Slot>> slots;
    for (size_t i = 0; i < kSlots; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->card = std::make_unique<ReaderCard>(i % 2 ? cardsim::MakeHeronToken() : cardsim::MakeJavaToken());
        slot->dir = std::to_string(10 + i);
        slots.push_back(std::move(slot));
    }
    std::vector<std::thread> owners, helpers;
    for (auto& slot : slots) {
        owners.emplace_back(Owner, std::ref(*slot), rounds);
        for (size_t k = 0; k < kHelpers; ++k) helpers.emplace_back(Helper, std::ref(*slot), k);
    }
    for (auto& t : owners) t.join();
    for (auto& slot : slots) slot->done = true;
    for (auto& t : helpers) t.join();
    for (auto& slot : slots) CheckFiles(*slot);

    if (mb::tokenCount() != 0) Fail("tokens left in the module");
    std::printf("%zu slots, %d rounds, %zu threads, %ld helper calls (%ld on a token gone or closed): %d failures\n",
                kSlots, rounds, kSlots * (1 + kHelpers), g_helperCalls.load(), g_helperGone.load(), g_failures.load());
    return g_failures ? 1 : 0;
}
