// The failures a facet is designed to raise over a hostile card: the library's
// exceptions, the plain 0 the BER-TLV reader throws, and the TLV writer's length
// refusal. Anything else escaping a call (another exception, another integer)
// is a fault, and the fuzzer reports it as a crash.
#ifndef KEYSHELF_FUZZ_GUARD_H
#define KEYSHELF_FUZZ_GUARD_H

#include <cstdlib>
#include <stdexcept>

#include "libapdu.h"

template <class Call> bool Designed(Call&& call) {
    try {
        call();
        return true;
    } catch (const libapdu::IException&) {
    } catch (int e) {
        if (e != 0) abort();
    } catch (const std::runtime_error&) {
    }
    return false;
}

#endif
