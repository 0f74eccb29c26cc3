// Card side of the Java applet: a file tree under 3F00 with the applet's own
// folder 3F00/6666/5000, the proprietary class-80 file commands whose
// parameters travel as a short TLV list, the change marker, GET DATA of the
// token information objects and GET CHALLENGE. The Heron applet speaks the
// same protocol with other class and instruction bytes (sim_heron.h), so the
// model takes its command set as a table.
#ifndef CARDSIM_SIM_JAVA_H
#define CARDSIM_SIM_JAVA_H

#include <map>
#include <memory>
#include <set>

#include "sim_applet.h"
#include "sim_filetree.h"
#include "sim_rsa.h"

namespace cardsim {

// TLV of these applets: tag 01..FE (00 and FF are no tags), length one byte or
// FF followed by two bytes big-endian, then the value.
struct SimJavaTlv {
    // False on a bad tag or a value that runs past the data. A repeated tag keeps its first value.
    static bool parse(const Bytes& data, std::map<unsigned char, Bytes>& out);
    static void put(Bytes& out, unsigned char tag, const Bytes& value);
};

// Class and instruction bytes of one family (a CLA of 00 with the INS of ISO).
struct SimJavaCommandSet {
    const char* name;
    Bytes aid;
    unsigned char selectCla, selectIns;
    unsigned char listCla, listIns;
    unsigned char createCla, createIns;
    unsigned char resizeCla, resizeIns;
    unsigned char removeCla, removeIns;
    unsigned char readCla, readIns;
    unsigned char writeCla, writeIns;
    unsigned char markerCla, markerIns;
    unsigned char getDataCla, getDataIns;
    unsigned char challengeCla, challengeIns;
    // Key commands, class 80: decipher with the selected key object's key, and
    // read its public data (0: the applet has no such command).
    unsigned char decipherIns, keyDataIns;
};
extern const SimJavaCommandSet kSimJavaCommands;

// Instruction bytes of the PIN commands (class 80; protected under class 84).
struct SimJavaPinCommandSet {
    unsigned char infoIns, loginIns, changeKeyIns;
    unsigned char unblockIns;  // 0: the applet has no unblock
    bool adminKeyFromPin;      // the admin PIN's key is derived from the PIN alone
};
extern const SimJavaPinCommandSet kSimJavaPinCommands;

// One PIN as the card keeps it. The PIN itself never reaches the card: the card
// holds the login key at the PIN's reference (and, on a FIPS token, the four
// secure-messaging keys at the references after it).
struct SimJavaPin {
    Bytes value;  // what the token was personalised with (for tests), not updated by changes
    unsigned char triesLeft = 10;
    unsigned char limit = 10;
    unsigned char minLength = 4;
    unsigned char maxLength = 16;
    bool verified = false;
};

// The token information that GET DATA answers.
struct SimJavaInfo {
    Bytes serial;             // object 07, sub-object 01
    Bytes manufacturingDate;  // object 07, sub-object 04
    Bytes colour;             // object 07, sub-object 05
    Bytes version;            // object 11
    uint32_t memoryTotal = 0x8000;  // object 13; object 14 is what the files leave of it
};

class SimJavaApplet : public ISimApplet {
public:
    static const FidPath kAppFolder;  // 3F00 6666 5000
    static const FidPath kObjectFolder;  // 3F00 6666 5000 0220: key and certificate objects
    // P2 of the key commands: the key of the selected object folder.
    static constexpr unsigned char kSelectedKey = 0x31;
    static constexpr size_t kListPage = 100;
    static constexpr size_t kMaxChallenge = 32;

    // Seeds the tree with the applet folder, the FIPS file 000A (not FIPS) and
    // the label file 0002.
    explicit SimJavaApplet(const SimJavaCommandSet& commands = kSimJavaCommands,
                           const SimJavaPinCommandSet& pins = kSimJavaPinCommands);

    // PIN references: user, admin, the FIPS second user PIN.
    static constexpr unsigned char kUserPin = 0x11, kAdminPin = 0x21, kUser2Pin = 0x1A;
    static const Bytes kDefaultUserPin, kDefaultAdminPin;
    // The salt of the key derivation: 3F00/6666/5000/000F.
    Bytes salt() const;
    // Personalises a PIN: its keys derived as the token's mode wants them, its
    // counter full, not verified.
    void setPin(unsigned char reference, const Bytes& pin);
    const SimJavaPin* pin(unsigned char reference) const;
    SimJavaPin* pin(unsigned char reference);
    // Whether the keys at the reference are those of this PIN.
    bool pinIs(unsigned char reference, const Bytes& pin) const;
    // The reference whose login opened the secure-messaging session; 0 for none.
    unsigned char session() const { return m_session; }
    size_t protectedCount() const { return m_protectedCount; }

    std::string name() const override { return m_cmds.name; }
    Bytes aid() const override { return m_cmds.aid; }
    void onSelect() override;
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    const SimJavaCommandSet& commands() const { return m_cmds; }
    SimFileTree& tree() { return m_tree; }
    const SimFileTree& tree() const { return m_tree; }
    // Absolute path of the selected file (3F00 first); empty when none is.
    const FidPath& currentPath() const { return m_currentPath; }
    SimFile* current() const;

    SimJavaInfo& info() { return m_info; }
    void setFips(bool on);  // the second byte of 3F00/6666/5000/000A
    void setLabel(const Bytes& label);
    size_t memoryFree() const;

    // Change markers received (80 1B on Java, 80 1D on Heron).
    const Bytes& lastMarker() const { return m_lastMarker; }
    size_t markerCount() const { return m_markerCount; }

    // A certificate object (folder 1xxx: descriptor 0001, DER 0002) and a key
    // object (folder 3xxx: descriptor 0001, the private key kept by the card).
    void addCertificateObject(uint16_t fid, const Bytes& descriptor, const Bytes& der);
    void addKeyObject(uint16_t fid, const Bytes& descriptor, const SimRsaKey& key);
    size_t decipherCount() const { return m_decipherCount; }

    // Access conditions: off by default, so file tests need no PIN. When on, an
    // access byte other than 00 needs that PIN reference granted (FF never).
    void setAccessEnforced(bool on) { m_enforce = on; }
    void grant(unsigned char pinReference) { m_granted.insert(pinReference); }
    void revokeAll() { m_granted.clear(); }

private:
    typedef Bytes (SimJavaApplet::*Handler)(const SimApdu&);
    struct Route {
        unsigned char cla, ins;
        Handler fn;
    };

    Bytes doSelect(const SimApdu& a);
    Bytes doList(const SimApdu& a);
    Bytes doCreate(const SimApdu& a);
    Bytes doResize(const SimApdu& a);
    Bytes doRemove(const SimApdu& a);
    Bytes doRead(const SimApdu& a);
    Bytes doWrite(const SimApdu& a);
    Bytes doMarker(const SimApdu& a);
    Bytes doGetData(const SimApdu& a);
    Bytes doChallenge(const SimApdu& a);
    Bytes doPinInfo(const SimApdu& a);
    Bytes doLogin(const SimApdu& a);
    Bytes doChangeKey(const SimApdu& a);
    Bytes doUnblock(const SimApdu& a);
    Bytes doProtected(const SimApdu& a);
    Bytes doKeyInfo(const SimApdu& a);
    Bytes doKeyData(const SimApdu& a);
    Bytes doDecipher(const SimApdu& a);
    const SimRsaKey& selectedKey() const;
    Bytes dispatch(const SimApdu& a);
    void provision(unsigned char reference);
    const Bytes& keyAt(unsigned char reference) const;
    static Bytes keyData(const SimApdu& a);

    SimFile& currentFolder() const;
    SimFile& currentFile() const;
    void checkAccess(unsigned char accessByte) const;
    static std::map<unsigned char, Bytes> params(const SimApdu& a);

    SimJavaCommandSet m_cmds;
    SimJavaPinCommandSet m_pinCmds;
    bool m_fips = false;
    std::map<unsigned char, SimJavaPin> m_pins;
    std::map<unsigned char, Bytes> m_keys;  // key references: 24-byte TDEA keys
    Bytes m_loginChallenge;                 // each challenge answers one command
    Bytes m_smChallenge;
    unsigned char m_session = 0;
    bool m_inProtected = false;
    size_t m_protectedCount = 0;
    std::vector<Route> m_routes;
    SimFileTree m_tree;
    FidPath m_currentPath;
    SimJavaInfo m_info;
    Bytes m_lastMarker;
    size_t m_markerCount = 0;
    bool m_enforce = false;
    std::set<unsigned char> m_granted;
    std::map<FidPath, SimRsaKey> m_objectKeys;  // by the key object's folder
    size_t m_decipherCount = 0;
};

}  // namespace cardsim

#endif
