// A transport that plays a card from a script: each step names the exact
// command expected and the answer to give. Unexpected or mismatched commands
// fail the test; an unscripted command leaves the answer buffer as passed,
// as the real transport does when the card cannot be reached.
#ifndef KEYSHELF_TESTS_PIN_SCRIPTED_SENDER_H
#define KEYSHELF_TESTS_PIN_SCRIPTED_SENDER_H

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "libapdu.h"

namespace keyshelf_test {

// "80 10 0A" -> {0x80, 0x10, 0x0A}; spaces are optional.
inline libapdu::TBytes Hex(const std::string& text) {
    libapdu::TBytes out;
    std::string digits;
    for (char ch : text)
        if (ch != ' ') digits += ch;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ToHex(const libapdu::TBytes& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

inline libapdu::TBytes Concat(libapdu::TBytes a, const libapdu::TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ScriptedSender : public libapdu::ISender {
public:
    struct Exchange {
        libapdu::TBytes command;
        libapdu::TBytes answer;
    };

    ScriptedSender& expect(const libapdu::TBytes& command, const libapdu::TBytes& answer) {
        m_script.push_back({command, answer});
        return *this;
    }
    ScriptedSender& expect(const std::string& command, const std::string& answer) {
        return expect(Hex(command), Hex(answer));
    }

    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        sent.push_back(command);
        capacities.push_back(response.size());
        if (m_script.empty()) {
            ADD_FAILURE() << "unscripted command " << ToHex(command);
            return;
        }
        Exchange step = m_script.front();
        m_script.pop_front();
        EXPECT_EQ(ToHex(command), ToHex(step.command));
        response = step.answer;
    }
    libapdu::TBytes atr() override { return {}; }

    size_t pending() const { return m_script.size(); }

    std::vector<libapdu::TBytes> sent;  // every command, in order
    std::vector<size_t> capacities;     // the answer buffer's size as each command went out

private:
    std::deque<Exchange> m_script;
};

// Runs f and returns the code of the card-library error it raised, or 0 when
// it returned normally.
template <class F> unsigned short RaisedCode(F&& f) {
    try {
        f();
    } catch (const libapdu::IException& e) {
        return e.code();
    }
    return 0;
}

}  // namespace keyshelf_test

#endif
