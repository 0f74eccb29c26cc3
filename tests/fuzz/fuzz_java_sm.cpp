// Secure messaging of the Java and Heron applets over a fuzzed card that MACs
// its answers correctly (fuzz_sm_sender.h), with known keys in slots 1 to 4.
// Input after the ATR: the family byte, one key choice per slot 1 to 4, then
// operations (one byte each, their arguments, then the card's answers in turn).
#include <cstdlib>

#include "apperror/apperror.h"
#include "apppack/pack_heron.h"
#include "apppack/pack_java.h"
#include "fuzz_guard.h"
#include "fuzz_sm_sender.h"

namespace {

using namespace libapdu;

template <class Error, class Pack> struct FuzzApplet : IApplet {
    explicit FuzzApplet(ISender* s) : IApplet(s) {
        setError(new Error);
        setPack(new Pack(this));
    }
};

// Two-key and three-key keys, and one of a length no TDEA key has.
TBytes SlotKey(uint8_t choice, size_t slot) {
    const size_t sizes[] = {0, 7, 16, 16, 16, 24, 24, 24};
    TBytes k(sizes[choice % 8]);
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<unsigned char>(0x11 * slot + 7 * i + 1);
    return k;
}

void SetSlot(IAppPack* pack, size_t slot, uint8_t choice) {
    const TBytes k = SlotKey(choice, slot);
    if (!k.empty()) pack->keySet(slot, k);
}

// Every slot as the facet would read it; an empty one as no bytes.
std::vector<TBytes> Slots(IAppPack* pack) {
    std::vector<TBytes> out;
    for (size_t i = 0; i < 6; ++i) {
        TBytes k;
        Designed([&] { k = pack->keyGet(i); });
        out.push_back(k);
    }
    return out;
}

// A well-formed command of any case, short or extended.
TBytes Structured(FuzzInput& in) {
    TBytes c = in.take(4);
    c.resize(4, 0);
    const uint8_t form = in.u8();
    size_t n = in.be16();
    // Now and then data near the most a command can carry, on either side of
    // the most a protected command can wrap; mostly data of everyday sizes.
    if ((form & 0xF0) == 0xF0)
        n = 0xFF00 | (n & 0xFF);
    else
        n %= 600;
    const bool hasLe = form & 0x01;
    const unsigned short le = in.be16();
    const bool extended = (form & 0x02) || n > 0xFF || (hasLe && le > 0x100);
    if (n) {
        if (extended) {
            c.insert(c.end(), {0x00, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
        } else {
            c.push_back(static_cast<unsigned char>(n));
        }
        for (size_t i = 0; i < n; ++i) c.push_back(static_cast<unsigned char>(i * 13 + form));
    }
    if (hasLe) {
        if (extended) {
            if (!n) c.push_back(0x00);
            c.insert(c.end(), {static_cast<unsigned char>(le >> 8), static_cast<unsigned char>(le)});
        } else {
            c.push_back(static_cast<unsigned char>(le));
        }
    }
    return c;
}

template <class Applet> void Run(SmFuzzSender& card, unsigned char challengeIns) {
    Applet applet(&card);
    FuzzInput& in = card.input();
    IAppPack* pack = applet.pack();
    auto* family = static_cast<CPackJavaFamily*>(pack);
    card.attach(pack);
    for (size_t slot = 1; slot <= 4; ++slot) SetSlot(pack, slot, in.u8());

    for (int step = 0; step < 8 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        switch (op % 6) {
            case 0:
            case 1: {
                const TBytes command = (op % 6) ? Structured(in) : in.take(in.u8());
                const std::vector<TBytes> before = Slots(pack);
                const size_t sent = card.commands(), prot = card.protectedCommands();
                TBytes output = {0x55, 0x55};
                const bool ok = Designed([&] { family->sm(command, output); });
                const size_t exchanges = card.commands() - sent;
                const bool answered = card.protectedCommands() != prot;
                // The challenge, then one protected command the card can read.
                if (exchanges > 2 || (exchanges == 2 && !answered)) abort();
                if (Slots(pack) != before) abort();  // sm only reads the slots
                const SmAnswer& a = card.lastAnswer();
                if (ok) {
                    if (!answered || output.size() < 2) abort();
                    if (a.made && a.clean) {
                        TBytes expected = a.plain;
                        expected.insert(expected.end(), {a.sw1, a.sw2});
                        if (output != expected) abort();
                    }
                } else if (answered && a.made && a.clean && a.sw1 == 0x90 && a.sw2 == 0x00) {
                    abort();  // an authentic answer of good shape was refused
                }
                break;
            }
            case 2: {
                const size_t sent = card.commands();
                TBytes challenge;
                if (Designed([&] { challenge = family->challengeGet(); }) && challenge.size() != 8) abort();
                const TBytes expected = {0x80, challengeIns, 0x01, 0x00, 0x08};
                if (card.commands() != sent + 1 || card.lastCommand() != expected) abort();
                break;
            }
            case 3: {
                const size_t sent = card.commands();
                TBytes output;
                if (Designed([&] { family->chain(TBytes{0x00, 0xB0, 0x00, 0x00, 0x00}, output); })) abort();
                if (card.commands() != sent) abort();
                break;
            }
            case 4: {
                const uint8_t how = in.u8();
                Designed([&] {
                    switch (how % 4) {
                        case 0: pack->keySave(); break;
                        case 1: pack->keyRestore(); break;
                        case 2: pack->keyClear(); break;
                        default: SetSlot(pack, 1 + how / 4 % 4, in.u8()); break;
                    }
                });
                break;
            }
            default:
                SetSlot(pack, 1 + op / 6 % 4, in.u8());
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SmFuzzSender card(data, size);
    if (card.input().u8() & 1)
        Run<FuzzApplet<CErrorHeron, CPackHeron>>(card, 0x12);
    else
        Run<FuzzApplet<CErrorJava, CPackJava>>(card, 0x17);
    return 0;
}
