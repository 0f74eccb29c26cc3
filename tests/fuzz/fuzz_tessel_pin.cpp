// The Tessel PIN and biometric facets over a fuzzed card: designators, PIN
// selection with its counters, logins (also by tickets whose check values are
// made valid here, so the record walk and both steps are reached), changes
// through the secure messaging, logout, and every biometric operation.
#include <cstring>

#include "applet_tessel.h"
#include "apppin/pin_tessel.h"
#include "crypto/crypto.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

// 208 characters of Base64 over 156 bytes: a check value made to match, then the
// fuzzer's bytes.
TBytes Ticket(FuzzInput& in) {
    TBytes d(156, 0);
    const TBytes body = in.take(132);
    std::copy(body.begin(), body.end(), d.begin() + 24);
    if (in.u8() & 1) {  // most tickets carry a record element of the right length
        d[24] = 0x01;
        d[25] = 0xBD;
    }
    crypto_corvid_md5_24(d.data() + 24, d.size() - 24, nullptr, 0, d.data(), 24);
    const std::string text = base64_encode(d);
    return TBytes(text.begin(), text.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    FuzzInput& in = card.input();
    CAppletTessel applet(&card);
    IAppPin* pin = applet.pin();
    IAppBio* bio = applet.bio();
    for (int step = 0; step < 24 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        switch (op % 16) {
            case 0:
                Designed([&] { (void)pin->pathUser(); });
                break;
            case 1: {
                path p = {0x3F00, in.u8()};
                if (op & 0x80) p.resize(in.u8() % 140, 0x3F00);
                Designed([&] { pin->select(p); });
                const PinInfo i = pin->info();
                if (i.loginState != 0 && i.loginState != 0x10 && i.loginState != 0xFF) abort();
                break;
            }
            case 2: {
                const TBytes p = in.take(in.u8() + (op & 0x80 ? 100u : 0u));
                Designed([&] { pin->login(p); });
                break;
            }
            case 3: {
                const TBytes t = Ticket(in);
                Designed([&] { pin->login(t); });
                break;
            }
            case 4: {
                const TBytes p = in.take(in.u8());
                Designed([&] { pin->change(p); });
                break;
            }
            case 5: {
                const TBytes p = in.take(in.u8());
                Designed([&] { pin->unblock(p); });
                break;
            }
            case 6:
                Designed([&] { pin->logout(); });
                break;
            case 7: {
                const TBytes p = in.take(in.u8() + 10u);
                Designed([&] { pin->externalLogin(p); });
                break;
            }
            case 8:
                Designed([&] { (void)pin->challengeGet(); });
                break;
            case 9:
                Designed([&] { (void)bio->getEnrolledFingers(); });
                break;
            case 10: {
                const unsigned char f = in.u8();
                Designed([&] { (void)bio->readPublicBioData(f); });
                break;
            }
            case 11:
                Designed([&] { (void)bio->loginType(); });
                break;
            case 12: {
                const TBytes d = in.take(in.be16() % 700);
                const unsigned char f = in.u8();
                Designed([&] {
                    if (bio->appletMoC(d, f).size() != 20) abort();
                });
                break;
            }
            case 13: {
                const TBytes a = in.take(in.be16() % 600), b = in.take(in.u8());
                const unsigned char f = in.u8();
                Designed([&] { bio->enrollTemplate(a, b, f); });
                break;
            }
            case 14: {
                const unsigned char f = in.u8();
                Designed([&] { bio->eraseTemplate(f); });
                break;
            }
            default: {
                const TBytes t = Ticket(in);
                Designed([&] { bio->loginByTicket(t); });
                break;
            }
        }
    }
    return 0;
}
