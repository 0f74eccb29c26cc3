// The Java and Heron crypto facets over a fuzzed card: the finders' walk over
// the object folder (through the family's own file system), the selection with
// its key-information and key-data answers, and the decipher answer walk. Input
// after the ATR: one byte (bit 0 Heron, bit 1 FIPS), the length of the data to
// decipher, then the card's answers in turn.
#include "appcry/cry_heron.h"
#include "appcry/cry_java.h"
#include "applet_heron.h"
#include "applet_java.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

struct FuzzInfo : IAppInfo {
    explicit FuzzInfo(bool fips) : fips(fips) {}
    bool isFips() override { return fips; }
    bool fips;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    FuzzInput& in = card.input();
    const unsigned char mode = in.u8();
    const size_t dataLength = in.u8();
    std::unique_ptr<IApplet> applet;
    if (mode & 1)
        applet.reset(new CAppletHeron(&card));
    else
        applet.reset(new CAppletJava(&card));
    applet->setInfo(new FuzzInfo(mode & 2));
    IAppCrypto* cry = applet->crypto();

    std::vector<path> paths;
    Designed([&] { paths = cry->list(0); });
    const TBytes cipher(dataLength, 0x01);
    for (size_t i = 0; i < paths.size() && i < 4; ++i) {
        if (Designed([&] { cry->select(paths[i]); })) {
            const CCryptoInfo c = cry->info();
            if (c.path != paths[i]) abort();
        }
        Designed([&] { (void)cry->decrypt(cipher); });
    }
    Designed([&] { cry->select({0x3F00, 0x6666, 0x5000, 0x0220, 0x3001}); });
    Designed([&] { (void)cry->decrypt(cipher); });
    return 0;
}
