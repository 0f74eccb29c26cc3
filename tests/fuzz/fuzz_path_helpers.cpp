// The whole-path helpers over a file system whose every answer comes from the
// fuzz input: selections that fail at random, descriptions and listings of any
// shape, PIN designators of any length.
#include <cstdlib>

#include "fuzz_sender.h"
#include "libapdu.internal.h"

namespace {

// Each operation draws a status word and hands it to the common table, so it
// either succeeds or fails the way a card error would.
class FuzzedFS : public libapdu::IAppFS {
public:
    explicit FuzzedFS(FuzzInput& in) : m_in(in) {}

    void select(libapdu::path p) override {
        if (p.size() > m_deepest) m_deepest = p.size();
        status();
    }
    void create(unsigned short, libapdu::CFileInfo) override { status(); }
    void remove() override { status(); }
    libapdu::CFileInfo info() override {
        status();
        const uint8_t type = m_in.u8() % 3;
        const uint16_t size = m_in.be16();
        const uint8_t r = m_in.u8();
        return libapdu::CFileInfo(type, size, r, m_in.u8());
    }
    std::vector<unsigned short> list(unsigned char) override {
        status();
        std::vector<unsigned short> ids(m_in.u8() % 8);
        for (auto& id : ids) id = m_in.be16();
        return ids;
    }
    void read(libapdu::TBytes& buffer, unsigned short offset) override {
        status();
        if (offset > buffer.size()) abort();
        const libapdu::TBytes got = m_in.take(buffer.size() - offset);
        std::copy(got.begin(), got.end(), buffer.begin() + offset);
    }
    void write(const libapdu::TBytes&, unsigned short) override { status(); }

    size_t deepest() const { return m_deepest; }

private:
    void status() {
        // Exhausted input reads as 0000, which fails: every walk comes to an end.
        libapdu::IAppError().raiseSW(m_in.be16());
    }
    FuzzInput& m_in;
    size_t m_deepest = 0;
};

class FuzzedPin : public libapdu::IAppPin {
public:
    explicit FuzzedPin(FuzzInput& in) {
        m_user.resize(in.u8() % 4);
        for (auto& id : m_user) id = in.be16();
    }
    const libapdu::path& pathUser() override { return m_user; }

private:
    libapdu::path m_user;
};

libapdu::path DrawPath(FuzzInput& in) {
    libapdu::path p(in.u8() % 6);
    for (auto& id : p) id = in.be16();
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FuzzedFS fs(in);
    FuzzedPin pin(in);
    libapdu::CAdapter a;
    a.fs = &fs;
    a.pin = &pin;

    const uint8_t op = in.u8();
    try {
        switch (op % 6) {
            case 0: libapdu::FileCreatePath(a, DrawPath(in), libapdu::CFileInfo(2, 0, 0, 0)); break;
            case 1: {
                libapdu::path p = DrawPath(in);
                libapdu::FileCreateAndWrite(a, p, libapdu::FileMakeFileInfo(a, in.be16(), in.u8() & 1),
                                            in.take(in.u8()));
                break;
            }
            case 2: libapdu::FileDeletePath(a, DrawPath(in)); break;
            case 3: {
                const libapdu::TBytes content = libapdu::FileRead(a);
                (void)content;
                break;
            }
            case 4: libapdu::FileMakeDirInfo(a); break;
            default: libapdu::PinExtractAccess(DrawPath(in)); break;
        }
    } catch (const libapdu::CSCardException&) {
        // Card errors are the expected way out.
    }
    if (fs.deepest() > 70) abort();  // recursion must stay bounded whatever the listings say
    return 0;
}
