// Fuzz input as a card: an ATR, then card answers served in order to whatever
// the target sends. Layout of the input:
//   ATR length (1 byte, at most 33), the ATR bytes,
//   then repeatedly: answer length (2 bytes, high byte first), the answer bytes.
// A length that runs past the input is cut to what is left; once the input is
// used up every further command gets an empty answer. Replies to control
// exchanges are drawn from the same sequence.
#ifndef KEYSHELF_FUZZ_SENDER_H
#define KEYSHELF_FUZZ_SENDER_H

#include <cstddef>
#include <cstdint>

#include "libapdu.h"

// A cursor over the fuzz input that never fails: past the end it yields zeros.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    bool empty() const { return m_pos >= m_size; }
    size_t remaining() const { return m_size - m_pos; }
    uint8_t u8() { return empty() ? 0 : m_data[m_pos++]; }
    uint16_t be16() {
        const uint16_t hi = u8();
        return static_cast<uint16_t>((hi << 8) | u8());
    }
    libapdu::TBytes take(size_t n) {
        if (n > remaining()) n = remaining();
        libapdu::TBytes out;
        if (n) out.assign(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

class FuzzSender : public libapdu::ISender {
public:
    static constexpr size_t kMaxAtr = 33;

    FuzzSender(const uint8_t* data, size_t size) : m_in(data, size) {
        size_t n = m_in.u8();
        if (n > kMaxAtr) n = kMaxAtr;
        m_atr = m_in.take(n);
    }

    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        ++m_commands;
        m_lastCommand = command;
        response = m_in.take(m_in.be16());
    }
    libapdu::TBytes atr() override { return m_atr; }
    void control(unsigned int, const libapdu::TBytes&, libapdu::TBytes& out) override { out = m_in.take(m_in.be16()); }

    FuzzInput& input() { return m_in; }
    size_t commands() const { return m_commands; }
    const libapdu::TBytes& lastCommand() const { return m_lastCommand; }

private:
    FuzzInput m_in;
    libapdu::TBytes m_atr;
    libapdu::TBytes m_lastCommand;
    size_t m_commands = 0;
};

// A path for the file-system facets: up to five identifiers, now and then from the root.
inline libapdu::path FuzzPath(FuzzInput& in) {
    libapdu::path p;
    const size_t n = in.u8() % 6;
    if (in.u8() & 1) p.push_back(0x3F00);
    for (size_t i = 0; i < n; ++i) p.push_back(in.be16());
    return p;
}

#endif
