// The information and label facets of every family over a fuzzed card: the
// first byte after the ATR picks the family, then every operation runs once,
// its arguments and the card's answers read in turn from the input.
#include "appfs/fs_heron.h"
#include "appfs/fs_java.h"
#include "appfs/fs_tessel.h"
#include "apperror/apperror.h"
#include "appinfo/info_heron.h"
#include "appinfo/info_java.h"
#include "appinfo/info_javamanager.h"
#include "appinfo/info_kite.h"
#include "appinfo/info_tessel.h"
#include "applabel/label_heron.h"
#include "applabel/label_java.h"
#include "applabel/label_kite.h"
#include "applabel/label_tessel.h"
#include "applabel/label_wren.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

// The label facets read and write through the applet's file system; the
// families without a file-system facet of their own borrow the Java one.
template <class Error, class FS, class Info, class Label> struct FuzzApplet : IApplet {
    explicit FuzzApplet(ISender* s) : IApplet(s) {
        setError(new Error);
        setFs(new FS(this));
        setInfo(new Info(this));
        setLabel(new Label(this));
    }
};

void CheckBytes(const TBytes& b, size_t most) {
    if (b.size() > most) abort();
}

void RunInfo(IAppInfo* info, FuzzInput& in) {
    const size_t n = in.u8() % 600;
    Designed([&] {
        // Exactly what was asked for, however the card splits it.
        if (info->rnd(n).size() != n) abort();
    });
    Designed([&] { (void)info->isFips(); });
    Designed([&] { (void)info->isFips(); });  // the second asks again or reuses the first
    const unsigned char kinds[] = {in.u8(), in.u8(), in.u8()};
    Designed([&] { CheckBytes(info->version(kinds[0]), 0x10000); });
    Designed([&] { CheckBytes(info->id(kinds[1]), 0x10000); });
    Designed([&] { CheckBytes(info->value(kinds[2]), 0x10000); });
    Designed([&] { (void)info->color(); });
    Designed([&] { (void)info->memoryFree(); });
    Designed([&] { (void)info->memoryTotal(); });
}

void RunLabel(IAppLabel* label, FuzzInput& in) {
    Designed([&] { CheckBytes(label->read(), 0x10000); });
    Designed([&] { (void)label->encoding(); });
    const TBytes text = in.take(in.u8() % 48);
    Designed([&] { label->write(text); });
}

template <class Applet, class Extra> void Run(FuzzSender& card, Extra&& extra) {
    Applet applet(&card);
    FuzzInput& in = card.input();
    RunInfo(applet.info(), in);
    extra(applet);
    RunLabel(applet.label(), in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    switch (card.input().u8() % 5) {
        case 0:
            Run<FuzzApplet<CErrorJava, CFSJava, CInfoJava, CLabelJava>>(card, [](IApplet& a) {
                auto* info = static_cast<CInfoJava*>(a.info());
                Designed([&] { (void)info->ManufacturingDate(); });
                unsigned int total = 0, free = 0;
                Designed([&] { (void)info->Pellar3GetMemory(&total, &free); });
                Designed([&] { (void)info->Pellar3GetMemoryInternal(&total, &free); });
            });
            break;
        case 1:
            Run<FuzzApplet<CErrorHeron, CFSHeron, CInfoHeron, CLabelHeron>>(card, [](IApplet& a) {
                Designed([&] { (void)static_cast<CInfoHeron*>(a.info())->ManufacturingDate(); });
            });
            break;
        case 2:
            // The card manager has no label of its own: the Java one stands in.
            Run<FuzzApplet<CErrorJava, CFSJava, CInfoJavaManager, CLabelJava>>(card, [](IApplet&) {});
            break;
        case 3:
            Run<FuzzApplet<CErrorKite, CFSJava, CInfoKite, CLabelKite>>(card, [](IApplet& a) {
                auto* info = static_cast<CInfoKite*>(a.info());
                Designed([&] { (void)info->readBasicInfo(); });
                Designed([&] { (void)info->readCfg(); });
                Designed([&] { (void)info->corvidID(); });
            });
            break;
        default:
            if (card.input().u8() & 1)
                Run<FuzzApplet<CErrorTessel, CFSTessel, CInfoTessel, CLabelTessel>>(card, [](IApplet&) {});
            else
                Run<FuzzApplet<CErrorWren, CFSJava, CInfoTessel, CLabelWren>>(card, [](IApplet&) {});
            break;
    }
    return 0;
}
