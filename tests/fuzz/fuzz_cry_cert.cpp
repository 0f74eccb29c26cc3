// The certificate walk and the pairing of objects over arbitrary bytes. The
// whole input is one certificate for the walk; read again as a list of key and
// certificate objects it feeds the pairing. Only the plain 0 of the walk may
// escape, and what the pairing kept before it must still be consistent.
#include <cstdlib>

#include "appcry/cry_common.h"
#include "fuzz_guard.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

class ListFinder : public CCryFinder {
public:
    void getcerts() override {}
    void getkeys() override {}
};

void Check(bool ok) {
    if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TBytes whole(data, data + size);
    TBytes modulus;
    if (Designed([&] { modulus = extractPublicKeyFromCert(whole); })) {
        Check(modulus.size() < size);
    }
    Check(!isValidDataForRSA(modulus, modulus));

    FuzzInput in(data, size);
    ListFinder f;
    const size_t keyCount = in.u8() % 4, certCount = in.u8() % 4;
    for (size_t i = 0; i < keyCount; ++i) {
        CCryptoInfo k;
        k.name = in.take(in.u8() % 3);
        k.keyLength = in.be16() % 300;
        k.path = {static_cast<unsigned short>(0x3000 + i)};
        f.keys.push_back(k);
    }
    for (size_t i = 0; i < certCount; ++i) {
        CCryptoInfo c;
        c.name = in.take(in.u8() % 3);
        c.certificate = in.take(in.be16());
        c.path = {static_cast<unsigned short>(0x1000 + i)};
        f.certs.push_back(c);
    }
    Designed([&] { f.unite(); });
    for (const CCryptoInfo& c : f.containers()) {
        Check(c.path.size() == 1);
        const bool key = (c.path[0] & 0xF000) == 0x3000;
        Check(key ? c.privateKey.size() == c.keyLength : c.privateKey.empty());
        Check(key || c.keyLength == c.modulus.size());
    }
    return 0;
}
