// Card side of the Tessel applet: an ISO file tree with file-control templates
// (62 {83, 87, 80, 86, 84}), the container 3F00/3000/3002/5000 of named
// directories, PIN objects [3F00, ref] with their attributes (85), the
// challenge-response and plain PIN checks, a Diffie-Hellman secure-messaging
// peer for protected commands, fingerprints with enrolment and match-on-card,
// and ticket keys for the biometric half of a login ticket. Answers longer than
// the terminal takes are fetched with GET RESPONSE.
#ifndef CARDSIM_SIM_TESSEL_H
#define CARDSIM_SIM_TESSEL_H

#include <map>
#include <memory>

#include "sim_applet.h"
#include "sim_rsa.h"

namespace cardsim {

struct SimTesselNode {
    uint16_t fid = 0;
    unsigned char fdb = 0;  // 38 directory, 01 transparent file, 08 the third kind
    Bytes name;             // tag 84; empty for none
    Bytes access;           // tag 86 as created
    Bytes extra;            // further elements of the creation template (85, A3, 71 ...)
    Bytes content;
    SimTesselNode* parent = nullptr;
    std::vector<std::unique_ptr<SimTesselNode>> children;

    bool directory() const { return fdb == 0x38; }
    SimTesselNode* child(uint16_t id) const;
};

struct SimTesselPin {
    Bytes value;
    unsigned char kind = 0x01;  // byte 2 of the 85 value: 00/01 own counter, 0F counter object 0020
    unsigned char triesLeft = 10;
    unsigned char limit = 10;
    bool verified = false;
};

struct SimTesselFinger {
    Bytes first;   // matched on card
    Bytes second;  // the public data
};

class SimTesselApplet : public ISimApplet {
public:
    static const FidPath kKeyDir;     // 3F00 3000 3002
    static const FidPath kContainer;  // 3F00 3000 3002 5000
    static const FidPath kInfoFile;   // 3F00 3000 C000
    static constexpr unsigned char kAdminPin = 0x10, kCounterObject = 0x20, kBioObject = 0x23;
    static const Bytes kDefaultUserPin;  // "1234"
    // The ticket key the card leaves the factory with.
    static const Bytes kTicketKeyId, kTicketKey;

    // loginType: byte 1 of the access list of 3F00/3000/3002, which is also the
    // reference of the user PIN; withContainer: whether 5000 exists.
    explicit SimTesselApplet(unsigned char loginType = 0x24, bool withContainer = true);

    std::string name() const override { return "tessel"; }
    Bytes aid() const override;
    void onSelect() override;
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    unsigned char userReference() const { return m_userRef; }
    void setUserPin(const Bytes& pin, unsigned char tries = 10);
    void setPin(unsigned char reference, const SimTesselPin& pin) { m_pins[reference] = pin; }
    SimTesselPin* pin(unsigned char reference);
    bool bioVerified() const { return m_bioVerified; }
    void addTicketKey(const Bytes& keyId, const Bytes& key) { m_ticketKeys[keyId] = key; }
    std::map<unsigned char, SimTesselFinger>& fingers() { return m_fingers; }

    SimTesselNode* find(const FidPath& p) const;
    SimTesselNode* putFile(const FidPath& p, const Bytes& content, const Bytes& access);
    SimTesselNode* putDirectory(const FidPath& p, const Bytes& access, const Bytes& name = Bytes());
    // One line a node, two spaces a level: "3F00/", "5000/ name ...", "F003 (2048) access 00 24 ...".
    std::string dump() const override;
    void setInfoMark(unsigned char mark);
    void setInfoSize(size_t size);
    // RSA keys in the key folder: key 02nn with its attribute file (nn OR 40) + 1
    // of the key's size and, when der is given, the certificate attribute file
    // 3F00/3000/3001/((nn AND BF) OR 8400). Keys made by 00 47 or imported by
    // 00 E0 08 00 (90 public exponent, 91 modulus, 92 private exponent) land
    // here too. The key a command uses is that of the key or attribute file
    // selected last.
    void addKey(unsigned char nn, const SimRsaKey& key, const Bytes& der);
    // A certificate attribute file of its own (FID 84xx with bit 40 set).
    void addCertificate(uint16_t fid, const Bytes& der);
    SimRsaKey key(unsigned char nn) const;
    size_t keyOperations = 0;  // deciphers and signatures made

    Bytes serial;
    Bytes version = {0x02, 0x01, 0x00, 0x05};
    uint32_t memoryTotal = 0x10000;

    // Faults of this card, besides CardSim's injection.
    enum class Agreement { Normal, NoTag, EvenModulus, ShortModulus, LongModulus, ShortReply, CardValueOne };
    void setAgreementFault(Agreement a) { m_agreement = a; }
    // Answers with more data than `chunk` are given `chunk` at a time with SW1 `sw1`
    // (61 or 6D) and the rest by GET RESPONSE; endless: GET RESPONSE never ends.
    void splitAnswers(size_t chunk, unsigned char sw1 = 0x61, bool endless = false);
    // File-control templates without tag 80 or 84.
    void dropFcpTag(unsigned char tag) { m_dropTags.push_back(tag); }
    // Protected pieces seen, and the counters they carried.
    const std::vector<unsigned char>& smCounters() const { return m_smCounters; }
    size_t sessionsClosed() const { return m_sessionsClosed; }

private:
    Bytes dispatch(const SimApdu& a);
    Bytes answer(const Bytes& data, const SimApdu& a);
    Bytes doSelect(const SimApdu& a);
    Bytes doCreate(const SimApdu& a);
    Bytes doDelete(const SimApdu& a);
    Bytes doWriteAccess(const SimApdu& a);
    Bytes doResize(const SimApdu& a);
    Bytes doRead(const SimApdu& a);
    Bytes doUpdate(const SimApdu& a);
    Bytes doList(const SimApdu& a);
    Bytes doGetResponse(const SimApdu& a);
    Bytes doInfo(const SimApdu& a);
    Bytes doChallenge(const SimApdu& a);
    Bytes doLoginState(const SimApdu& a);
    Bytes doResponseLogin(const SimApdu& a);
    Bytes doVerify(const SimApdu& a, bool external);
    Bytes doLogout(const SimApdu& a);
    Bytes doPrepare(const SimApdu& a);
    bool reassemble(const SimApdu& a, Bytes& body);
    Bytes doChange(const SimApdu& a, bool secure);
    Bytes doAgreement(const SimApdu& a);
    Bytes doHostValue(const SimApdu& a);
    Bytes doProtected(const SimApdu& a);
    Bytes doFingers(const SimApdu& a);
    Bytes doMatch(const SimApdu& a);
    Bytes doTicketLogin(const SimApdu& a);
    Bytes doPublicKey(const SimApdu& a);
    Bytes doGenerate(const SimApdu& a);
    Bytes doKeyOperation(const SimApdu& a);
    void keyFiles(unsigned char nn, size_t size);
    // The number of the key whose key or attribute file is selected; -1 for none.
    int selectedKey() const;

    Bytes fcp(const SimTesselNode& n) const;
    Bytes pinFcp(unsigned char reference) const;
    SimTesselNode& currentDirectory() const;
    SimTesselNode& currentFile() const;
    bool granted(unsigned char condition) const;
    void needAccess(const Bytes& access, size_t index) const;
    Bytes takeChallenge();
    Bytes checkPin(SimTesselPin& p, bool ok);
    SimTesselPin& currentPin();
    FidPath pathOf(const SimTesselNode* n) const;
    // A new node under an existing parent; null when the parent is missing or the identifier taken.
    SimTesselNode* putNode(const FidPath& p, unsigned char fdb, const Bytes& access);
    void dumpNode(const SimTesselNode& n, int depth, std::string& out) const;

    std::unique_ptr<SimTesselNode> m_root;
    SimTesselNode* m_current = nullptr;
    int m_currentPin = -1;  // PIN or biometric object selected last; -1 when a file was
    unsigned char m_userRef;
    std::map<unsigned char, SimTesselPin> m_pins;
    bool m_bioVerified = false;
    unsigned char m_bioTries = 5;
    bool m_unblockArmed = false;
    Bytes m_challenge;
    std::map<Bytes, Bytes> m_ticketKeys;
    std::map<unsigned char, SimTesselFinger> m_fingers;
    Bytes m_chained;      // parts of an enrolment or a match-on-card so far
    unsigned char m_chainedIns = 0;

    // Secure messaging.
    Agreement m_agreement = Agreement::Normal;
    Bytes m_p, m_g, m_y;    // the card's private value y
    bool m_agreed = false;  // parameters given, waiting for the host value
    bool m_session = false;
    Bytes m_encKey, m_macKey;
    unsigned char m_nextCounter = 1;
    Bytes m_smData;
    std::vector<unsigned char> m_smCounters;
    size_t m_sessionsClosed = 0;

    // Answers waiting for GET RESPONSE.
    Bytes m_pending;
    size_t m_splitChunk = 0;
    unsigned char m_splitSw1 = 0x61;
    bool m_endless = false;
    std::vector<unsigned char> m_dropTags;
    std::map<unsigned char, SimRsaKey> m_rsaKeys;
};

}  // namespace cardsim

#endif
