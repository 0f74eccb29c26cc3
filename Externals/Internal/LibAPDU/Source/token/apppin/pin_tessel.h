// PIN facet of the Tessel applet, its compact TLV reader and its login tickets.
#ifndef LIBAPDU_PIN_TESSEL_H
#define LIBAPDU_PIN_TESSEL_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

// The compact TLV of the Tessel applet: one tag byte (00 and FF are no tags), one
// length byte, FF escaping a two-byte big-endian length. Returns the value of the
// first element with `tag` in data[from, to). A walk that fails (the end reached,
// a bad tag, an element running past the region) throws the plain integer 0.
// With `declared`, the element sought may claim more bytes than remain: its value
// is what is there and *declared the length it claimed.
TBytes TesselTlvFind(const TBytes& data, size_t from, size_t to, unsigned char tag, size_t* declared = nullptr);
// The element inside the value of tag 62 of a card answer (status word excluded).
TBytes TesselFcpFind(const TBytes& response, unsigned char tag);

// A login ticket: Base64 text of a check value and a record with the ticket type,
// the biometric key block and a PIN. Decoded bytes the text does not hold are zero.
struct CTesselTicket {
    static constexpr size_t kTextSize = 208;
    static constexpr size_t kRecordSize = 189;
    static constexpr size_t kCheckSize = 24;

    CTesselTicket();
    ~CTesselTicket();
    CTesselTicket(const CTesselTicket&) = delete;
    CTesselTicket& operator=(const CTesselTicket&) = delete;

    // True when `text` is a ticket: 208 bytes, a matching check value and a tag-01
    // record of 189 bytes. A malformed record behind a matching check value throws 0.
    bool parse(const TBytes& text);
    // Copies the tag-01 record without testing the check value or its length (the
    // biometric half of a login, which the PIN facet has vetted).
    void load(const TBytes& text);

    unsigned int type() const;
    TBytes keyId() const;
    TBytes key() const;                 // the two-key TDEA key of the biometric login
    bool bioPresent() const;            // keyId and key not all zero
    bool pinPresent() const;            // any of the 30 PIN characters non-zero
    // The PIN up to its first zero character, in the text encoding given.
    TBytes pin(int encoding) const;

    unsigned char record[kRecordSize];
};

class CPinTessel : public CPinCommon {
public:
    explicit CPinTessel(IApplet* owner);
    ~CPinTessel() override;

    void select(const path& p) override;
    void login(const TBytes& pin) override;
    void externalLogin(const TBytes& data) override;
    void change(const TBytes& newPin) override;
    void unblock(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    TBytes challengeGet() override;
    int encoding() override;
    void NamesInitProc() override;

    const path& selectedPath() const { return m_selectedPath; }
    unsigned short selectedReference() const { return m_selectedReference; }
    const path& pathCounter() const { return m_pathCounter; }
    // Whether the designators have been read from the card (reading them selects
    // 3F00/3000/3002 there).
    bool designatorsRead() const { return m_designatorsRead; }

    static bool isZeroes(const unsigned char* data, int count);
    static bool isZeroes(const wchar_t* data, int count);

    // New PINs are 7-bit text of at most this many bytes (the change command's
    // lengths are one byte each).
    static constexpr size_t kMaxNewPin = 250;

private:
    void challengeResponse(const TBytes& pin);
    void changeCommand(const TBytes& newPin, bool unblockFirst);
    TBytes selectCommand(const path& p) const;

    path m_selectedPath;
    unsigned short m_selectedReference = 0;
    PinInfo m_info;
    path m_pathCounter;
    bool m_designatorsRead = false;
};

}  // namespace libapdu

#endif
