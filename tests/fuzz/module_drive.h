// The token module driven as a key store drives it, from one stream of choices:
// createToken (the whole probe, the card-manager check), then a chosen sequence of
// the other native methods, each with arguments drawn from the stream, and every
// token destroyed at the end. The card answers come from the same feed, so a fuzz
// input holds choices and answers in the order they are asked for. Shared by the
// fuzz target (answers from the input) and the seed writer (answers from a
// simulated card, recorded as a fuzz input).
#ifndef KEYSHELF_FUZZ_MODULE_DRIVE_H
#define KEYSHELF_FUZZ_MODULE_DRIVE_H

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "module_binding.h"

namespace module_drive {

namespace mb = module_binding;
using libapdu::TBytes;

// A card whose answers, and the choices in between, come from one feed.
class Feed : public libapdu::ISender {
public:
    virtual unsigned char choice() = 0;
    // True once nothing is left to choose from: no operation follows.
    virtual bool exhausted() = 0;
    void control(unsigned int, const TBytes&, TBytes& out) override { out.clear(); }
};

// What a native method may end in: one of the library's errors, the binding's
// own (unknown handle or directory, refused token), or the plain failures the
// BER-TLV helpers raise; the entry points turn each into a Java exception.
// Anything else escaping is a fault. When `outcomes` is set, each call's success
// is noted in it (the seed writer checks its recordings with it).
inline std::vector<bool>* outcomes = nullptr;

template <class Call> bool Native(Call&& call) {
    bool ok = false;
    try {
        call();
        ok = true;
    } catch (const libapdu::IException&) {
    } catch (const CAException&) {
    } catch (int e) {
        if (e != 0) abort();
    } catch (const std::runtime_error&) {
    }
    if (outcomes) outcomes->push_back(ok);
    return ok;
}

const int kFiles[] = {0xF001, 0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007};

inline std::u16string Pin(Feed& f) {
    std::u16string pin(f.choice() % 20, u'0');
    for (auto& c : pin) c = static_cast<char16_t>(u'0' + f.choice() % 75);
    return pin;
}

inline int File(Feed& f) {
    const unsigned char c = f.choice();
    return c < 0xF0 ? kFiles[c % 7] : (c << 8) | f.choice();
}

// Runs one input. `steps` bounds the operations after the creation.
inline void Drive(Feed& card, int steps) {
    std::vector<long long> alive;
    long long h = 0;
    if (Native([&] { h = mb::createToken(&card); })) alive.push_back(h);
    if (alive.empty()) {
        if (mb::tokenCount() != 0) abort();  // a failed creation leaves no token
        return;
    }
    for (int step = 0; step < steps && !card.exhausted(); ++step) {
        switch (card.choice() % 14) {
            case 0: {
                const std::u16string pin = Pin(card);
                Native([&] { mb::Login(&card, h, &pin); });
                break;
            }
            case 1: Native([&] { mb::Logout(&card, h); }); break;
            case 2: {
                const std::u16string oldPin = Pin(card), newPin = Pin(card);
                Native([&] { mb::changePin(&card, h, &oldPin, &newPin); });
                break;
            }
            case 3: Native([&] { (void)mb::getTokenSerial(&card, h); }); break;
            case 4: Native([&] { (void)mb::getDirList(&card, h); }); break;
            case 5: {
                static const char* const kNames[] = {"1a", "0", "ffff", "10000", "-1", " 0x2b", "zz", ""};
                const unsigned char c = card.choice();
                const std::string name = c & 0x80 ? kNames[c % 8] : std::to_string(c & 0x3F);
                const bool create = card.choice() & 1;
                Native([&] { mb::openDir(&card, h, name, create); });
                break;
            }
            case 6: {
                const bool remove = card.choice() & 1;
                Native([&] { mb::closeDir(&card, h, remove); });
                break;
            }
            case 7: {
                const int file = File(card);
                TBytes data(card.choice() * 3u, 0);
                for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 5 + 3);
                Native([&] { mb::storeFile(&card, h, file, data, false); });
                break;
            }
            case 8: {
                const int file = File(card);
                TBytes out(card.choice() * 3u, 0xEE);
                const size_t size = out.size();
                Native([&] { mb::readFile(&card, h, file, static_cast<int>(size), out); });
                if (out.size() != size) abort();  // the Java array keeps its length
                break;
            }
            case 9: {
                const int file = File(card);
                int size = 0;
                if (Native([&] { size = mb::getFileSize(&card, h, file); }) && (size < 0 || size > 0xFFFF)) abort();
                break;
            }
            case 10: {
                const int file = File(card);
                Native([&] { mb::deleteFile(&card, h, file); });
                break;
            }
            case 11:
                // Destroyed: every later call on the handle fails, none reaches the card.
                if (Native([&] { mb::destroyToken(&card, h); })) {
                    for (auto it = alive.begin(); it != alive.end(); ++it)
                        if (*it == h) {
                            alive.erase(it);
                            break;
                        }
                }
                break;
            case 12:
                if (Native([&] { h = mb::createToken(&card); })) alive.push_back(h);
                break;
            case 13:
                // Back to an earlier token, if any is left.
                if (!alive.empty()) h = alive[card.choice() % alive.size()];
                break;
        }
    }
    for (long long token : alive)
        if (!Native([&] { mb::destroyToken(&card, token); })) abort();
    if (mb::tokenCount() != 0) abort();  // nothing registered outlives its destroy
}

}  // namespace module_drive

#endif
