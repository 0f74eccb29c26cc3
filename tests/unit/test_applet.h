// A minimal applet for facet tests: one error facet and one file-system facet
// over a test transport, and a helper that reports which code a call raised.
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

// The code of the card-library error that `call` raises; -1 when it returns normally.
inline long RaisedCode(const std::function<void()>& call) {
    try {
        call();
    } catch (const libapdu::IException& e) {
        return e.code();
    }
    return -1;
}

}  // namespace testing_card

#endif
