// Pieces for crypto facet tests: an information facet that only knows its FIPS
// mode, a pack facet that plays protected commands from a script, and an
// applet that carries them with an in-memory file system, a PIN facet and a
// scripted transport.
#ifndef TEST_CRY_TEST_SUPPORT_H
#define TEST_CRY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>

#include "fake_fs.h"
#include "libapdu.internal.h"
#include "scripted_sender.h"

namespace cry_test {

using libapdu::TBytes;

class FipsInfo : public libapdu::IAppInfo {
public:
    explicit FipsInfo(bool fips) : m_fips(fips) {}
    bool isFips() override { return m_fips; }

private:
    bool m_fips;
};

// sm and chain take their plain commands from a script of their own.
class ScriptedPack : public libapdu::IAppPack {
public:
    ScriptedPack& expect(const TBytes& command, const TBytes& answer, size_t buffer = 0) {
        m_script.push_back({command, answer, buffer});
        return *this;
    }
    void sm(const TBytes& command, TBytes& output) override { play("sm", command, output); }
    void chain(const TBytes& command, TBytes& output) override { play("chain", command, output); }
    bool done() const { return m_script.empty(); }
    std::vector<std::string> calls;
    bool answerAnything = false;  // 90 00 to every command, no script

private:
    struct Step {
        TBytes command, answer;
        size_t buffer;
    };
    void play(const char* how, const TBytes& command, TBytes& output) {
        calls.push_back(std::string(how) + " " + testing_card::ToHex(command));
        if (answerAnything) {
            output = {0x90, 0x00};
            return;
        }
        if (m_script.empty()) {
            testing_card::RefuseCommand(std::string("unexpected ") + how + " " + testing_card::ToHex(command), output);
            return;
        }
        const Step s = m_script.front();
        m_script.pop_front();
        EXPECT_EQ(testing_card::ToHex(command), testing_card::ToHex(s.command)) << how;
        if (s.buffer) {
            EXPECT_EQ(output.size(), s.buffer) << "answer buffer of " << how;
        }
        output = s.answer;
    }
    std::deque<Step> m_script;
};

// An applet of test facets; `error` is the family's error facet.
struct CryApplet : libapdu::IApplet {
    CryApplet(libapdu::ISender* s, libapdu::IAppError* error, bool fips = false,
              libapdu::path user = {0x3F00, 0x11})
        : libapdu::IApplet(s) {
        setError(error);
        fs = new FakeFS;
        setFs(fs);
        setPin(new FakePin(std::move(user)));
        setInfo(new FipsInfo(fips));
        pack = new ScriptedPack;
        setPack(pack);
    }
    FakeFS* fs;
    ScriptedPack* pack;
};

// How a call ended: "ok", "int 0", or "code XXXX".
inline std::string Outcome(const std::function<void()>& call) {
    try {
        call();
    } catch (int e) {
        return "int " + std::to_string(e);
    } catch (const libapdu::IException& e) {
        char b[16];
        std::snprintf(b, sizeof b, "code %04X", e.code());
        return b;
    }
    return "ok";
}

// The Tessel token's key and certificate folders, and a file in a folder.
const libapdu::path kTesselKeyDir = {0x3F00, 0x3000, 0x3002};
const libapdu::path kTesselCertDir = {0x3F00, 0x3000, 0x3001};
inline libapdu::path At(libapdu::path dir, unsigned short fid) {
    dir.push_back(fid);
    return dir;
}

}  // namespace cry_test

#endif
