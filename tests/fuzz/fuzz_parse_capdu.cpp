// Command APDU parsing on arbitrary bytes: either a refusal with 6B00 or a split
// whose parts lie inside the command.
#include <cstdlib>

#include "libapdu.internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const libapdu::TBytes command(data, data + size);
    libapdu::TBytes header, body;
    unsigned short le = 0;
    try {
        libapdu::IAPDUDefinitions::parse_capdu(command, header, body, le);
    } catch (const libapdu::CSCardException& e) {
        if (e.code() != 0x6B00) abort();
        return 0;
    }
    if (header.size() != 4 || header.size() + body.size() > command.size()) abort();
    if (!std::equal(header.begin(), header.end(), command.begin())) abort();
    return 0;
}
