// Card side of the Gost2 applet's user PIN: PIN 02 presented in plain under
// 80 0A 10, changed under 80 0A 20 in the session that verified it, logged out
// under 80 38 10; the information record of kind 0 (80 38 20 00) carries the
// applet version and the PIN entry, one byte further on from version 7. Status
// words are the applet's 67xx codes.
//
// Files live in a tree below 3F00, driven by 80 4C with P1 naming the
// operation. The applet keeps a selection, which create and delete act on;
// select answers a 7-byte record (identifier, type, 00, access byte, size),
// list answers pages of at most 36 such records. A file's access byte frees
// reading (bit 01) and writing (bit 08) for everyone; a cleared bit asks for
// the verified user PIN. Information records of each kind come from
// 80 38 20 kind; the label is kind 1, set by 80 38 30 01. The applet also keeps
// secure-messaging parameters and session modes.
#ifndef CARDSIM_SIM_GOST2_H
#define CARDSIM_SIM_GOST2_H

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim_applet.h"
#include "sim_plain_pin.h"
#include "sim_rsa.h"

namespace cardsim {

class SimGost2Applet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 00 01 01
    static const Bytes kDefaultUserPin;
    static constexpr unsigned char kUserRef = 0x02;

    enum : uint16_t {
        kSwBadLength = 0x6700,
        kSwWrongPin = 0x6701,
        kSwPinBlocked = 0x6703,
        kSwNotVerified = 0x6705,
        kSwNoSuchPin = 0x6708,
        kSwBadPinLength = 0x670B,
        kSwNoMemory = 0x6709,
        kSwFolderNotEmpty = 0x6712,
        kSwNoSuchFile = 0x6714,
        kSwFileExists = 0x6718,
        kSwRefused = 0x6900,
        kSwBadParameter = 0x6A86,
        kSwOutside = 0x6282,
    };

    struct Node {
        uint16_t fid = 0;
        bool folder = true;
        unsigned char access = 0xB7;
        Bytes contents;  // its size is the file's size
        std::vector<std::unique_ptr<Node>> children;
        Node* parent = nullptr;
        Node* child(uint16_t id) const;
    };
    static constexpr unsigned char kReadFree = 0x01, kWriteFree = 0x08;
    static constexpr size_t kPageEntries = 36, kLabelSize = 32;

    // Session modes of 80 AA 10 (0 when none is open).
    enum : unsigned char { kNoSession = 0 };

    SimGost2Applet();

    std::string name() const override { return "gost2"; }
    Bytes aid() const override { return kAid; }
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    SimPlainPin& user() { return m_user; }
    // Version 6 or lower answers 32 record bytes, 7 or higher 33.
    void setVersion(unsigned char v) { m_version = v; }
    unsigned char version() const { return m_version; }
    // The minimum length as the record codes it: (code >> 5) + 6, so 6 to 13.
    void setMinLength(unsigned char n);
    // Record 0: kind 02, version, free memory 26 bytes before the end, the PIN
    // entry, the secure-messaging status at byte 23, the serial in the last 8.
    Bytes statusRecord() const;
    Bytes infoRecord(unsigned char kind) const;
    void setSerial(const Bytes& eight) { m_serial = eight; }

    // The tree.
    Node& root() { return m_root; }
    const Node& root() const { return m_root; }
    // The node at the path below the root (identifiers after 3F00), or null.
    const Node* find(const std::vector<uint16_t>& below) const;
    // Adds a child without the applet's commands (tests build odd folders so).
    Node& add(Node& parent, uint16_t fid, bool folder, size_t size = 0, unsigned char access = 0xBF);
    size_t freeMemory() const;
    void setFreeMemory(size_t n) { m_capacity = used() + n; }
    size_t used() const;
    // The tree as text, two spaces per level: "E00E/" for a folder,
    // "0001 (32) access BF" for a file.
    std::string dump() const override;

    Bytes label() const { return m_label; }
    void setLabel(const Bytes& l) { m_label = l; }
    unsigned char smStatus() const { return m_smStatus; }
    void setSmStatus(unsigned char s) { m_smStatus = s; }
    void setSmSupport(bool on) { m_smSupport = on; }
    unsigned char session() const { return m_session; }
    const Bytes& smParameters(unsigned char number) const { return m_smParameters.at(number); }

    // Key pairs by number (1 or 2), made by 80 1C 50 with the user PIN verified.
    // The card's own algorithms are stood in for by OpenSSL ones of the same
    // sizes: P-256 keys (public key X || Y, 64 bytes), ECDSA signatures r || s
    // (64 bytes) over the 32-byte hash as given, and for agreement SHA-512 over
    // the ECDH shared X followed by the UKM (64 bytes). Hash algorithm 1 is
    // SHA-256, 2 SHA-512, 3 SHA3-256.
    Bytes publicKey(unsigned char id) const;  // empty when there is no such key
    size_t keyCount() const { return m_keyPairs.size(); }

private:
    Bytes doVerify(SimReader& r);
    Bytes doChange(SimReader& r);
    Bytes doFiles(const SimApdu& a);
    Bytes doSelect(const SimApdu& a);
    Bytes doList(const SimApdu& a);
    Bytes doCreate(const SimApdu& a);
    Bytes doDelete();
    Bytes doRead(const SimApdu& a);
    Bytes doWrite(const SimApdu& a);
    Bytes doInfo(const SimApdu& a);
    Bytes doSession(const SimApdu& a);
    Bytes doSecureMessaging(const SimApdu& a);
    Bytes doSetSmInfo(const SimApdu& a, unsigned char type);
    Bytes doKeys(const SimApdu& a);
    Bytes doHash(const SimApdu& a);
    Bytes doSign(const SimApdu& a);
    Bytes doAgreement(const SimApdu& a);
    const SimEcKey& keyPair(unsigned char id) const;
    Bytes record(const Node& n) const;
    void needAccess(const Node& file, unsigned char bit) const;

    SimPlainPin m_user;
    unsigned char m_version = 7;
    Bytes m_serial;
    Node m_root;
    Node* m_current = &m_root;
    size_t m_pendingSize = 0;
    size_t m_capacity = 0x20000;
    Bytes m_label;
    unsigned char m_smStatus = 0;
    bool m_smSupport = true;
    unsigned char m_session = kNoSession;
    std::array<Bytes, 5> m_smParameters;  // by number 1..3 (0 and 4 unused)
    std::map<unsigned char, SimEcKey> m_keyPairs;
    std::shared_ptr<EVP_MD_CTX> m_hash;  // the hash begun by 80 3E 30, if any
    Bytes m_smChallenge;
};

}  // namespace cardsim

#endif
