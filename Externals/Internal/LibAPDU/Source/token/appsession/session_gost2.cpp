#include "session_gost2.h"

#include <algorithm>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appsession/session_gost2");

const size_t kStartSize = 64, kFinishSize = 32, kStatusRecordSize = 32, kStatusAt = 23;
// The mode value travels as a TLV inside a one-byte Lc: tag, length, value.
const size_t kMaxModeValue = 0xFF - 2;
}  // namespace

TBytes CSessionGost2::exchange(const TBytes& command, size_t replySize) {
    TBytes reply(replySize, 0);
    m_owner->sender()->send(command, reply);
    CheckSW(m_owner, reply);
    return reply;
}

TBytes CSessionGost2::modeCommand(unsigned char mode, const TBytes& v) {
    if (v.size() > kMaxModeValue) LIBAPDU_RAISE(kSwBadArgument);
    // Sized once and filled in place: growing a vector made from a brace list draws a
    // false array-bounds warning from the optimiser.
    const unsigned char header[] = {0x80, 0xAA, 0x10, mode, static_cast<unsigned char>(v.size() + 2), 0x02,
                                    static_cast<unsigned char>(v.size())};
    TBytes command(sizeof header + v.size());
    std::copy(header, header + sizeof header, command.begin());
    std::copy(v.begin(), v.end(), command.begin() + sizeof header);
    return command;
}

void CSessionGost2::enter(const TBytes& command) {
    endSession();
    exchange(command, 2);
    m_open = true;
}

void CSessionGost2::setStrictSession(const TBytes& v) { enter(modeCommand(0x01, v)); }
void CSessionGost2::setStandartSession(const TBytes& v) { enter(modeCommand(0x02, v)); }
void CSessionGost2::setLimitedSession() { enter({0x80, 0xAA, 0x10, 0x03}); }
void CSessionGost2::setOfflineSession() { enter({0x80, 0xAA, 0x10, 0x0A}); }

void CSessionGost2::endSession() {
    if (!m_open) return;
    exchange({0x80, 0xAA, 0x20, 0x00}, 2);
    m_open = false;
}

TBytes CSessionGost2::startSetZudezoZudSM(const TBytes& v, unsigned char b) {
    if (v.size() != kStartSize) LIBAPDU_RAISE(kSwBadArgument);
    if (b > 4) LIBAPDU_RAISE(kSwBadArgument);
    TBytes command = b == 0 ? TBytes{0x80, 0x4E, 0x10, 0x04, 0x41} : TBytes{0x80, 0x4E, 0x10, 0x04, 0x42, b};
    command.push_back(0x01);
    command.insert(command.end(), v.begin(), v.end());
    command.push_back(0x00);
    const TBytes reply = exchange(command, kStartSize + 2);
    if (ResponseDataSize(reply) != kStartSize) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(kStartSize);
}

TBytes CSessionGost2::finishSetZudezoZudSM(const TBytes& v) {
    if (v.size() != kFinishSize) LIBAPDU_RAISE(kSwBadArgument);
    const TBytes reply = exchange(Join({0x80, 0x4E, 0x20, 0x00, 0x20}, v), kFinishSize + 2);
    if (ResponseDataSize(reply) != kFinishSize) LIBAPDU_RAISE(kSwBadAnswer);
    return CByteReader(reply).take(kFinishSize);
}

unsigned char CSessionGost2::getStatusSM() {
    const TBytes reply = exchange({0x80, 0x38, 0x20, 0x00, 0x00}, kStatusRecordSize + 2);
    if (ResponseDataSize(reply) != kStatusRecordSize) LIBAPDU_RAISE(kSwBadAnswer);
    return reply[kStatusAt];
}

void CSessionGost2::setStatusSM(const unsigned char& s) {
    const unsigned char value = s;
    if (value != 0 && value != 2 && value != 3) LIBAPDU_RAISE(kSwBadArgument);
    const unsigned char current = getStatusSM();
    if (current != 2 && current != 3) LIBAPDU_RAISE(kSwRefused);
    exchange({0x80, 0x4E, 0x30, 0x00, 0x01, value}, 2);
}

}  // namespace libapdu
