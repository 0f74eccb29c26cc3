// The base of every family's PIN facet: the owner applet, the standard PIN
// designators filled once on first use, and the helpers each family builds its
// commands and judges its answers with.
#ifndef LIBAPDU_PIN_COMMON_H
#define LIBAPDU_PIN_COMMON_H

#include <functional>

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// loginState values of PinInfo.
enum : unsigned short {
    kLoginNotVerified = 0x00,
    kLoginUnknown = 0x10,
    kLoginVerified = 0xFF,
};
// triesLeft / triesMax when the card has not told.
const unsigned char kTriesUnknown = 0xFF;

// PIN text encodings (the codes of IConvert::wstring_to_bytes).
enum : int {
    kPinEncodingLocale = 2,
    kPinEncodingUtf8 = 3,
};

// The record a status family holds before the card has told anything.
PinInfo UnknownPinInfo();

// Builder of a short command APDU: header, one-byte Lc, data, optional Le 00.
// The data field never grows past what one Lc byte can say: a field that would
// overflow it (a PIN too long for its length byte) raises 6B00 at once, so
// nothing is sent.
class CPinCommand {
public:
    static constexpr size_t kMaxData = 0xFF;

    CPinCommand(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2);
    CPinCommand(const CPinCommand&) = delete;
    CPinCommand& operator=(const CPinCommand&) = delete;

    CPinCommand& byte(unsigned char b);
    // Appends the field's length as one byte; 6B00 when it does not fit one.
    CPinCommand& lengthOf(const TBytes& field);
    CPinCommand& bytes(const TBytes& field);

    // The complete APDU; with expectAnswer an Le of 00 follows the data.
    TBytes build(bool expectAnswer = false) const;

private:
    void room(size_t n) const;

    unsigned char m_header[4];
    TBytes m_data;
};

class CPinCommon : public IAppPin, public IAPDUDefinitions {
public:
    explicit CPinCommon(IApplet* owner);
    ~CPinCommon() override;
    CPinCommon(const CPinCommon&) = delete;
    CPinCommon& operator=(const CPinCommon&) = delete;

    const path& pathUser() override;
    const path& pathAdmin() override;
    const path& pathGlobal() override;

    // Appends the family's values to the designators. Runs from NamesInit; a
    // family that reads the card here may raise, and the fill is tried again
    // on the next call. Families with further designators empty those first.
    virtual void NamesInitProc();

    // Fills the designators once. The ready flag is set only after a fill
    // succeeded: a failed one leaves the standard designators empty and raises,
    // so no caller ever mistakes a half-read designator for a free-access one.
    void NamesInit();

protected:
    IApplet* owner() const { return m_owner; }

    // Sends one command on the owner's transport. The answer buffer starts
    // zero-filled with the capacity expected, so a transport that fails
    // silently leaves status word 0000 behind.
    TBytes transmit(const TBytes& command, size_t capacity = 2);
    // The answer's status word as the owner's error facet reads it.
    unsigned short statusOf(const TBytes& response);
    // Success returns; any other word raises through the owner's error facet.
    void judge(unsigned short sw);
    // transmit, then judge; returns the answer's data, status word removed.
    TBytes exchange(const TBytes& command, size_t capacity = 2);
    // Empties the owner's key slots and the copy of them a PIN change set aside
    // (FACE when the applet has no pack facet).
    void clearKeySlots();
    // Sends a PIN verification and keeps `status` in step with the card's try
    // counter: the attempt costs one try (never below zero) before a refusal is
    // raised. Once the card accepted, `accepted` (when given) runs, then every try
    // is restored and the PIN is marked verified.
    void verify(const TBytes& command, PinInfo& status, const std::function<void()>& accepted = nullptr);

    path m_pathUser;
    path m_pathAdmin;
    path m_pathGlobal;

private:
    IApplet* m_owner;
    bool m_namesReady = false;
    bool m_namesFilling = false;  // a fill that asks for a designator gets them as they stand
};

}  // namespace libapdu

#endif
