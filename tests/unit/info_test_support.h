// Test doubles for the information and label facets: a scripted transport that
// checks every command byte for byte, an in-memory file system that records the
// calls made on it, and small PIN and information fakes.
#ifndef INFO_TEST_SUPPORT_H
#define INFO_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "apperror/apperror.h"
#include "libapdu.internal.h"

namespace infotest {

using namespace libapdu;

// "00 CA 01 07 00" -> bytes.
inline TBytes H(const std::string& hex) {
    TBytes out;
    int nibbles = 0;
    unsigned char cur = 0;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else continue;
        cur = static_cast<unsigned char>((cur << 4) | v);
        if (++nibbles == 2) {
            out.push_back(cur);
            nibbles = 0;
            cur = 0;
        }
    }
    return out;
}

inline std::string Hex(const TBytes& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

inline std::string PathText(const path& p) {
    std::string s;
    char buf[8];
    for (size_t i = 0; i < p.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? "/%04X" : "%04X", p[i]);
        s += buf;
    }
    return s;
}

inline TBytes Concat(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The code of the card-library exception that f raises; 0 when it raises none.
template <class F> unsigned short RaisedCode(F&& f) {
    try {
        f();
    } catch (const IException& e) {
        return e.code();
    }
    return 0;
}

// The source file named by the exception that f raises; empty when it raises none.
template <class F> std::string RaisedSource(F&& f) {
    try {
        f();
    } catch (const CSCardException& e) {
        return e.file();
    }
    return std::string();
}

inline void RaiseForTest(unsigned short code) { ExternalRaise(code, L"tests/unit/info_test_support", 0); }

// A transport that plays a script: each command must be the next expected one,
// byte for byte, handed over with a reply buffer of the expected size (0: not
// checked). The reply buffer is then replaced by the scripted answer.
class ScriptedSender : public ISender {
public:
    enum class Control { Scripted, DoesNothing, NotSupported };

    struct Step {
        TBytes command;
        TBytes answer;
        size_t buffer;
        size_t length;  // non-zero: only the first command.size() bytes are compared, and the length
    };
    struct ControlStep {
        unsigned int code;
        TBytes in;
        TBytes out;
    };

    void expect(const TBytes& command, const TBytes& answer, size_t buffer = 0) {
        m_steps.push_back({command, answer, buffer, 0});
    }
    // For commands that carry random bytes: checks the fixed start and the whole length.
    void expectPrefix(const TBytes& prefix, size_t length, const TBytes& answer, size_t buffer = 0) {
        m_steps.push_back({prefix, answer, buffer, length});
    }
    void expectControl(unsigned int code, const TBytes& in, const TBytes& out) {
        m_controls.push_back({code, in, out});
    }

    void send(const TBytes& command, TBytes& response) override {
        sent.push_back(command);
        if (m_steps.empty()) {
            ADD_FAILURE() << "unexpected command " << Hex(command);
            response = H("6F 00");
            return;
        }
        Step s = m_steps.front();
        m_steps.pop_front();
        if (s.length) {
            EXPECT_EQ(command.size(), s.length);
            EXPECT_EQ(Hex(TBytes(command.begin(), command.begin() + std::min(command.size(), s.command.size()))),
                      Hex(s.command));
        } else {
            EXPECT_EQ(Hex(command), Hex(s.command));
        }
        if (s.buffer) {
            EXPECT_EQ(response.size(), s.buffer) << "reply buffer for " << Hex(command);
        }
        response = s.answer;
    }

    TBytes atr() override { return TBytes(); }

    void control(unsigned int code, const TBytes& in, TBytes& out) override {
        controlOutSizes.push_back(out.size());
        if (controlMode == Control::NotSupported) {
            ISender::control(code, in, out);
            return;
        }
        if (controlMode == Control::DoesNothing) return;
        if (m_controls.empty()) {
            ADD_FAILURE() << "unexpected control " << Hex(in);
            return;
        }
        ControlStep s = m_controls.front();
        m_controls.pop_front();
        EXPECT_EQ(code, s.code);
        EXPECT_EQ(Hex(in), Hex(s.in));
        out = s.out;
    }

    bool done() const { return m_steps.empty() && m_controls.empty(); }

    Control controlMode = Control::Scripted;
    std::vector<TBytes> sent;
    std::vector<size_t> controlOutSizes;  // size of each output buffer as handed to control

private:
    std::deque<Step> m_steps;
    std::deque<ControlStep> m_controls;
};

// A file system held in memory. Paths are taken literally (no relative
// resolution). Missing paths raise 6A82 on select; every call is recorded.
class FakeFS : public IAppFS {
public:
    std::map<path, TBytes> files;
    std::set<path> dirs = {path()};  // the empty path selects the application directory
    std::map<path, unsigned short> failWrite;  // path -> code raised by write
    std::map<path, unsigned short> failSelect;  // path -> code raised by select
    unsigned short failRemove = 0;
    std::vector<std::string> calls;
    path current;

    void select(path p) override {
        calls.push_back("select " + PathText(p));
        auto f = failSelect.find(p);
        if (f != failSelect.end()) RaiseForTest(f->second);
        if (!files.count(p) && !dirs.count(p)) RaiseForTest(0x6A82);
        current = p;
    }
    CFileInfo info() override {
        calls.push_back("info");
        auto f = files.find(current);
        if (f != files.end()) return CFileInfo(1, static_cast<unsigned short>(f->second.size()), 0, 0);
        return CFileInfo(2, 0, 0, 0);
    }
    void create(unsigned short fid, CFileInfo i) override {
        char buf[64];
        std::snprintf(buf, sizeof buf, "create %04X type %u size %u access %02X %02X", fid, i.type, i.size,
                      i.readAccess, i.writeAccess);
        calls.push_back(buf);
        path p = current;
        p.push_back(fid);
        if (files.count(p) || dirs.count(p)) RaiseForTest(0x6A89);
        if (i.type == 2) dirs.insert(p);
        else files[p] = TBytes(i.size, 0);
    }
    void remove() override {
        calls.push_back("remove");
        if (failRemove) RaiseForTest(failRemove);
        files.erase(current);
        dirs.erase(current);
    }
    void read(TBytes& b, unsigned short offset) override {
        calls.push_back("read " + std::to_string(b.size()) + "@" + std::to_string(offset));
        auto f = files.find(current);
        if (f == files.end()) RaiseForTest(0x6981);
        if (offset + b.size() > f->second.size()) RaiseForTest(0x6B00);
        std::copy(f->second.begin() + offset, f->second.begin() + offset + static_cast<long>(b.size()), b.begin());
    }
    void write(const TBytes& d, unsigned short offset) override {
        calls.push_back("write " + std::to_string(d.size()) + "@" + std::to_string(offset));
        auto w = failWrite.find(current);
        if (w != failWrite.end()) RaiseForTest(w->second);
        auto f = files.find(current);
        if (f == files.end()) RaiseForTest(0x6981);
        if (f->second.size() < offset + d.size()) f->second.resize(offset + d.size());
        std::copy(d.begin(), d.end(), f->second.begin() + offset);
    }

    bool called(const std::string& call) const {
        for (const std::string& c : calls)
            if (c == call) return true;
        return false;
    }
};

// The user PIN designator ends in reference 11, so created files carry access 11.
class FakePin : public IAppPin {
public:
    const path& pathUser() override { return m_user; }

private:
    path m_user = {0x3F00, 0x0011};
};

class FakeInfo : public IAppInfo {
public:
    explicit FakeInfo(bool fips) : fips(fips) {}
    bool isFips() override {
        ++asked;
        return fips;
    }
    bool fips;
    int asked = 0;
};

// An applet with the facets a test gives it; the applet owns them.
struct TestApplet : IApplet {
    explicit TestApplet(ISender* s, IAppError* e = new CErrorJava) : IApplet(s) { setError(e); }
};

}  // namespace infotest

#endif
