#include "sim_apdu.h"

#include <cctype>

namespace cardsim {

Bytes Respond(const Bytes& data, uint16_t sw) {
    Bytes out(data);
    PutBe16(out, sw);
    return out;
}

uint16_t StatusOf(const Bytes& response) {
    if (response.size() < 2) return 0;
    return static_cast<uint16_t>((response[response.size() - 2] << 8) | response.back());
}

bool SimApdu::parse(const Bytes& raw, SimApdu& out) {
    out = SimApdu();
    if (raw.size() < 4) return false;
    out.cla = raw[0];
    out.ins = raw[1];
    out.p1 = raw[2];
    out.p2 = raw[3];
    const size_t n = raw.size();
    if (n == 4) return true;  // case 1
    if (n == 5) {             // case 2 short
        out.hasLe = true;
        out.le = raw[4] ? raw[4] : 256;
        return true;
    }
    if (raw[4] != 0) {  // short Lc
        const size_t lc = raw[4];
        if (n == 5 + lc || n == 6 + lc) {
            out.data.assign(raw.begin() + 5, raw.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
            if (n == 6 + lc) {
                out.hasLe = true;
                out.le = raw.back() ? raw.back() : 256;
            }
            return true;
        }
        // The Java family's secure messaging sends a short Lc with a two-byte Le.
        if (n == 7 + lc) {
            out.data.assign(raw.begin() + 5, raw.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
            const size_t le = (static_cast<size_t>(raw[n - 2]) << 8) | raw[n - 1];
            out.hasLe = true;
            out.le = le ? le : 65536;
            return true;
        }
        return false;
    }
    // Through a card service the library's commands reach the card as it built
    // them, two forms included that the javax.smartcardio road completes first:
    // the card takes them as that road would deliver them. An empty Lc before a
    // one-byte Le (header, 00, Le):
    if (n == 6) {
        out.hasLe = true;
        out.le = raw[5] ? raw[5] : 256;
        return true;
    }
    // Extended lengths: 00 followed by two bytes.
    if (n < 7) return false;
    const size_t l = (static_cast<size_t>(raw[5]) << 8) | raw[6];
    if (n == 7) {  // case 2 extended
        out.hasLe = true;
        out.le = l ? l : 65536;
        return true;
    }
    if (l == 0) return false;
    if (n == 7 + l || n == 8 + l || n == 9 + l) {
        out.data.assign(raw.begin() + 7, raw.begin() + 7 + static_cast<std::ptrdiff_t>(l));
        if (n == 9 + l) {
            const size_t le = (static_cast<size_t>(raw[n - 2]) << 8) | raw[n - 1];
            out.hasLe = true;
            out.le = le ? le : 65536;
        } else if (n == 8 + l) {
            // The other form: an extended Lc with a one-byte Le; its 00 is the extended maximum.
            out.hasLe = true;
            out.le = raw.back() ? raw.back() : 65536;
        }
        return true;
    }
    return false;
}

std::string ToHex(const Bytes& b) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += kDigits[b[i] >> 4];
        s += kDigits[b[i] & 15];
    }
    return s;
}

bool FromHex(const std::string& text, Bytes& out) {
    out.clear();
    int hi = -1;
    for (char c : text) {
        if (c == ' ' || c == ':') {
            if (hi >= 0) return false;  // a separator inside a pair
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<unsigned char>((hi << 4) | v));
            hi = -1;
        }
    }
    return hi < 0;
}

}  // namespace cardsim
