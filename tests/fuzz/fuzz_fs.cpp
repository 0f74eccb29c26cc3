// The file-system facets of the Java and Heron applets over a fuzzed card. The
// input after the ATR holds both the operations to run (one byte each, with
// their arguments) and the card's answers, read in turn as the facet asks.
#include "appfs/fs_heron.h"
#include "appfs/fs_java.h"
#include "apperror/apperror.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

template <class FS, class Error> struct FuzzApplet : IApplet {
    explicit FuzzApplet(ISender* s) : IApplet(s) {
        setError(new Error);
        setFs(new FS(this));
    }
};

void Run(IApplet& applet, FuzzSender& card) {
    FuzzInput& in = card.input();
    IAppFS* fs = applet.fs();
    auto* family = static_cast<CFSJavaFamily*>(fs);
    for (int step = 0; step < 32 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        switch (op % 9) {
            case 0: {
                const libapdu::path p = FuzzPath(in);
                if (Designed([&] { fs->select(p); })) {
                    // A select that succeeded leaves the path it was asked for, from the root.
                    const libapdu::path& now = family->currentPath();
                    if (now.empty() || now.front() != 0x3F00) abort();
                }
                break;
            }
            case 1:
            case 2:
                Designed([&] {
                    const std::vector<unsigned short> ids = fs->list(static_cast<unsigned char>(op % 9));
                    if (ids.size() > 0x8000) abort();
                });
                break;
            case 3:
                Designed([&] { (void)fs->info(); });
                break;
            case 4: {
                const size_t n = in.be16() % 1200;
                const unsigned short offset = in.be16();
                TBytes data(n, 0x5A);
                Designed([&] { fs->read(data, offset); });
                if (data.size() != n) abort();  // the caller's buffer keeps its length
                break;
            }
            case 5: {
                const TBytes data = in.take(in.u8() * 3u);
                const unsigned short offset = in.be16();
                Designed([&] { fs->write(data, offset); });
                break;
            }
            case 6: {
                const unsigned short fid = in.be16();
                const unsigned char type = in.u8();
                const unsigned short size = in.be16();
                const unsigned char r = in.u8(), w = in.u8();
                Designed([&] { fs->create(fid, CFileInfo(type, size, r, w)); });
                break;
            }
            case 7:
                Designed([&] { fs->remove(); });
                break;
            default: {
                const unsigned short size = in.be16();
                Designed([&] { fs->resize(size); });
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    if (card.input().u8() & 1) {
        FuzzApplet<CFSHeron, CErrorHeron> applet(&card);
        Run(applet, card);
    } else {
        FuzzApplet<CFSJava, CErrorJava> applet(&card);
        Run(applet, card);
    }
    return 0;
}
