// The Tessel secure messaging over a fuzzed card: the key agreement (its
// parameters read as BER-TLV and checked before any exponentiation is trusted),
// the protected pieces, GET RESPONSE without end, and plain chaining.
#include "applet_tessel.h"
#include "apppack/pack_tessel.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace libapdu;
    FuzzSender card(data, size);
    FuzzInput& in = card.input();
    CAppletTessel applet(&card);
    IAppPack* pack = applet.pack();
    for (int step = 0; step < 4 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        const size_t n = in.be16() % 700;
        TBytes command = {0x80, static_cast<unsigned char>(in.u8()), 0x00, 0x00};
        if (n) {
            command.push_back(0x00);
            PutBE16(command, static_cast<unsigned short>(n));
            command.insert(command.end(), n, 0x31);
        }
        TBytes out;
        const bool ok = Designed([&] {
            if (op & 1)
                pack->sm(command, out);
            else
                pack->chain(command, out);
        });
        // The answer gathered is bounded, and ends with a status word.
        if (ok && (out.size() < 2 || out.size() > CPackTessel::kMaxAnswer + 2)) abort();
    }
    return 0;
}
