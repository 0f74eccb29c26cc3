// Runs a call and reports the card-library error it raised, if any.
#ifndef KEYSHELF_TESTS_RAISED_H
#define KEYSHELF_TESTS_RAISED_H

#include <optional>
#include <string>

#include "libapdu.h"

struct Raised {
    unsigned short code = 0;
    std::string file;
    std::string date;
    unsigned long line = 0;
};

// The error a call raised through ExternalRaise, or nothing when it returned.
// Any other exception passes through and fails the test that made the call.
template <class F> std::optional<Raised> RaisedBy(F&& f) {
    try {
        f();
    } catch (const libapdu::CSCardException& e) {
        return Raised{e.code(), e.file(), e.date(), e.line()};
    }
    return std::nullopt;
}

// The code a call raised; 0 when it returned normally.
template <class F> unsigned short CodeOf(F&& f) {
    auto r = RaisedBy(std::forward<F>(f));
    return r ? r->code : 0;
}

inline const char kLibSrc[] = "Externals/Internal/LibAPDU/Source/";

#endif
