// A transport for unit tests that plays a fixed conversation: each expected
// command (exact bytes, or a prefix plus a total length where the command carries
// random bytes) is answered with its scripted response, optionally after checking
// the size of the answer buffer it came with. Control calls play their own script.
// Anything unexpected is a test failure and is answered 6F 00 so the code under
// test stops.
#ifndef TEST_SCRIPTED_SENDER_H
#define TEST_SCRIPTED_SENDER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

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

inline TBytes Concat(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A command a script waits for: exact bytes, or a prefix and the command's
// length in all where the rest is random.
struct ExpectedCommand {
    TBytes prefix;
    size_t length = 0;

    bool matches(const TBytes& command) const {
        return command.size() == length && command.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), command.begin());
    }
    std::string describe() const {
        return ToHex(prefix) +
               (length != prefix.size() ? " ... (" + std::to_string(length) + " bytes)" : std::string());
    }
};

// How a script answers a command it cannot play: a test failure, and 6F 00 so
// that the code under test stops.
inline void RefuseCommand(const std::string& why, TBytes& response) {
    ADD_FAILURE() << why;
    response = {0x6F, 0x00};
}

// False, after refusing it, when `command` is not the one the script waits for.
inline bool PlayExpected(const ExpectedCommand& expected, const TBytes& command, TBytes& response) {
    if (expected.matches(command)) return true;
    RefuseCommand("command " + ToHex(command) + "\n expected " + expected.describe(), response);
    return false;
}

class ScriptedSender : public libapdu::ISender {
public:
    // How control() answers: from the control script, by doing nothing, or as a
    // transport without control codes does.
    enum class Control { Scripted, DoesNothing, NotSupported };

    // The next command must be exactly `command`. A non-zero `buffer` is the size
    // the answer buffer must have when the command goes out.
    ScriptedSender& expect(const TBytes& command, const TBytes& response, size_t buffer = 0) {
        m_script.push_back({{command, command.size()}, response, buffer});
        return *this;
    }
    ScriptedSender& expect(const std::string& command, const std::string& response, size_t buffer = 0) {
        return expect(Hex(command), Hex(response), buffer);
    }
    // The next command must start with `prefix` and be `length` bytes long in all.
    ScriptedSender& expectPrefix(const TBytes& prefix, size_t length, const TBytes& response, size_t buffer = 0) {
        m_script.push_back({{prefix, length}, response, buffer});
        return *this;
    }
    ScriptedSender& expectPrefix(const std::string& prefix, size_t length, const std::string& response,
                                 size_t buffer = 0) {
        return expectPrefix(Hex(prefix), length, Hex(response), buffer);
    }
    // The next control call must carry `code` and `in`; it is answered with `out`.
    ScriptedSender& expectControl(unsigned int code, const TBytes& in, const TBytes& out) {
        m_controls.push_back({code, in, out});
        return *this;
    }

    void send(const TBytes& command, TBytes& response) override {
        sent.push_back(command);
        capacities.push_back(response.size());
        if (m_script.empty()) {
            RefuseCommand("unexpected command " + ToHex(command), response);
            return;
        }
        const Step step = m_script.front();
        m_script.pop_front();
        if (!PlayExpected(step.command, command, response)) return;
        if (step.buffer) {
            EXPECT_EQ(response.size(), step.buffer) << "answer buffer for " << ToHex(command);
        }
        response = step.response;
    }

    TBytes atr() override { return m_atr; }
    void setAtr(const TBytes& atr) { m_atr = atr; }

    void control(unsigned int code, const TBytes& in, TBytes& out) override {
        controlOutSizes.push_back(out.size());
        if (controlMode == Control::NotSupported) {
            ISender::control(code, in, out);
            return;
        }
        if (controlMode == Control::DoesNothing) return;
        if (m_controls.empty()) {
            ADD_FAILURE() << "unexpected control " << ToHex(in);
            return;
        }
        const ControlStep step = m_controls.front();
        m_controls.pop_front();
        EXPECT_EQ(code, step.code);
        EXPECT_EQ(ToHex(in), ToHex(step.in));
        out = step.out;
    }

    // Scripted commands not sent yet.
    size_t pending() const { return m_script.size(); }
    // Every command and every scripted control was used.
    bool done() const { return m_script.empty() && m_controls.empty(); }

    Control controlMode = Control::Scripted;
    std::vector<TBytes> sent;             // every command, in order
    std::vector<size_t> capacities;       // the answer buffer's size as each command went out
    std::vector<size_t> controlOutSizes;  // the output buffer's size as each control call came in

private:
    struct Step {
        ExpectedCommand command;
        TBytes response;
        size_t buffer;  // 0: not checked
    };
    struct ControlStep {
        unsigned int code;
        TBytes in;
        TBytes out;
    };
    std::deque<Step> m_script;
    std::deque<ControlStep> m_controls;
    TBytes m_atr;
};

}  // namespace testing_card

#endif
