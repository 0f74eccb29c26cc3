// Text and byte conversions: locale multibyte, UTF-8 and UTF-16 code units.
#include "libapdu.internal.h"

#include <utf8.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cwchar>
#include <mutex>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t* const kSource = kInternalSource;
std::once_flag g_localeOnce;
}  // namespace

bool IConv::isInit = false;

void IConv::init() {
    // Once per process and safe when two threads convert for the first time together.
    // The flag is read only under the once-guard, so a host that set it beforehand
    // keeps its own locale and no thread reads it while another writes it.
    std::call_once(g_localeOnce, [] {
        if (!isInit) setlocale(LC_ALL, "");
        isInit = true;
    });
}

TBytes IConv::str2bytes(std::string s) { return TBytes(s.begin(), s.end()); }

std::string IConv::bytes2str(TBytes b) { return std::string(b.begin(), b.end()); }

std::wstring IConv::char2wchar(const std::string& s) {
    init();
    std::wstring out;
    out.reserve(s.size());
    for (char c : s) {
        // Each byte on its own, as the card encodings are single-byte where this is used;
        // a local state keeps threads from sharing the C library's hidden one.
        std::mbstate_t state{};
        wchar_t wc = 0;
        size_t r = std::mbrtowc(&wc, &c, 1, &state);
        if (r == static_cast<size_t>(-1) || r == static_cast<size_t>(-2)) LIBAPDU_RAISE(kSwBadAnswer);
        out.push_back(wc);
    }
    return out;
}

namespace {
// Wide text to bytes, written straight into `out`, with every intermediate wiped on
// every path: PINs take this road.
void EncodeLocale(const std::wstring& w, TBytes& out) {
    IConv::init();
    out.reserve(w.size() * MB_LEN_MAX);
    char buf[MB_LEN_MAX];
    bool failed = false;
    for (wchar_t wc : w) {
        std::mbstate_t state{};
        const size_t r = std::wcrtomb(buf, wc, &state);
        if (r == static_cast<size_t>(-1) || r > sizeof buf) {
            failed = true;
            break;
        }
        out.insert(out.end(), buf, buf + r);
    }
    SecureWipe(buf, sizeof buf);
    if (failed) LIBAPDU_RAISE(kSwBadAnswer);
}

void EncodeUtf8(const std::wstring& w, TBytes& out) {
    std::vector<char16_t, CWipingAllocator<char16_t>> units;
    units.reserve(w.size());
    for (wchar_t wc : w) units.push_back(static_cast<char16_t>(static_cast<unsigned int>(wc) & 0xFFFF));
    // At most three bytes per code unit (a pair of units gives four).
    out.reserve(w.size() * 3);
    bool failed = false;
    try {
        utf8::utf16to8(units.begin(), units.end(), std::back_inserter(out));
    } catch (const utf8::exception&) {
        failed = true;
    }
    if (failed) LIBAPDU_RAISE(kSwBadAnswer);
}
}  // namespace

std::string IConv::wchar2char(const std::wstring& w) {
    TBytes b;
    EncodeLocale(w, b);
    return std::string(b.begin(), b.end());
}

std::string IConv::wchar2utf8(const std::wstring& w) {
    TBytes b;
    EncodeUtf8(w, b);
    return std::string(b.begin(), b.end());
}

std::wstring IConv::utf82wchar(const std::string& s) {
    std::wstring out;
    try {
        auto it = s.begin();
        while (it != s.end()) {
            uint32_t cp = utf8::next(it, s.end());
            if (cp > 0xFFFF) {
                cp -= 0x10000;
                out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
                out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                out.push_back(static_cast<wchar_t>(cp));
            }
        }
    } catch (const utf8::exception&) {
        LIBAPDU_RAISE(kSwBadAnswer);
    }
    return out;
}

namespace {
enum : unsigned char { kLocale = 2, kUtf8 = 3 };

void CheckEncoding(unsigned char e) {
    if (e != kLocale && e != kUtf8) LIBAPDU_RAISE(kErrNotSupported);
}

template <class S> S UpToNul(const S& s) {
    size_t pos = s.find(typename S::value_type(0));
    return pos == S::npos ? s : s.substr(0, pos);
}
}  // namespace

TBytes IConvert::string_to_bytes(const std::string& s, unsigned char e) {
    CheckEncoding(e);
    if (e == kLocale) return IConv::str2bytes(s);
    return IConv::str2bytes(IConv::wchar2utf8(IConv::char2wchar(s)));
}

TBytes IConvert::wstring_to_bytes(const std::wstring& w, unsigned char e) {
    CheckEncoding(e);
    TBytes out;
    if (e == kLocale)
        EncodeLocale(w, out);
    else
        EncodeUtf8(w, out);
    return out;
}

std::string IConvert::bytes_to_string(const TBytes& b, unsigned char e) {
    CheckEncoding(e);
    if (e == kLocale) return UpToNul(IConv::bytes2str(b));
    return UpToNul(IConv::wchar2char(IConv::utf82wchar(IConv::bytes2str(b))));
}

std::wstring IConvert::bytes_to_wstring(const TBytes& b, unsigned char e) {
    CheckEncoding(e);
    if (e == kLocale) return UpToNul(IConv::char2wchar(IConv::bytes2str(b)));
    return UpToNul(IConv::utf82wchar(IConv::bytes2str(b)));
}

}  // namespace libapdu
