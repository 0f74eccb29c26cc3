// Kite secure messaging over a fuzzed card that MACs its answers correctly, with
// known keys in slots 1 and 3. Input after the ATR: one key choice per slot, then
// operations: a command (header, data length and Le) followed, for its protected
// form, by a mode byte and what the mode needs:
//   mode % 3 == 0: a raw answer (length, bytes), as FuzzSender serves it;
//   mode % 3 == 1: D (length, bytes) and SW1 SW2: the card prefixes 87 with D as
//                  its value, MACs it, and adds the extra bytes of the input's
//                  choice before, between or after the objects;
//   mode % 3 == 2: a plaintext (length, bytes) and SW1 SW2, encrypted and MACed
//                  as a card does: sm must give back exactly the plaintext and SW.
#include <cstdlib>

#include "apperror/apperror.h"
#include "apppack/pack_kite.h"
#include "crypto/crypto.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

struct KiteSmSender : FuzzSender {
    KiteSmSender(const uint8_t* data, size_t size) : FuzzSender(data, size) {}

    void send(const TBytes& command, TBytes& response) override {
        if (command.size() < 5 || (command[0] & 0x0C) != 0x0C || !pack) {
            FuzzSender::send(command, response);
            return;
        }
        FuzzInput& in = input();
        const uint8_t mode = in.u8() % 3;
        made = false;
        if (mode == 0) {
            FuzzSender::send(command, response);
            return;
        }
        TBytes mac, enc;
        Designed([&] { mac = pack->keyGet(CPackKite::kSlotMac); });
        Designed([&] { enc = pack->keyGet(CPackKite::kSlotEnc); });
        TBytes value;
        if (mode == 1) {
            value = in.take(in.be16() % 0x300);
        } else {
            plain = in.take(in.u8());
            TBytes c;
            crypto_sm_enc(enc, plain, c, TBytes());
            value = {0x01};
            value.insert(value.end(), c.begin(), c.end());
            made = true;
        }
        sw1 = in.u8();
        sw2 = in.u8();
        TBytes m(command.begin(), command.begin() + 4);
        m.insert(m.end(), 4, 0x00);
        m.push_back(0x87);
        m.push_back(static_cast<unsigned char>(value.size() & 0xFF));
        m.insert(m.end(), value.begin(), value.end());
        TBytes tag;
        crypto_sm_mac_kite(mac, m, tag);

        TBytes do87 = {0x87};
        if (value.size() < 0xFF) {
            do87.push_back(static_cast<unsigned char>(value.size()));
        } else {
            do87.insert(do87.end(), {0xFF, static_cast<unsigned char>(value.size() >> 8),
                                     static_cast<unsigned char>(value.size())});
        }
        do87.insert(do87.end(), value.begin(), value.end());
        TBytes do8e = {0x8E, static_cast<unsigned char>(tag.size())};
        do8e.insert(do8e.end(), tag.begin(), tag.end());
        const TBytes extra = mode == 1 ? in.take(in.u8() % 16) : TBytes();
        const uint8_t where = mode == 1 ? in.u8() % 3 : 3;
        response.clear();
        if (where == 0) response.insert(response.end(), extra.begin(), extra.end());
        response.insert(response.end(), do87.begin(), do87.end());
        if (where == 1) response.insert(response.end(), extra.begin(), extra.end());
        response.insert(response.end(), do8e.begin(), do8e.end());
        if (where == 2) response.insert(response.end(), extra.begin(), extra.end());
        response.push_back(sw1);
        response.push_back(sw2);
    }

    IAppPack* pack = nullptr;
    bool made = false;
    TBytes plain;
    unsigned char sw1 = 0, sw2 = 0;
};

struct FuzzApplet : IApplet {
    explicit FuzzApplet(ISender* s) : IApplet(s) {
        setError(new CErrorKite);
        setPack(new CPackKite(this));
    }
};

// Three-key and two-key keys, none, and one of a length no TDEA key has.
TBytes SlotKey(uint8_t choice, size_t slot) {
    const size_t sizes[] = {0, 7, 16, 24, 24, 24};
    TBytes k(sizes[choice % 6]);
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<unsigned char>(0x13 * slot + 5 * i + 3);
    return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KiteSmSender card(data, size);
    FuzzApplet applet(&card);
    IAppPack* pack = applet.pack();
    card.pack = pack;
    FuzzInput& in = card.input();
    for (size_t slot : {CPackKite::kSlotMac, CPackKite::kSlotEnc}) {
        const TBytes k = SlotKey(in.u8(), slot);
        if (!k.empty()) pack->keySet(slot, k);
    }
    for (int step = 0; step < 8 && !in.empty(); ++step) {
        TBytes command = in.take(4);
        command.resize(4, 0);
        const size_t n = in.u8();
        if (n) {
            command.push_back(static_cast<unsigned char>(n));
            for (size_t i = 0; i < n; ++i) command.push_back(static_cast<unsigned char>(i * 7));
        }
        if (in.u8() & 1) command.push_back(in.u8());
        const size_t before = card.commands();
        card.made = false;
        TBytes out;
        const bool ok = Designed([&] { pack->sm(command, out); });
        // More data than one-byte lengths can carry is refused before sending.
        if (n > CPackKite::kMaxData && card.commands() != before) abort();
        if (ok && out.size() < 2) abort();
        // An answer made as a card makes it, under the right keys, comes back as it was.
        if (card.made && !ok) {
            TBytes m, e;
            if (Designed([&] { m = pack->keyGet(CPackKite::kSlotMac); }) &&
                Designed([&] { e = pack->keyGet(CPackKite::kSlotEnc); }) && m.size() == 24 && e.size() == 24)
                abort();
        }
        if (card.made && ok) {
            TBytes expected = card.plain;
            expected.push_back(card.sw1);
            expected.push_back(card.sw2);
            if (out != expected) abort();
        }
    }
    return 0;
}
