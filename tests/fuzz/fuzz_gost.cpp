// The Gost and Gost2 applets over a fuzzed card: the first byte after the ATR
// picks the family; then the file system (object store or tree), the
// information and label facets and, on Gost2, the session facet run, their
// arguments and the card's answers read in turn from the input.
#include "applet_gost.h"
#include "applet_gost2.h"
#include "appfs/fs_gost.h"
#include "appinfo/info_gost.h"
#include "appinfo/info_gost2.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

void Expect(bool ok) {
    if (!ok) abort();
}

path SomePath(FuzzInput& in) {
    static const path kKnown[] = {{0x3F00}, {0x3F00, 0xE00E}, {0xE00E, 0x0B00}, {0x3F00, 0xE00E, 0x0B00, 0x0001}};
    path p = kKnown[in.u8() % 4];
    for (size_t n = in.u8() % 3; n; --n) p.push_back(in.be16());
    return p;
}

// Operations every file system offers, with the invariants of the common base.
void RunFs(IAppFS* fs, FuzzInput& in) {
    for (int round = 0; round < 3; ++round) {
        Designed([&] { fs->select(SomePath(in)); });
        Designed([&] { (void)fs->list(in.u8() % 3 + 1); });
        const unsigned short fid = in.be16();
        const CFileInfo info(in.u8() % 3 + 1, in.be16(), in.u8() % 3, in.u8() % 3);
        Designed([&] { fs->create(fid, info); });
        const unsigned short offset = in.u8();
        Designed([&] {
            TBytes data(in.be16() % 600);
            const size_t asked = data.size();
            fs->read(data, offset);
            Expect(data.size() == asked);
        });
        const TBytes data = in.take(in.u8());
        Designed([&] { fs->write(data, offset); });
        if (in.u8() & 1) Designed([&] { fs->remove(); });
    }
}

void RunGost(FuzzSender& card) {
    FuzzInput& in = card.input();
    CAppletGost applet(&card);
    Designed([&] { applet.init(); });
    auto* fs = static_cast<CFSGost*>(applet.fs());
    RunFs(fs, in);
    const unsigned short h = in.be16();
    const unsigned int id = static_cast<unsigned int>(in.be16()) << (in.u8() & 16);
    Designed([&] { (void)fs->newFile(); });
    Designed([&] { (void)fs->listFile(); });
    Designed([&] { (void)fs->listAtr(h); });
    Designed([&] { (void)fs->getAtr(h, id); });
    const TBytes value = in.take(in.be16() % 400);
    Designed([&] { fs->setAtr(h, id, value); });
    Designed([&] { fs->removeFile(h); });

    auto* info = static_cast<CInfoGost*>(applet.info());
    Designed([&] { Expect(info->get_status().size() == CInfoGost::kStatusSize); });
    Designed([&] { Expect(info->version(in.u8()).size() == 4); });
    Designed([&] { Expect(info->id(in.u8()).size() == 8); });
    Designed([&] { (void)info->memoryFree(); });
    const size_t n = in.be16() % 700;
    Designed([&] { Expect(info->rnd(n).size() == n); });

    Designed([&] { (void)applet.label()->read(); });
    const TBytes label = in.take(in.u8() % 40);
    Designed([&] { applet.label()->write(label); });
}

void RunGost2(FuzzSender& card) {
    FuzzInput& in = card.input();
    CAppletGost2 applet(&card);
    Designed([&] { applet.init(); });
    RunFs(applet.fs(), in);

    auto* info = static_cast<CInfoGost2*>(applet.info());
    const unsigned char kind = in.u8() % 14;
    Designed([&] { (void)info->get_info(kind); });
    Designed([&] { Expect(info->version(0).size() == 3); });
    Designed([&] { Expect(info->id(0).size() == 8); });
    Designed([&] { (void)info->memoryFree(); });
    // Whatever is asked, the applet's random answer is 32 bytes.
    Designed([&] { Expect(info->rnd(in.u8()).size() == 32); });
    Designed([&] { (void)info->isZudezoZudSMSupport(); });
    Designed([&] { Expect(info->getZudezoZudSMInfo(in.u8() % 6).size() == 29); });
    const TBytes first = in.take(4), second = in.take(16), third = in.take(64);
    const unsigned char number = in.u8() % 4, type = in.u8() % 5;
    Designed([&] { info->setZudezoZudSMInfo(first, number, second, third, type); });

    IAppSession* s = applet.session();
    for (int round = 0; round < 4; ++round) {
        switch (in.u8() % 8) {
            case 0: {
                const TBytes v = in.take(in.u8());
                Designed([&] { s->setStrictSession(v); });
                break;
            }
            case 1: {
                const TBytes v = in.take(in.u8());
                Designed([&] { s->setStandartSession(v); });
                break;
            }
            case 2:
                Designed([&] { s->setLimitedSession(); });
                break;
            case 3:
                Designed([&] { s->setOfflineSession(); });
                break;
            case 4:
                Designed([&] { s->endSession(); });
                break;
            case 5: {
                const TBytes v = in.take(64);
                const unsigned char b = in.u8() % 6;
                Designed([&] { Expect(s->startSetZudezoZudSM(v, b).size() == 64); });
                break;
            }
            case 6: {
                const TBytes v = in.take(32);
                Designed([&] { Expect(s->finishSetZudezoZudSM(v).size() == 32); });
                break;
            }
            default: {
                const unsigned char st = in.u8() % 4;
                Designed([&] { (void)s->getStatusSM(); });
                Designed([&] { s->setStatusSM(st); });
                break;
            }
        }
    }

    Designed([&] { (void)applet.label()->read(); });
    const TBytes label = in.take(in.u8() % 40);
    Designed([&] { applet.label()->write(label); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    if (card.input().u8() & 1)
        RunGost2(card);
    else
        RunGost(card);
    return 0;
}
