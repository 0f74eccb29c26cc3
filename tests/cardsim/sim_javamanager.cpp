#include "sim_javamanager.h"

#include "sim_java.h"

namespace cardsim {

const Bytes SimJavaManagerApplet::kAid = {0xA0, 0x00, 0x00, 0x01, 0x51, 0x00, 0x00};

namespace {
const size_t kCplcSize = 42;
const size_t kChipIdAt = 0;        // answer byte 3
const size_t kReleaseLevelAt = 8;  // answer bytes 11 and 12
}  // namespace

SimJavaManagerApplet::SimJavaManagerApplet() : m_cplc(kCplcSize, 0) {
    // A chip identification that no refusal rule names, and version 7.
    setChipId(Bytes{0x47, 0x90, 0x51, 0x67, 0x47, 0x91});
    m_cplc[6] = 0x20;  // OS release date
    m_cplc[7] = 0x26;
    setVersion(0x07);
    for (size_t i = 12; i < 16; ++i) m_cplc[i] = static_cast<unsigned char>(0x10 + i);  // IC serial number
    m_obj46 = {0x4B, 0x53, 0x49, 0x4D};
    m_obj01 = {0x01, 0x02, 0x03, 0x04};
}

void SimJavaManagerApplet::setChipId(const Bytes& six) {
    for (size_t i = 0; i < 6 && i < six.size(); ++i) m_cplc[kChipIdAt + i] = six[i];
}

Bytes SimJavaManagerApplet::chipId() const {
    return Bytes(m_cplc.begin() + kChipIdAt, m_cplc.begin() + kChipIdAt + 6);
}

void SimJavaManagerApplet::setVersion(unsigned char version, unsigned char high) {
    m_cplc[kReleaseLevelAt] = high;
    m_cplc[kReleaseLevelAt + 1] = version;
}

Bytes SimJavaManagerApplet::process(const SimApdu& a) {
    // Card managers take GET DATA with the ISO or the proprietary class.
    if (a.ins != 0xCA) Fail(kSwInsNotSupported);
    if (a.cla != 0x00 && a.cla != 0x80) Fail(kSwClaNotSupported);
    Bytes reply;
    const uint16_t tag = static_cast<uint16_t>((a.p1 << 8) | a.p2);
    if (tag == 0x9F7F) {
        reply = {0x9F, 0x7F, static_cast<unsigned char>(m_cplc.size())};
        reply.insert(reply.end(), m_cplc.begin(), m_cplc.end());
    } else if (tag == 0x0046) {
        SimJavaTlv::put(reply, 0x46, m_obj46);
    } else if (tag == 0x0001) {
        SimJavaTlv::put(reply, 0x01, m_obj01);
    } else {
        Fail(kSwDataNotFound);
    }
    if (a.hasLe && a.le < reply.size()) Fail(static_cast<uint16_t>(0x6C00 | reply.size()));
    return Respond(reply);
}

}  // namespace cardsim
