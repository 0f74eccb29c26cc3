// Test doubles for the information and label facets: the scripted transport,
// an in-memory file system that records the calls made on it, and small PIN and
// information fakes.
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
#include "scripted_sender.h"
#include "test_applet.h"

namespace infotest {

using namespace libapdu;

// "00 CA 01 07 00" -> bytes, and bytes -> "00 CA 01 07 00".
inline TBytes H(const std::string& hex) { return testing_card::Hex(hex); }
inline std::string Hex(const TBytes& b) { return testing_card::ToHex(b); }

using testing_card::Concat;
using testing_card::ScriptedSender;

inline std::string PathText(const path& p) {
    std::string s;
    char buf[8];
    for (size_t i = 0; i < p.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? "/%04X" : "%04X", p[i]);
        s += buf;
    }
    return s;
}

// The code of the card-library exception that f raises; 0 when it raises none.
template <class F> unsigned short RaisedCode(F&& f) { return testing_card::RaisedCodeOr<unsigned short>(0, f); }

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

// An applet with the facets a test gives it and, unless told otherwise, the
// Java error facet; the applet owns them.
struct TestApplet : testing_card::BareApplet {
    explicit TestApplet(ISender* s, IAppError* e = new CErrorJava) : BareApplet(s, e) {}
};

}  // namespace infotest

#endif
