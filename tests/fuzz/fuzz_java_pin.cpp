// The PIN facets of the Java and Heron applets over a fuzzed card, with their
// own file system (the salt file), secure messaging (the FIPS change, answered
// with authentic MACs by fuzz_sm_sender.h) and an information facet whose FIPS
// flag comes from the input. Input after the ATR: one byte (bit 0 Heron, bit 1
// FIPS), then operations in any order, their arguments and the card's answers
// read in turn.
#include <cstdlib>

#include "appfs/fs_heron.h"
#include "appfs/fs_java.h"
#include "apperror/apperror.h"
#include "apppack/pack_heron.h"
#include "apppack/pack_java.h"
#include "apppin/pin_heron.h"
#include "apppin/pin_java.h"
#include "fuzz_guard.h"
#include "fuzz_sm_sender.h"

namespace {

using namespace libapdu;

struct FuzzInfo : IAppInfo {
    explicit FuzzInfo(bool fips) : fips(fips) {}
    bool isFips() override { return fips; }
    bool fips;
};

template <class Error, class FS, class Pack, class Pin> struct FuzzApplet : IApplet {
    FuzzApplet(ISender* s, bool fips) : IApplet(s) {
        setError(new Error);
        setFs(new FS(this));
        setPack(new Pack(this));
        setInfo(new FuzzInfo(fips));
        setPin(new Pin(this));
    }
};

struct Family {
    bool java;
    unsigned char infoIns, challengeIns;
};

std::vector<TBytes> Slots(IAppPack* pack) {
    std::vector<TBytes> out;
    for (size_t i = 0; i < 5; ++i) {
        TBytes k;
        Designed([&] { k = pack->keyGet(i); });
        out.push_back(k);
    }
    return out;
}

bool Same(const PinInfo& a, const PinInfo& b) {
    return a.minLength == b.minLength && a.maxLength == b.maxLength && a.triesLeft == b.triesLeft &&
           a.triesMax == b.triesMax && a.loginState == b.loginState;
}

bool KnownState(unsigned short s) { return s == kLoginNotVerified || s == kLoginUnknown || s == kLoginVerified; }

unsigned short CodeOf(const std::function<void()>& call) {
    unsigned short code = 0;
    Designed([&] {
        try {
            call();
        } catch (const IException& e) {
            code = e.code();
            throw;
        }
    });
    return code;
}

TBytes Pin(FuzzInput& in) { return in.take(in.u8() % 40); }

template <class Applet> void Run(SmFuzzSender& card, const Family& f, bool fips) {
    Applet applet(&card, fips);
    FuzzInput& in = card.input();
    auto* pin = static_cast<CPinJavaFamily*>(applet.pin());
    IAppPack* pack = applet.pack();
    card.attach(pack);
    const path kUser = {0x11}, kAdmin = {0x21};
    // What the facet has selected, as far as the target can tell: a FIPS change
    // selects on its own.
    path selected;
    bool selectedKnown = true;

    for (int step = 0; step < 12 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const size_t sent = card.commands();
        const PinInfo before = pin->info();
        switch (op % 9) {
            case 0: {
                path p;
                switch (in.u8() % 7) {
                    case 0:
                    case 1: p = kUser; break;
                    case 2: p = kAdmin; break;
                    case 3: p = {0xFE}; break;
                    case 4: p = {0x1A}; break;
                    case 5: break;
                    default:
                        for (size_t n = 1 + in.u8() % 3; n; --n) p.push_back(in.be16());
                        break;
                }
                const unsigned short code = CodeOf([&] { pin->select(p); });
                const PinInfo now = pin->info();
                if (p.empty()) {
                    if (code != kSwBadArgument || card.commands() != sent || !Same(now, before)) abort();
                    break;
                }
                selected = p;
                selectedKnown = true;
                const bool queried = p == kUser || (f.java && p == kAdmin);
                if (!queried) {
                    PinInfo unknown = UnknownPinInfo();
                    unknown.minLength = 4;
                    unknown.maxLength = 16;
                    if (code || card.commands() != sent || !Same(now, unknown)) abort();
                } else if (code == 0) {
                    if (now.minLength != 4 || now.maxLength != 16) abort();
                    if (now.triesMax != 0x7F && (now.triesMax < 1 || now.triesMax > 15)) abort();
                    if (now.loginState != kLoginNotVerified && now.loginState != kLoginVerified) abort();
                    const TBytes info = {0x80, f.infoIns, 0x00, static_cast<unsigned char>(p == kUser ? 0x11 : 0x21),
                                         0x05, 0x10, 0x03, 0x23, 0x06, 0x20, 0x00};
                    if (card.lastCommand() != info) abort();
                } else if (now.minLength != 0 || now.maxLength != 0 || !KnownState(now.loginState)) {
                    abort();
                }
                break;
            }
            case 1:
            case 2: {
                const TBytes value = Pin(in);
                const bool login = op % 9 == 1;
                const std::vector<TBytes> slots = Slots(pack);
                const bool adminKey = f.java && !fips && selectedKnown && selected == kAdmin;
                const bool ok = Designed([&] { login ? pin->login(value) : pin->change(value); });
                const PinInfo now = pin->info();
                // The admin key comes from the PIN alone: the session keys stay.
                if (adminKey && Slots(pack) != slots) abort();
                if (login) {
                    if (ok && (now.loginState != kLoginVerified || now.triesLeft != now.triesMax)) abort();
                    if (!ok && now.loginState != before.loginState) abort();
                    const bool lowered = before.triesLeft != 0 && before.triesLeft != kTriesUnknown &&
                                         now.triesLeft == before.triesLeft - 1;
                    if (!ok && now.triesLeft != before.triesLeft && !lowered) abort();
                } else if (fips) {
                    selectedKnown = false;
                    // A FIPS change ends logged in on the user PIN with the new PIN.
                    if (ok && now.loginState != kLoginVerified) abort();
                }
                break;
            }
            case 3: {
                const TBytes value = Pin(in);
                const unsigned short code = CodeOf([&] { pin->unblock(value); });
                if (!f.java && (code != 0xFACE || card.commands() != sent)) abort();
                if (!Same(pin->info(), before)) abort();
                break;
            }
            case 4: {
                Designed([&] { pin->logout(); });
                if (pin->info().loginState != kLoginNotVerified) abort();
                // No session key outlives a logout, whether or not 3F00 could be selected.
                for (const TBytes& k : Slots(pack))
                    if (!k.empty()) abort();
                Designed([&] { pack->keyRestore(); });
                for (const TBytes& k : Slots(pack))
                    if (!k.empty()) abort();
                break;
            }
            case 5:
                if (!Same(pin->info(), before) || card.commands() != sent) abort();
                if (pin->encoding() != kPinEncodingUtf8) abort();
                if (pin->pathUser2() != (fips ? path{0x1A} : path{})) abort();
                break;
            case 6: {
                TBytes challenge;
                if (Designed([&] { challenge = pin->challengeGet(); }) && challenge.size() != 8) abort();
                const TBytes command = {0x80, f.challengeIns, 0x00, 0x00, 0x08};
                if (card.commands() != sent + 1 || card.lastCommand() != command) abort();
                break;
            }
            case 7: {
                const TBytes value = Pin(in);
                if (CodeOf([&] { pin->externalLogin(value); }) != 0xFACE || card.commands() != sent) abort();
                break;
            }
            default: {
                // The session keys a login would leave, so a FIPS change has something to start from.
                const TBytes value = Pin(in);
                Designed([&] { pin->keyGen(value); });
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SmFuzzSender card(data, size);
    const uint8_t flags = card.input().u8();
    const bool fips = flags & 2;
    if (flags & 1)
        Run<FuzzApplet<CErrorHeron, CFSHeron, CPackHeron, CPinHeron>>(card, {false, 0x14, 0x12}, fips);
    else
        Run<FuzzApplet<CErrorJava, CFSJava, CPackJava, CPinJava>>(card, {true, 0x07, 0x17}, fips);
    return 0;
}
