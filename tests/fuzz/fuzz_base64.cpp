// Base64 decoding of arbitrary text never fails, never yields more than three
// bytes per four characters, and encoded bytes decode to themselves.
#include <cstdlib>

#include "libapdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const libapdu::TBytes decoded = libapdu::base64_decode(text);
    if (decoded.size() > size / 4 * 3 + 2) abort();
    // Decoding ends at the first character outside the alphabet, so its complete
    // groups re-encode to a prefix of the input (a last partial group may carry
    // spare bits that encoding zeroes).
    const std::string again = libapdu::base64_encode(decoded);
    const size_t whole = decoded.size() / 3 * 4;
    if (text.compare(0, whole, again, 0, whole) != 0) abort();

    const libapdu::TBytes bytes(data, data + size);
    if (libapdu::base64_decode(libapdu::base64_encode(bytes)) != bytes) abort();
    return 0;
}
