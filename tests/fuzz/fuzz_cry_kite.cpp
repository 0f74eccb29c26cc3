// The Kite family's finders and facets over fuzzed card content: the files of
// both Kite layouts come from the input, as do the card's answers to the
// selection and decipher commands. Input after the ATR: one byte (bit 0: the
// FIPS facet, bit 1: the fallback key folder), then the contents of the files
// below in turn (two-byte length, bytes), then the card's answers.
#include "../unit/fake_fs.h"
#include "appcry/cry_kite.h"
#include "apperror/apperror.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

struct PlainPack : IAppPack {
    explicit PlainPack(ISender* s) : sender(s) {}
    void sm(const TBytes& command, TBytes& output) override { sender->send(command, output); }
    ISender* sender;
};

struct KiteApplet : IApplet {
    KiteApplet(ISender* s, FakeFS* fs) : IApplet(s) {
        setError(new CErrorKite);
        setFs(fs);
        setPin(new FakePin({0x3F00, 0x0001}));
        setPack(new PlainPack(s));
    }
};

const path kFiles[] = {
    {0x3F00, 0x6666, 0x1002, 0x0001}, {0x3F00, 0x6666, 0x1002, 0x0002}, {0x3F00, 0x6666, 0x6000, 0xECEC},
    {0x3F00, 0x6666, 0x1001, 0x1001}, {0x3F00, 0x6666, 0x6000, 0x1001}, {0x3F00, 0x6666, 0x6000, 0x2002},
    {0x3F00, 0x6666, 0x5000, 0x0201, 0x0501}, {0x3F00, 0x6666, 0x5000, 0x0220, 0x1001, 0x0001},
    {0x3F00, 0x6666, 0x5000, 0x0220, 0x1001, 0x0002}, {0x3F00, 0x6666, 0x5000, 0x0220, 0x3001, 0x0001},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    FuzzInput& in = card.input();
    const unsigned char mode = in.u8();
    FakeFS* fs = new FakeFS;
    for (const path& p : kFiles) {
        TBytes content = in.take(in.be16() % 2048);
        if ((mode & 2) && p.back() == 0xECEC) content.clear();
        for (size_t depth = 1; depth < p.size(); ++depth) fs->addDir(path(p.begin(), p.begin() + depth));
        fs->addFile(p, content);
    }
    fs->addDir({0x3F00, 0x6666, 0x5000, 0x0220, 0x1001});
    fs->addDir({0x3F00, 0x6666, 0x5000, 0x0220, 0x3001});
    KiteApplet applet(&card, fs);
    if (mode & 1)
        applet.setCrypto(new CCryKite4Fips(&applet));
    else
        applet.setCrypto(new CCryKite4(&applet));
    IAppCrypto* cry = applet.crypto();
    std::vector<path> paths;
    Designed([&] { paths = cry->list(0); });
    for (const path& p : paths) {
        Designed([&] { cry->select(p); });
        const CCryptoInfo c = cry->info();
        Designed([&] { (void)cry->decrypt(c.modulus.empty() ? TBytes(1) : TBytes(c.modulus.size(), 0)); });
    }
    return 0;
}
