// The Tessel file system over a fuzzed card: selects by path, name and
// identifier, the container of named directories, creation with its existence
// check and free-identifier search, chained listings, removal and transfers.
// The input after the ATR holds the operations (one byte each, with arguments)
// and the card's answers, read in turn.
#include "applet_tessel.h"
#include "appfs/fs_tessel.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

path ReadPath(FuzzInput& in) {
    path p;
    const size_t n = in.u8() % 10;
    const uint8_t form = in.u8();
    if (form & 1) p.push_back(0x3F00);
    if (form & 2) p.insert(p.end(), {0x3000, 0x3002, 0x5000});
    for (size_t i = 0; i < n; ++i) p.push_back(in.be16());
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    FuzzInput& in = card.input();
    CAppletTessel applet(&card);
    auto* fs = static_cast<CFSTessel*>(applet.fs());
    fs->setLoginType(in.u8());
    for (int step = 0; step < 32 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        switch (op % 11) {
            case 0: {
                const path p = ReadPath(in);
                Designed([&] { fs->select(p); });
                break;
            }
            case 1: {
                const path p = ReadPath(in);
                Designed([&] { fs->selectByName(p); });
                break;
            }
            case 2: {
                const unsigned short fid = in.be16();
                Designed([&] { fs->selectByFID(fid); });
                break;
            }
            case 3:
            case 4:
                Designed([&] {
                    const std::vector<unsigned short> ids = fs->list(static_cast<unsigned char>(op % 11 - 2));
                    // A listing holds at most one identifier per two bytes of 64 KiB.
                    if (ids.size() > 0x8000) abort();
                });
                break;
            case 5: {
                const size_t n = in.be16() % 1200;
                const unsigned short offset = in.be16();
                TBytes buffer(n, 0x5A);
                Designed([&] { fs->read(buffer, offset); });
                if (buffer.size() != n) abort();
                break;
            }
            case 6: {
                const TBytes bytes = in.take(in.u8() * 3u);
                const unsigned short offset = in.be16();
                Designed([&] { fs->write(bytes, offset); });
                break;
            }
            case 7: {
                const unsigned short fid = in.be16();
                const unsigned char type = in.u8() % 6;
                const unsigned short sz = in.be16();
                const unsigned char r = in.u8(), w = in.u8();
                Designed([&] { fs->create(fid, CFileInfo(type, sz, r, w)); });
                break;
            }
            case 8:
                Designed([&] { fs->remove(); });
                break;
            case 9: {
                const unsigned short sz = in.be16();
                Designed([&] { fs->resize(sz); });
                break;
            }
            default: {
                const CFileInfo i = fs->info();
                if (i.type == 2 && i.size != 0) abort();  // a directory has no size
                break;
            }
        }
    }
    return 0;
}
