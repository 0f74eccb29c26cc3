// A transport that plays a script: each command must match the expected bytes
// exactly, and gets the scripted answer.
#ifndef KEYSHELF_TESTS_SCRIPTED_SENDER_H
#define KEYSHELF_TESTS_SCRIPTED_SENDER_H

#include <gtest/gtest.h>

#include <deque>
#include <utility>

#include "libapdu.h"

class ScriptedSender : public libapdu::ISender {
public:
    struct Step {
        libapdu::TBytes command;
        libapdu::TBytes answer;
    };

    ScriptedSender() = default;
    explicit ScriptedSender(std::deque<Step> script) : m_script(std::move(script)) {}
    ~ScriptedSender() override { EXPECT_TRUE(m_script.empty()) << m_script.size() << " scripted command(s) never sent"; }

    void expect(libapdu::TBytes command, libapdu::TBytes answer) { m_script.push_back({std::move(command), std::move(answer)}); }
    void setAtr(libapdu::TBytes atr) { m_atr = std::move(atr); }

    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        ++m_sent;
        if (m_script.empty()) {
            ADD_FAILURE() << "unexpected command #" << m_sent;
            response.clear();
            return;
        }
        Step s = std::move(m_script.front());
        m_script.pop_front();
        EXPECT_EQ(command, s.command) << "command #" << m_sent;
        response = std::move(s.answer);
    }
    libapdu::TBytes atr() override { return m_atr; }

    int sent() const { return m_sent; }

private:
    std::deque<Step> m_script;
    libapdu::TBytes m_atr;
    int m_sent = 0;
};

#endif
