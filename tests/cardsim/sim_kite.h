// Card side of the Kite applet (Kite16 and Kite32 tokens) and of its Kite4
// variant (Kite42, Kite42b): resident on the card, known by the ATR, never
// selected by AID. An ISO/IEC 7816-4 file tree under 3F00 with the applet's
// folder 3F00/6666 (3F00/6666/5000 on a FIPS token), SELECT by path with a 6F
// answer, CREATE FILE from a template, DELETE FILE by identifier, the list
// command 80 16, READ and UPDATE BINARY, GET DATA, GET CHALLENGE, challenge-
// response login with EXTERNAL AUTHENTICATE, key changes, and secure messaging
// (87/97/8E) after a login.
#ifndef CARDSIM_SIM_KITE_H
#define CARDSIM_SIM_KITE_H

#include <map>
#include <set>

#include "sim_applet.h"
#include "sim_filetree.h"
#include "sim_rsa.h"

namespace cardsim {

// ATRs of the four token models. Kite42 leaves bytes 4 and 12 free: kAtrKite42
// makes its check byte right (as a reader wants it), kAtrKite42Other is the
// same model with other free bytes.
extern const Bytes kAtrKite16, kAtrKite32, kAtrKite42, kAtrKite42Other, kAtrKite42b;

struct SimKitePin {
    Bytes value;  // what the token was personalised with (for tests), not updated by changes
    unsigned char triesLeft = 10;  // the card's own counter
    unsigned char limit = 10;
};

class SimKiteApplet : public ISimApplet {
public:
    // PIN references: user and admin; on a FIPS token user, encryption and
    // signature, and the second set a PIN change passes through.
    static constexpr unsigned char kUser = 0x01, kAdmin = 0x05;
    static constexpr unsigned char kUserFips = 0x11, kEncFips = 0x12, kSigFips = 0x13;
    static constexpr unsigned char kUser2Fips = 0x1A;
    static const Bytes kDefaultUserPin, kDefaultAdminPin;
    static const FidPath kPinFile, kPinFileFips, kMarker, kFipsMark;
    static constexpr size_t kUserRecordFips = 41, kAdminRecord = 2, kListPage = 16;

    // kite4: the Kite4 select answer carries the size under 80, create takes a 62 template.
    SimKiteApplet(bool kite4, bool fips);

    std::string name() const override { return "kite"; }
    Bytes aid() const override { return Bytes(); }
    void onSelect() override;
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;
    std::string dump() const override { return m_tree.dump(); }

    bool fips() const { return m_fips; }
    bool kite4() const { return m_kite4; }
    SimFileTree& tree() { return m_tree; }
    const SimFileTree& tree() const { return m_tree; }
    const FidPath& currentPath() const { return m_currentPath; }
    // The user reference of the token's mode.
    unsigned char userReference() const { return m_fips ? kUserFips : kUser; }

    // Personalises the user PIN (the keys of its references, the card's counter
    // full) and sets the host's retry record to limit/limit.
    void setUserPin(const Bytes& pin, unsigned char limit = 10);
    // Whether the key at the reference is the one this PIN gives it.
    bool pinIs(unsigned char reference, const Bytes& pin) const;
    SimKitePin& pin(unsigned char reference) { return m_pins[reference]; }
    bool verified(unsigned char reference) const { return m_verified.count(reference) != 0; }
    // The host's retry record for the user (or admin) PIN: tries left, limit.
    Bytes hostRecord(bool user = true) const;
    Bytes salt() const;

    // A key to decipher with, in the Kite layout: its key file 3F00/6666/6000/fid
    // (byte 0 its number), its size-table entry in 3F00/6666/1001/1001, its name
    // in the index 3F00/6666/6000/ECEC and, when der is given, its certificate
    // record under 3F00/6666/1002 with the same name.
    void addKey(uint16_t fid, unsigned char number, const std::string& name, const SimRsaKey& key, const Bytes& der);
    // The same on a FIPS token: a key object 3F00/6666/5000/0220/fid and a
    // certificate object 1xxx beside it, their descriptors in tag-length-value fields.
    void addFipsKey(uint16_t fid, const std::string& name, const SimRsaKey& key, const Bytes& der);
    size_t decipherCount = 0;

    Bytes serial;                       // GET DATA 0181, bytes 10..15
    unsigned char stateFirstByte = 0x00;  // GET DATA 0183
    size_t acknowledgements = 0;        // 80 10 00 00 received
    size_t memoryTotal = 0x10000;
    size_t protectedCount = 0;          // commands received under secure messaging
    bool corruptAnswerMac = false;      // answers under secure messaging carry a wrong MAC

private:
    Bytes doSelect(const SimApdu& a);
    Bytes doCreate(const SimApdu& a);
    Bytes doDelete(const SimApdu& a);
    Bytes doList(const SimApdu& a);
    Bytes doRead(const SimApdu& a);
    Bytes doUpdate(const SimApdu& a);
    Bytes doGetData(const SimApdu& a);
    Bytes doChallenge(const SimApdu& a);
    Bytes doAuthenticate(const SimApdu& a);
    Bytes doChangeReference(const SimApdu& a);
    Bytes doChangeKey(const SimApdu& a);
    Bytes doPutData(const SimApdu& a);
    Bytes doProtected(const SimApdu& a);
    Bytes doEnvironment(const SimApdu& a);
    Bytes doDecipher(const SimApdu& a);
    Bytes dispatch(const SimApdu& a);

    Bytes fci(const SimFile& f) const;
    SimFile& currentFolder() const;
    SimFile& currentFile() const;
    void checkAccess(unsigned char accessByte) const;
    const Bytes& keyAt(unsigned char reference) const;
    void provisionUser(const Bytes& pin);
    void putRecord(size_t offset, unsigned char left, unsigned char limit);

    bool m_kite4;
    bool m_fips;
    SimFileTree m_tree;
    FidPath m_currentPath;
    std::map<unsigned char, SimKitePin> m_pins;
    std::map<unsigned char, Bytes> m_keys;
    std::set<unsigned char> m_verified;
    Bytes m_challenge;
    unsigned char m_session = 0;  // the reference of the login that opened secure messaging
    bool m_inProtected = false;
    std::map<unsigned char, SimRsaKey> m_numberedKeys;  // Kite keys by number
    std::map<FidPath, SimRsaKey> m_objectKeys;          // FIPS key objects by folder
    SimRsaKey m_environmentKey;                         // what the security environment holds
    Bytes m_index;
    Bytes m_sizeTable;
    uint16_t m_nextRecord = 0x0001;
};

}  // namespace cardsim

#endif
