// The Kite applet through the token over a fuzzed card: recognition by the ATR
// of the input, init or a plain switch, then file-system, PIN, information and
// label operations (one byte each, with their arguments), the card's answers
// read in turn as the facets ask.
#include <cstdlib>
#include <memory>

#include "appfs/fs_kite.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

void FileOp(IToken& token, FuzzInput& in, uint8_t op) {
    IAppFS* fs = token.fs();
    auto* kite = dynamic_cast<CFSKite*>(fs);
    if (!kite) abort();
    switch (op % 7) {
        case 0:
            if (Designed([&] { fs->select(FuzzPath(in)); }) && kite->currentPath().front() != 0x3F00) abort();
            break;
        case 1:
            Designed([&] {
                if (fs->list(in.u8()).size() > 0x8000) abort();
            });
            break;
        case 2: {
            TBytes data(in.be16() % 1200, 0x5A);
            const size_t n = data.size();
            Designed([&] { fs->read(data, in.be16()); });
            if (data.size() != n) abort();  // the caller's buffer keeps its length
            break;
        }
        case 3: {
            const TBytes data = in.take(in.u8() * 3u);
            Designed([&] { fs->write(data, in.be16()); });
            break;
        }
        case 4: {
            const unsigned short fid = in.be16();
            const unsigned char type = in.u8();
            const unsigned short size = in.be16();
            Designed([&] { fs->create(fid, CFileInfo(type, size, in.u8(), in.u8())); });
            break;
        }
        case 5:
            Designed([&] { fs->remove(); });
            break;
        default:
            Designed([&] { (void)fs->info(); });
            break;
    }
}

void PinOp(IToken& token, FuzzInput& in, uint8_t op) {
    IAppPin* pin = token.pin();
    const TBytes secret = in.take(in.u8() % 24);
    switch (op % 6) {
        case 0:
            Designed([&] {
                const uint8_t which = in.u8();
                pin->select(which % 3 == 0 ? pin->pathUser() : which % 3 == 1 ? pin->pathAdmin() : FuzzPath(in));
            });
            break;
        case 1:
            Designed([&] { pin->login(secret); });
            break;
        case 2:
            Designed([&] { pin->change(secret); });
            break;
        case 3:
            Designed([&] { pin->unblock(secret); });
            break;
        case 4:
            Designed([&] { pin->logout(); });
            break;
        default: {
            const PinInfo i = pin->info();
            if (i.loginState != 0 && i.loginState != 0x10 && i.loginState != 0xFF) abort();
            Designed([&] {
                if (pin->challengeGet().size() != 8) abort();
            });
            break;
        }
    }
}

void InfoLabelOp(IToken& token, FuzzInput& in, uint8_t op) {
    IAppInfo* info = token.info();
    switch (op % 8) {
        case 0:
            Designed([&] { (void)info->id(in.u8()); });
            break;
        case 1:
            Designed([&] { (void)info->version(in.u8()); });
            break;
        case 2:
            Designed([&] { (void)info->memoryFree(); });
            Designed([&] { (void)info->memoryTotal(); });
            break;
        case 3:
            Designed([&] { (void)info->color(); });
            Designed([&] { (void)info->isFips(); });
            break;
        case 4: {
            const size_t n = in.u8() * 2u;
            Designed([&] {
                if (info->rnd(n).size() != n) abort();
            });
            break;
        }
        case 5:
            Designed([&] { (void)token.label()->read(); });
            break;
        case 6: {
            const TBytes label = in.take(in.u8() % 40);
            Designed([&] { token.label()->write(label); });
            break;
        }
        default:
            Designed([&] { (void)token.crypto()->list(0); });
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<ISender> owner(new FuzzSender(data, size));
    auto* card = static_cast<FuzzSender*>(owner.get());
    std::unique_ptr<IToken> token = IToken::create(owner);
    const bool kite = token->checkIfExist(0x1002);
    if (card->commands() != 0) abort();  // the ATR alone tells a Kite token
    FuzzInput& in = card->input();
    const bool init = in.u8() & 1;
    const bool made = Designed([&] {
        if (init)
            token->selectApplet(0x1002);
        else
            token->useAsApplet(0x1002);
    });
    if (made != kite && !(kite && init)) abort();  // only init may fail on a Kite token
    if (!made) return 0;
    for (int step = 0; step < 40 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        switch ((op >> 4) % 3) {
            case 0:
                FileOp(*token, in, op);
                break;
            case 1:
                PinOp(*token, in, op);
                break;
            default:
                InfoLabelOp(*token, in, op);
                break;
        }
    }
    return 0;
}
