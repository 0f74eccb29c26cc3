// Card-side helpers shared by every simulated applet: the parsed command APDU,
// the status words a card answers with, and a bounds-checked cursor over the
// command data (a malformed command must never make the simulator read past it).
#ifndef CARDSIM_SIM_APDU_H
#define CARDSIM_SIM_APDU_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "libapdu.h"

namespace cardsim {

// The library's own byte buffers, which the card side is handed and answers in.
typedef libapdu::TBytes Bytes;
typedef std::vector<uint16_t> FidPath;

// ISO/IEC 7816-4 status words the models answer with.
enum : uint16_t {
    kSwOk = 0x9000,
    kSwEndOfFile = 0x6282,        // fewer bytes than asked before the end of the file
    kSwWrongLength = 0x6700,
    kSwIncompatibleFile = 0x6981,  // command not possible on this kind of file
    kSwSecurity = 0x6982,          // access condition not fulfilled
    kSwConditions = 0x6985,
    kSwNoCurrentEf = 0x6986,
    kSwWrongData = 0x6A80,
    kSwNotFound = 0x6A82,
    kSwNoMemory = 0x6A84,
    kSwWrongP1P2 = 0x6A86,
    kSwDataNotFound = 0x6A88,
    kSwFileExists = 0x6A89,
    kSwOutsideFile = 0x6B00,
    kSwInsNotSupported = 0x6D00,
    kSwClaNotSupported = 0x6E00,
    kSwNoPreciseDiagnosis = 0x6F00,
};

// Thrown inside a model to end the command with a bare status word.
struct SimStatus {
    uint16_t sw;
};
[[noreturn]] inline void Fail(uint16_t sw) { throw SimStatus{sw}; }

// Data followed by SW1 SW2.
Bytes Respond(const Bytes& data, uint16_t sw = kSwOk);
inline Bytes Respond(uint16_t sw) { return Respond(Bytes(), sw); }
uint16_t StatusOf(const Bytes& response);  // 0 for answers shorter than two bytes

// A command APDU split into its parts (short and extended lengths). `le` is the
// number of bytes the terminal accepts (Le 00 counts as 256, or 65536 extended).
struct SimApdu {
    unsigned char cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;
    bool hasLe = false;
    size_t le = 0;

    // False when the bytes are no well-formed APDU (shorter than a header, or
    // an Lc that disagrees with the length). Two forms that a card service passes
    // on as built are taken as well: header 00 Le, and an extended Lc with a
    // one-byte Le.
    static bool parse(const Bytes& raw, SimApdu& out);
};

// Cursor over command data: every take is checked; a shortfall fails the
// command with `code` (wrong length unless the caller says otherwise).
class SimReader {
public:
    SimReader(const unsigned char* p, size_t n, uint16_t code = kSwWrongLength) : m_p(p), m_end(p + n), m_code(code) {}
    explicit SimReader(const Bytes& b, uint16_t code = kSwWrongLength) : SimReader(b.data(), b.size(), code) {}

    bool empty() const { return m_p == m_end; }
    size_t remaining() const { return static_cast<size_t>(m_end - m_p); }
    unsigned char u8() {
        need(1);
        return *m_p++;
    }
    uint16_t be16() {
        need(2);
        uint16_t v = static_cast<uint16_t>((m_p[0] << 8) | m_p[1]);
        m_p += 2;
        return v;
    }
    Bytes take(size_t n) {
        need(n);
        Bytes out(m_p, m_p + n);
        m_p += n;
        return out;
    }

private:
    void need(size_t n) const {
        if (remaining() < n) Fail(m_code);
    }
    const unsigned char* m_p;
    const unsigned char* m_end;
    uint16_t m_code;
};

// A two-byte value, high byte first; any other length fails the command (6A80).
inline uint16_t Be16Value(const Bytes& v) {
    if (v.size() != 2) Fail(kSwWrongData);
    return static_cast<uint16_t>((v[0] << 8) | v[1]);
}

// The value of an element the command must carry; without it the command fails (6A80).
inline const Bytes& Need(const std::map<unsigned char, Bytes>& elements, unsigned char tag) {
    auto it = elements.find(tag);
    if (it == elements.end()) Fail(kSwWrongData);
    return it->second;
}

inline void PutBe16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

// Hex text <-> bytes for options, logs and test failure messages. FromHex
// ignores spaces and colons and returns false on anything else that is no hex pair.
std::string ToHex(const Bytes& b);
bool FromHex(const std::string& text, Bytes& out);

}  // namespace cardsim

#endif
