// Minimal applets for facet tests: one with an error facet and a file-system
// facet over a test transport, one bare applet the test fills itself, and a
// helper that reports which code a call raised.
#ifndef TEST_TEST_APPLET_H
#define TEST_TEST_APPLET_H

#include <functional>

#include "libapdu.h"

namespace testing_card {

template <class FS, class Error> struct TestApplet : libapdu::IApplet {
    explicit TestApplet(libapdu::ISender* s) : libapdu::IApplet(s) {
        setError(new Error);
        setFs(new FS(this));
    }
    FS& fsImpl() { return *static_cast<FS*>(fs()); }
};

// An applet with only the facets the test installs; `error`, when given, is its
// error facet. The applet owns every facet handed to it.
struct BareApplet : libapdu::IApplet {
    explicit BareApplet(libapdu::ISender* s, libapdu::IAppError* error = nullptr) : libapdu::IApplet(s) {
        if (error) setError(error);
    }
};

// The code of the card-library error that `call` raises; `none` when it returns normally.
template <class Code> Code RaisedCodeOr(Code none, const std::function<void()>& call) {
    try {
        call();
    } catch (const libapdu::IException& e) {
        return static_cast<Code>(e.code());
    }
    return none;
}

// The code of the card-library error that `call` raises; -1 when it returns normally.
inline long RaisedCode(const std::function<void()>& call) { return RaisedCodeOr<long>(-1, call); }

}  // namespace testing_card

#endif
