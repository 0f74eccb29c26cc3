// The DataStore (both layouts) and Wren applets over a fuzzed card: the
// enumeration, the directory object, commit and read answers, the status and
// configuration records, the platform memory answer, the label answer and the
// Wren select, list and read answers. The first byte after the ATR picks the
// applet; then operations (one byte each, with their arguments) and the card's
// answers are read in turn from the input.
#include "applet_datastore.h"
#include "applet_wren.h"
#include "appfs/fs_common.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

libapdu::path ReadPath(FuzzInput& in) {
    libapdu::path p;
    const size_t n = in.u8() % 6;
    if (in.u8() & 1) p.push_back(0x3F00);
    // Mostly FIDs the DataStore key table knows, so paths go deep.
    static const unsigned short kKnown[] = {0xE00E, 0x0B00, 0x0001, 0xCC00, 0xF001, 0xF003, 0xF007, 0x3F00};
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = in.u8();
        p.push_back(b & 0x80 ? kKnown[b & 7] : in.be16());
    }
    return p;
}

void CheckBytes(const TBytes& b, size_t most) {
    if (b.size() > most) abort();
}

void Run(IApplet& applet, FuzzSender& card) {
    FuzzInput& in = card.input();
    for (int step = 0; step < 40 && !in.empty(); ++step) {
        IAppFS* fs = applet.fs();
        const uint8_t op = in.u8();
        switch (op % 12) {
            case 0: {
                const libapdu::path p = ReadPath(in);
                if (Designed([&] { fs->select(p); })) {
                    const CFileInfo i = fs->info();
                    if (i.type > 2) abort();
                }
                break;
            }
            case 1:
            case 2:
                Designed([&] {
                    if (fs->list(static_cast<unsigned char>(op % 12)).size() > 0x8000) abort();
                });
                break;
            case 3: {
                const size_t n = in.be16() % 1200;
                const unsigned short offset = in.be16();
                TBytes data(n, 0x5A);
                Designed([&] { fs->read(data, offset); });
                if (data.size() != n) abort();
                break;
            }
            case 4: {
                const TBytes data = in.take(in.u8() * 3u);
                const unsigned short offset = in.be16();
                Designed([&] { fs->write(data, offset); });
                break;
            }
            case 5: {
                const uint8_t pick = in.u8();
                const unsigned short fid = pick & 0x80 ? static_cast<unsigned short>(0xF000 | (pick & 7)) : in.be16();
                const unsigned char type = in.u8() % 3;
                const unsigned short size = in.be16() % 0x4100;
                Designed([&] { fs->create(fid, CFileInfo(type, size, in.u8() & 1, 1)); });
                break;
            }
            case 6:
                Designed([&] { fs->remove(); });
                break;
            case 7: {
                IAppInfo* info = applet.info();
                Designed([&] { CheckBytes(info->version(0), 8); });
                Designed([&] { CheckBytes(info->id(2), 8); });
                Designed([&] { (void)info->color(); });
                break;
            }
            case 8:
                Designed([&] { (void)applet.info()->memoryFree(); });
                Designed([&] { (void)applet.info()->memoryTotal(); });
                break;
            case 9:
                Designed([&] { CheckBytes(applet.label()->read(), 0x10000); });
                break;
            case 10: {
                const TBytes text = in.take(in.u8() % 40);
                Designed([&] { applet.label()->write(text); });
                break;
            }
            default:
                // A fresh file system of either layout: the next select reads the store again.
                Designed([&] { applet.switchToFileSystem(static_cast<unsigned short>(in.u8() % 4)); });
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    const uint8_t family = card.input().u8();
    if (family & 1) {
        CAppletWren applet(&card);
        Run(applet, card);
    } else {
        CAppletDataStore applet(&card);
        if (family & 2) applet.switchToFileSystem(2);
        Run(applet, card);
    }
    return 0;
}
