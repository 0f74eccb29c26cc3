// Login tickets of the Tessel token as the tests build them: a 24-byte check
// value, then element 01 (length BD) holding the ticket record, all as 208
// characters of Base64. The text carries 156 bytes, so the record is cut after
// its first 130 bytes; what is missing reads as zero.
#ifndef TEST_TESSEL_TICKET_H
#define TEST_TESSEL_TICKET_H

#include <string>

#include "crypto/crypto.h"
#include "libapdu.h"

namespace tessel_test {

using libapdu::TBytes;

struct TicketParts {
    unsigned int type = 0x20;
    TBytes keyId = {0x00, 0x00, 0x01, 0x07};
    TBytes key = TBytes(16, 0x11);
    std::u32string pin = U"1234";
    unsigned char declared = 0xBD;  // the length element 01 claims
    bool validCheck = true;
};

// The 156 decoded bytes of a ticket.
inline TBytes TicketBytes(const TicketParts& t) {
    TBytes record(189, 0);
    for (int i = 0; i < 4; ++i) record[static_cast<size_t>(i)] = static_cast<unsigned char>(t.type >> (8 * i));
    for (size_t i = 0; i < 4 && i < t.keyId.size(); ++i) record[4 + i] = t.keyId[i];
    for (size_t i = 0; i < 16 && i < t.key.size(); ++i) record[8 + i] = t.key[i];
    for (size_t c = 0; c < t.pin.size() && c < 30; ++c)
        for (int i = 0; i < 4; ++i)
            record[24 + 4 * c + static_cast<size_t>(i)] = static_cast<unsigned char>(t.pin[c] >> (8 * i));
    TBytes d(156, 0);
    d[24] = 0x01;
    d[25] = t.declared;
    std::copy(record.begin(), record.begin() + 130, d.begin() + 26);
    libapdu::crypto_corvid_md5_24(d.data() + 24, d.size() - 24, nullptr, 0, d.data(), 24);
    if (!t.validCheck) d[0] ^= 0x01;
    return d;
}

inline TBytes TicketText(const TicketParts& t) {
    const std::string text = libapdu::base64_encode(TicketBytes(t));
    return TBytes(text.begin(), text.end());
}

}  // namespace tessel_test

#endif
