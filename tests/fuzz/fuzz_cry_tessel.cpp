// The Tessel crypto facet over fuzzed card content: attribute files and key
// attribute files from the input, the card's answers (public key, decipher,
// signature) after them. Input after the ATR: the contents of the files below
// in turn (two-byte length, bytes), then the card's answers.
#include "../unit/fake_fs.h"
#include "appcry/cry_tessel.h"
#include "apperror/apperror.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

// Hands the plain command to the card: the facet's own walk sees the answer as it is.
struct PlainPack : IAppPack {
    explicit PlainPack(ISender* s) : sender(s) {}
    void sm(const TBytes& command, TBytes& output) override { sender->send(command, output); }
    void chain(const TBytes& command, TBytes& output) override { sender->send(command, output); }
    ISender* sender;
};

struct TesselApplet : IApplet {
    TesselApplet(ISender* s, FakeFS* fs) : IApplet(s) {
        setError(new CErrorTessel);
        setCrypto(new CCryTessel(this));  // before the file system, as the applet builds it
        setFs(fs);
        setPin(new FakePin({0x3F00, 0x0081}));
        setPack(new PlainPack(s));
    }
};

const path kFiles[] = {
    {0x3F00, 0x3000, 0x3002, 0x0201}, {0x3F00, 0x3000, 0x3002, 0x0042}, {0x3F00, 0x3000, 0x3001, 0x8401},
    {0x3F00, 0x3000, 0x3001, 0x8441}, {0x3F00, 0x3000, 0x3002, 0x0205},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    FuzzInput& in = card.input();
    FakeFS* fs = new FakeFS;
    fs->addDir({0x3F00, 0x3000, 0x3002});
    fs->addDir({0x3F00, 0x3000, 0x3001});
    for (const path& p : kFiles) fs->addFile(p, in.take(in.be16() % 2048));
    TesselApplet applet(&card, fs);
    IAppCrypto* cry = applet.crypto();
    std::vector<path> paths;
    Designed([&] { paths = cry->list(0); });
    for (const path& p : paths) {
        Designed([&] { cry->select(p); });
        (void)cry->info();
    }
    Designed([&] { (void)cry->decrypt(TBytes(in.u8(), 0x01)); });
    Designed([&] { (void)cry->signUseHashData(1, TBytes(), TBytes(in.u8(), 0x02)); });
    CCryptoInfo key;
    key.keyLength = in.u8() & 1 ? 256 : 128;
    key.keyPart1 = in.take(in.u8());
    key.keyPart2 = in.take(in.be16() % 600);
    Designed([&] { cry->create(0x0201, key); });
    (void)GetValueFromAtributeFile(in.take(in.be16()));
    return 0;
}
