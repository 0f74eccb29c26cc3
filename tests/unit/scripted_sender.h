// A transport for unit tests that plays a fixed conversation: each expected
// command (exact bytes, or a prefix plus a total length where the command carries
// random bytes) is answered with its scripted response. Anything unexpected is a
// test failure and is answered 6F 00 so the code under test stops.
#ifndef TEST_SCRIPTED_SENDER_H
#define TEST_SCRIPTED_SENDER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <string>

#include "libapdu.h"

namespace testing_card {

using libapdu::TBytes;

// "00 A4 08 04" -> bytes; spaces are optional.
inline TBytes Hex(const std::string& text) {
    TBytes out;
    int hi = -1;
    for (char ch : text) {
        if (std::isspace(static_cast<unsigned char>(ch))) continue;
        const int v = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                                                                   : std::toupper(static_cast<unsigned char>(ch)) - 'A' + 10;
        if (v < 0 || v > 15) {
            ADD_FAILURE() << "bad hex text: " << text;
            return out;
        }
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<unsigned char>(hi * 16 + v));
            hi = -1;
        }
    }
    if (hi >= 0) ADD_FAILURE() << "odd number of hex digits: " << text;
    return out;
}

inline std::string ToHex(const TBytes& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

inline TBytes Cat(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ScriptedSender : public libapdu::ISender {
public:
    // The next command must be exactly `command`.
    ScriptedSender& expect(const TBytes& command, const TBytes& response) {
        m_script.push_back({command, command.size(), response});
        return *this;
    }
    ScriptedSender& expect(const std::string& command, const std::string& response) {
        return expect(Hex(command), Hex(response));
    }
    // The next command must start with `prefix` and be `length` bytes long in all.
    ScriptedSender& expectPrefix(const TBytes& prefix, size_t length, const TBytes& response) {
        m_script.push_back({prefix, length, response});
        return *this;
    }
    ScriptedSender& expectPrefix(const std::string& prefix, size_t length, const std::string& response) {
        return expectPrefix(Hex(prefix), length, Hex(response));
    }

    void send(const TBytes& command, TBytes& response) override {
        m_sent.push_back(command);
        if (m_script.empty()) {
            ADD_FAILURE() << "unexpected command " << ToHex(command);
            response = {0x6F, 0x00};
            return;
        }
        const Step step = m_script.front();
        m_script.pop_front();
        const bool match = command.size() == step.length && command.size() >= step.prefix.size() &&
                           std::equal(step.prefix.begin(), step.prefix.end(), command.begin());
        if (!match) {
            ADD_FAILURE() << "command " << ToHex(command) << "\n expected " << ToHex(step.prefix)
                          << (step.length != step.prefix.size() ? " ... (" + std::to_string(step.length) + " bytes)"
                                                                : std::string());
            response = {0x6F, 0x00};
            return;
        }
        response = step.response;
    }

    TBytes atr() override { return m_atr; }
    void setAtr(const TBytes& atr) { m_atr = atr; }

    size_t unconsumed() const { return m_script.size(); }
    const std::vector<TBytes>& sent() const { return m_sent; }

private:
    struct Step {
        TBytes prefix;
        size_t length;
        TBytes response;
    };
    std::deque<Step> m_script;
    std::vector<TBytes> m_sent;
    TBytes m_atr;
};

}  // namespace testing_card

#endif
