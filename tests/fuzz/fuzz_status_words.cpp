// Every family's status-word facet on card answers of any shape: each answer
// either passes or raises one of the codes the tables can give.
#include <cstdlib>
#include <memory>

#include "apperror/apperror.h"
#include "fuzz_sender.h"
#include "libapdu.internal.h"

namespace {

bool Canonical(unsigned short c) {
    switch (c) {
        case 0x6200: case 0x6281: case 0x6282: case 0x6283: case 0x6286: case 0x6300: case 0x6400:
        case 0x6900: case 0x6983: case 0x6A80: case 0x6A82: case 0x6A84: case 0x6A89: case 0x6B00:
        case 0x6F00: case 0xFFFF:
            return true;
        default:
            return false;
    }
}

libapdu::IAppError* Make(unsigned which) {
    switch (which % 9) {
        case 0: return new libapdu::IAppError;
        case 1: return new libapdu::CErrorWren;
        case 2: return new libapdu::CErrorKite;
        case 3: return new libapdu::CErrorJava;
        case 4: return new libapdu::CErrorHeron;
        case 5: return new libapdu::CErrorTessel;
        case 6: return new libapdu::CErrorDataStore;
        case 7: return new libapdu::CErrorGost;
        default: return new libapdu::CErrorGost2;
    }
}

struct Applet : libapdu::IApplet {
    Applet(libapdu::ISender* s, unsigned which) : IApplet(s) { setError(Make(which)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender sender(data, size);
    // The ATR's first byte picks the family, so one input drives one facet.
    const libapdu::TBytes atr = sender.atr();
    Applet applet(&sender, atr.empty() ? 0 : atr[0]);
    for (int i = 0; i < 64 && !sender.input().empty(); ++i) {
        libapdu::TBytes response(258, 0);
        sender.send({0x00, 0xA4, 0x04, 0x00}, response);
        try {
            libapdu::CheckSW(&applet, response);
        } catch (const libapdu::CSCardException& e) {
            if (!Canonical(e.code())) abort();
        }
    }
    return 0;
}
