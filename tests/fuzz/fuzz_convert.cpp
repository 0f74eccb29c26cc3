// The conversions on arbitrary bytes and wide strings, in both encodings: a
// result or 6281, and UTF-8 round trips that give back what went in.
#include <clocale>
#include <cstdlib>

#include "fuzz_sender.h"
#include "libapdu.internal.h"

namespace {

bool Refusal(const libapdu::CSCardException& e) { return e.code() == 0x6281; }

template <class F> void Guard(F&& f) {
    try {
        f();
    } catch (const libapdu::CSCardException& e) {
        if (!Refusal(e)) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A multibyte locale makes the locale encoding do real work; the library takes
    // the process locale from the environment on its first conversion.
    setenv("LC_ALL", "C.UTF-8", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    const libapdu::TBytes bytes = in.take(in.remaining());
    // The same input read as wide characters: two bytes each, optionally past FFFF.
    std::wstring wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned v = (bytes[i] << 8) | bytes[i + 1];
        if (mode & 0x80) v |= (bytes[i] & 0x1F) << 16;
        wide.push_back(static_cast<wchar_t>(v));
    }
    const std::string text(bytes.begin(), bytes.end());

    for (unsigned char e : {2, 3}) {
        Guard([&] { libapdu::IConvert::bytes_to_string(bytes, e); });
        Guard([&] { libapdu::IConvert::bytes_to_wstring(bytes, e); });
        Guard([&] { libapdu::IConvert::string_to_bytes(text, e); });
        Guard([&] { libapdu::IConvert::wstring_to_bytes(wide, e); });
    }

    // UTF-16 to UTF-8 and back is lossless for the code units (the low 16 bits).
    Guard([&] {
        const libapdu::TBytes utf8 = libapdu::IConvert::wstring_to_bytes(wide, 3);
        std::wstring units;
        for (wchar_t c : wide) {
            if (c == 0) break;
            units.push_back(static_cast<wchar_t>(static_cast<unsigned>(c) & 0xFFFF));
        }
        if (libapdu::IConvert::bytes_to_wstring(utf8, 3) != units) abort();
    });
    // And UTF-8 that decodes encodes back to the same bytes.
    Guard([&] {
        const std::wstring w = libapdu::IConv::utf82wchar(text);
        if (libapdu::IConv::wchar2utf8(w) != text) abort();
    });
    return 0;
}
