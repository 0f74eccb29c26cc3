// The token probe over a fuzzed card: recognition from the ATR, then a switch to
// each applet the module tries (each may fail, as it does in the module), then
// the facets of whichever applet is current.
#include <memory>

#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

const unsigned short kProbe[] = {0x2205, 0x1002, 0x2001, 0x2204, 0x2101, 0x2202, 0x2206};

void Facets(IToken& token, FuzzInput& in) {
    Designed([&] { (void)token.info()->rnd(in.u8() % 40); });
    Designed([&] { (void)token.info()->isFips(); });
    Designed([&] { (void)token.info()->version(in.u8()); });
    Designed([&] { (void)token.info()->id(in.u8()); });
    Designed([&] { (void)token.info()->memoryFree(); });
    Designed([&] { (void)token.label()->read(); });
    Designed([&] { (void)token.fs()->select({0x3F00}); });
    Designed([&] { (void)token.fs()->list(1); });
    Designed([&] { (void)token.fs()->info(); });
    Designed([&] {
        TBytes data(in.u8());
        token.fs()->read(data, 0);
    });
    Designed([&] { (void)token.pin()->info(); });
    std::vector<path> containers;
    Designed([&] { containers = token.crypto()->list(0); });
    if (!containers.empty()) Designed([&] { token.crypto()->select(containers[in.u8() % containers.size()]); });
    Designed([&] { (void)token.crypto()->info(); });
    Designed([&] { (void)token.crypto()->decrypt(TBytes(in.u8(), 0x01)); });
    Designed([&] { (void)token.crypto()->provider(in.u8() & 1 ? 0x1001 : in.u8()); });
    Designed([&] { (void)token.crypto()->genKeyPair(in.u8() % 3, in.u8() & 1); });
    Designed([&] { (void)token.crypto()->getPublicKey(in.u8() % 5, in.u8()); });
    Designed([&] { (void)token.crypto()->getListCryptObjects(in.u8() % 5, in.u8()); });
    Designed([&] {
        token.crypto()->startHash(in.u8() % 4);
        token.crypto()->continueHash(TBytes(1 + in.u8(), 0x5A));
        (void)token.crypto()->finishHash();
    });
    Designed([&] { (void)token.crypto()->signUseHashData(in.u8() % 3, TBytes(in.u8() % 4), TBytes(32, 0x11)); });
    Designed([&] { (void)token.crypto()->genAgreementKey(TBytes(64, 0x22), TBytes(8, 0x33), 1, in.u8() % 3, in.u8() & 1); });
    Designed([&] { token.switchToFileSystem(in.u8()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto* card = new FuzzSender(data, size);
    FuzzInput& in = card->input();  // the token owns the card; it lives as long as the token
    std::unique_ptr<ISender> sender(card);
    std::unique_ptr<IToken> token;
    if (!Designed([&] { token = IToken::create(sender); })) return 0;
    if (!token) return 0;
    for (unsigned short id : kProbe) {
        Designed([&] { token->switchToApplet(id); });
    }
    Facets(*token, in);
    Designed([&] { (void)token->checkIfExist(0x2001); });
    // Activation with init, of a family picked by the input.
    static const unsigned short kInit[] = {0x2204, 0x2001, 0x2202, 0x2206};
    Designed([&] { token->selectApplet(kInit[in.u8() % 4]); });
    Facets(*token, in);
    return 0;
}
