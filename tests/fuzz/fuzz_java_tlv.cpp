// The Java family's escaped-length TLV lookup and the PIN information parser on
// raw bytes, both checked against a plain walk of the same list. Input: one
// byte naming a tag to look for, then the list.
#include <cstdlib>

#include "apperror/apperror.h"
#include "apppack/pack_java.h"
#include "apppin/pin_java.h"
#include "fuzz_sender.h"

namespace {

using namespace libapdu;

const wchar_t kSource[] = L"tests/fuzz/java_tlv";

// The list walked with indices: each element starts inside the data with a
// valid tag, and its length and value fit in what is left.
bool Find(const TBytes& d, unsigned char tag, TBytes& value) {
    size_t pos = 0;
    while (pos < d.size()) {
        const unsigned char t = d[pos++];
        if (t == 0x00 || t == 0xFF || pos >= d.size()) return false;
        size_t n = d[pos++];
        if (n == 0xFF) {
            if (d.size() - pos < 2) return false;
            n = (static_cast<size_t>(d[pos]) << 8) | d[pos + 1];
            pos += 2;
        }
        if (d.size() - pos < n) return false;
        if (t == tag) {
            value.assign(d.begin() + pos, d.begin() + pos + n);
            return true;
        }
        pos += n;
    }
    return false;
}

// Exposes the parser the facet runs on the data of its information answer.
struct InfoParser : CPinJava {
    using CPinJava::CPinJava;
    using CPinJavaFamily::m_info;
    using CPinJavaFamily::readInfo;
};

struct NoCard : ISender {
    void send(const TBytes&, TBytes&) override { abort(); }  // parsing alone sends nothing
    TBytes atr() override { return {}; }
};

struct ParserApplet : IApplet {
    explicit ParserApplet(ISender* s) : IApplet(s) { setError(new CErrorJava); }
};

void CheckFind(const TBytes& data, unsigned char tag) {
    TBytes expected;
    const bool found = Find(data, tag, expected);
    TBytes got;
    unsigned short code = 0;
    try {
        got = JavaTlvFind(data, tag, kSource);
    } catch (const IException& e) {
        code = e.code();
    }
    if (found ? (code != 0 || got != expected) : code != kSwBadAnswer) abort();
}

// The record the parser must leave: each counter stored as soon as its tag is
// read, the lengths untouched.
void CheckInfo(const TBytes& data) {
    NoCard card;
    ParserApplet applet(&card);
    InfoParser parser(&applet);
    parser.m_info = UnknownPinInfo();
    PinInfo expected = parser.m_info;
    const bool ok = [&] {
        TBytes v;
        if (!Find(data, 0x23, v)) return false;
        expected.triesLeft = v.empty() ? 0 : v[std::min<size_t>(v.size(), 4) - 1];
        if (!Find(data, 0x06, v)) return false;
        const unsigned char bits = v.empty() ? 0 : v[std::min<size_t>(v.size(), 4) - 1] & 0x0F;
        expected.triesMax = bits ? bits : 0x7F;
        if (!Find(data, 0x20, v)) return false;
        bool any = false;
        for (size_t i = 0; i < std::min<size_t>(v.size(), 4); ++i) any = any || v[i];
        expected.loginState = any ? 0xFF : 0x00;
        return true;
    }();
    unsigned short code = 0;
    try {
        parser.readInfo(data);
    } catch (const IException& e) {
        code = e.code();
    }
    const PinInfo& p = parser.m_info;
    if (ok ? code != 0 : code != kSwBadAnswer) abort();
    if (p.triesLeft != expected.triesLeft || p.triesMax != expected.triesMax ||
        p.loginState != expected.loginState || p.minLength != expected.minLength ||
        p.maxLength != expected.maxLength)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const unsigned char tag = in.u8();
    const TBytes list = in.take(in.remaining());
    for (unsigned char t : {tag, static_cast<unsigned char>(0x22), static_cast<unsigned char>(0x32),
                            static_cast<unsigned char>(0x23), static_cast<unsigned char>(0x06),
                            static_cast<unsigned char>(0x20), static_cast<unsigned char>(0x00),
                            static_cast<unsigned char>(0xFF)})
        CheckFind(list, t);
    CheckInfo(list);
    return 0;
}
