// The PIN status-record parsers on raw records, and the PIN facets of the
// DataStore, Gost, Gost2 and Wren families over a fuzzed card. The first byte
// after the ATR picks what runs; the rest feeds arguments and answers in turn.
#include "apperror/apperror.h"
#include "apppack/pack_gost.h"
#include "apppin/pin_datastore.h"
#include "apppin/pin_gost.h"
#include "apppin/pin_gost2.h"
#include "apppin/pin_wren.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

template <class Error, class Pin, class Pack> struct FuzzApplet : IApplet {
    explicit FuzzApplet(ISender* s) : IApplet(s) {
        setError(new Error);
        setPack(new Pack(this));
        setPin(new Pin(this));
    }
};

// What any status record may say: a count of tries left never above the limit,
// and one of the three login states.
void CheckInfo(const PinInfo& p) {
    if (p.triesMax != kTriesUnknown && p.triesLeft != kTriesUnknown && p.triesLeft > p.triesMax) abort();
    if (p.loginState != kLoginNotVerified && p.loginState != kLoginUnknown && p.loginState != kLoginVerified) abort();
}

void Parsers(FuzzInput& in) {
    const unsigned short id = in.be16() % 6;
    const bool admin = in.u8() & 1;
    const TBytes record = in.take(in.u8());
    Designed([&] { CheckInfo(ParseDataStorePinStatus(record, id)); });
    Designed([&] { CheckInfo(ParseGostPinStatus(record, admin)); });
    Designed([&] { CheckInfo(ParseGost2PinStatus(record)); });
}

TBytes Pin(FuzzInput& in) { return in.take(in.u8() % 40); }

template <class Applet> void Facet(FuzzSender& card) {
    Applet applet(&card);
    FuzzInput& in = card.input();
    IAppPin* pin = applet.pin();
    Designed([&] { (void)pin->pathUser(); });
    Designed([&] { (void)pin->pathAdmin(); });
    Designed([&] { (void)pin->pathGlobal(); });
    for (int step = 0; step < 16 && !in.empty(); ++step) {
        switch (in.u8() % 9) {
            case 0: {
                libapdu::path p;
                for (size_t n = in.u8() % 4; n; --n) p.push_back(in.be16());
                Designed([&] { pin->select(p); });
                break;
            }
            case 1: {
                const TBytes value = Pin(in);
                Designed([&] { pin->login(value); });
                break;
            }
            case 2: {
                const TBytes value = Pin(in);
                Designed([&] { pin->change(value); });
                break;
            }
            case 3: {
                const TBytes value = Pin(in);
                Designed([&] { pin->unblock(value); });
                break;
            }
            case 4:
                Designed([&] { pin->logout(); });
                break;
            case 5:
                Designed([&] { CheckInfo(pin->info()); });
                break;
            case 6:
                Designed([&] { (void)pin->encoding(); });
                break;
            case 7:
                Designed([&] { (void)pin->challengeGet(); });
                break;
            default: {
                const TBytes value = Pin(in);
                Designed([&] { pin->externalLogin(value); });
                break;
            }
        }
    }
    // The status families have no secure messaging and no chaining: both are refused.
    const TBytes command = {0x00, 0x20, 0x00, 0x01, 0x00};
    TBytes out;
    Designed([&] { applet.pack()->sm(command, out); });
    Designed([&] { applet.pack()->chain(command, out); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    switch (card.input().u8() % 5) {
        case 0: Parsers(card.input()); break;
        case 1: Facet<FuzzApplet<CErrorDataStore, CPinDataStore, CPackCommon>>(card); break;
        case 2: Facet<FuzzApplet<CErrorGost, CPinGost, CPackGost>>(card); break;
        case 3: Facet<FuzzApplet<CErrorGost2, CPinGost2, CPackCommon>>(card); break;
        default: Facet<FuzzApplet<CErrorWren, CPinWren, CPackCommon>>(card); break;
    }
    return 0;
}
