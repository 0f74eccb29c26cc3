// The answer cursor driven by a script of takes over a card answer: every take
// either stays inside the answer or raises 6281, and a refused take moves nothing.
#include <cstdlib>

#include "fuzz_sender.h"
#include "libapdu.internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSender card(data, size);
    libapdu::TBytes answer(258, 0);
    card.send({0x00, 0xB0, 0x00, 0x00, 0x00}, answer);
    // What follows the answer in the input is the script: one op byte, one count byte.
    FuzzInput& script = card.input();
    libapdu::CByteReader outer(answer);
    libapdu::CByteReader inner(nullptr, 0);
    size_t consumed = 0;
    while (!script.empty()) {
        const uint8_t op = script.u8();
        const size_t n = script.u8();
        libapdu::CByteReader& r = (op & 0x80) ? inner : outer;
        const size_t before = r.remaining();
        size_t want = 0;
        libapdu::CByteReader part(nullptr, 0);
        bool gotPart = false;
        try {
            switch (op & 7) {
                case 0: want = 1; r.u8(); break;
                case 1: want = 2; r.be16(); break;
                case 2: want = 2; r.le16(); break;
                case 3: want = 4; r.be32(); break;
                case 4: want = n; if (r.take(n).size() != n) abort(); break;
                case 5: want = n; r.skip(n); break;
                case 6: want = n; part = r.sub(n); gotPart = true; if (part.remaining() != n) abort(); break;
                default: want = 0; (void)r.pos(); break;
            }
            if (want > before || r.remaining() != before - want) abort();
            if (&r == &outer) consumed += want;
            if (gotPart) inner = part;
        } catch (const libapdu::CSCardException& e) {
            if (e.code() != 0x6281 || want <= before || r.remaining() != before) abort();
        }
    }
    if (consumed + outer.remaining() != answer.size()) abort();
    return 0;
}
