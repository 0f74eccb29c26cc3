// Card side of the DataStore applet. PINs 1 (user), 2 (admin) and 3 (global),
// addressed on the wire by their number minus one and presented in plain under
// 80 10 (P1 10 verify, 20 change, 30 logout); the status record under 80 30 30 00
// carries every PIN's verified flag, failure count, try limit and lengths, the
// version, the serial and the free memory. The label lives behind 80 30 P1 10
// (read) and 20 (write). The store is a flat set of records under 80 20: each
// has a handle the card chooses, an object identifier, a flag and its bytes; a
// record is built by create-record (P1 10), filled by offset (40) and committed
// (50) as new or in place of another, and is read (30), deleted (20) and
// enumerated in pages from a start handle (60). Status words are the applet's
// own 67xx codes; create-record answers 6F00 when the store has no room.
//
// The platform applet beside it answers the card's memory figures; selecting
// it deselects the DataStore applet.
#ifndef CARDSIM_SIM_DATASTORE_H
#define CARDSIM_SIM_DATASTORE_H

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim_applet.h"
#include "sim_plain_pin.h"

namespace cardsim {

struct SimRecord {
    uint16_t objectId = 0;
    unsigned char flag = 0;  // not 0: reading needs the user PIN (when the card protects reads)
    Bytes data;
};

class SimDataStoreApplet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 00 03 01
    static const Bytes kDefaultUserPin, kDefaultAdminPin, kDefaultGlobalPin;

    // The applet's status words.
    enum : uint16_t {
        kSwNoSuchPin = 0x6701,
        kSwNoSuchRecord = 0x6701,
        kSwNoHandle = 0x6702,
        kSwWrongPin = 0x6703,
        kSwPinBlocked = 0x6704,
        kSwNotVerified = 0x6709,
        kSwBadPinLength = 0x670A,
        kSwBadRange = 0x670B,
        kSwNoRoom = 0x6F00,
    };

    // How the card chooses the handle of a new record.
    enum class Handles {
        kSequential,  // from `handleStart` up, never reused
        kLowestFree,  // the lowest free one from `handleStart` up
        kList,        // the test's list in order, then the lowest free one
    };

    SimDataStoreApplet();

    std::string name() const override { return "datastore"; }
    Bytes aid() const override { return kAid; }
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;
    std::string dump() const override;

    // PIN n = 1, 2 or 3 (the designator's number); null for any other.
    SimPlainPin* pin(unsigned n);
    // 30 bytes (16-bit free memory) or 34 (32-bit free memory after the serial).
    void setRecordSize(size_t n) { m_recordSize = n; }
    Bytes statusRecord() const;

    // ---- the record store
    const std::map<uint16_t, SimRecord>& records() const { return m_records; }
    // Puts a record as it would be on a card that was written before (no memory check).
    void putRecord(uint16_t handle, uint16_t objectId, unsigned char flag, const Bytes& data);
    bool building() const { return m_building; }
    size_t capacity() const { return m_capacity; }
    void setCapacity(size_t bytes) { m_capacity = bytes; }
    size_t freeMemory() const;
    void setHandles(Handles policy, uint16_t start = 1) {
        m_policy = policy;
        m_next = start;
        m_start = start;
    }
    void setHandleList(const std::vector<uint16_t>& handles) {
        m_policy = Handles::kList;
        m_list.assign(handles.begin(), handles.end());
    }
    // Entries per enumeration page (at most 36, what a 256-byte answer holds).
    void setPageSize(size_t n) { m_pageSize = n; }
    // A faulty card that answers every enumeration from its first record.
    void setIgnoreEnumerationStart(bool on) { m_ignoreStart = on; }
    // Whether a record's flag protects reading (true by default).
    void setReadProtection(bool on) { m_readProtection = on; }
    // Whether a verified PIN survives the selection of another applet (false by default).
    void setKeepPinOnDeselect(bool on) { m_keepPin = on; }
    void setSerial(const Bytes& serial) { m_serial = serial; }

    // The directory object of the second layout (object identifier 3333), decoded:
    // one entry per used slot.
    struct Slot {
        uint16_t index, parent, fid;
    };
    std::vector<Slot> directorySlots() const;

    const Bytes& label() const { return m_label; }
    void setLabel(const Bytes& label) { m_label = label; }

private:
    SimPlainPin& pinAt(unsigned char reference);
    Bytes doVerify(SimReader& r);
    Bytes doChange(SimReader& r);
    Bytes doLogout();
    Bytes doRecords(const SimApdu& a);
    Bytes doLabel(const SimApdu& a);
    uint16_t takeHandle();
    size_t usedMemory() const;

    SimPlainPin m_pins[3];
    size_t m_recordSize = 30;
    Bytes m_serial;

    std::map<uint16_t, SimRecord> m_records;
    bool m_building = false;
    Bytes m_built;
    size_t m_capacity = 0x4000;
    Handles m_policy = Handles::kSequential;
    uint16_t m_start = 1;
    uint32_t m_next = 1;
    std::deque<uint16_t> m_list;
    size_t m_pageSize = 36;
    bool m_ignoreStart = false;
    bool m_readProtection = true;
    bool m_keepPin = false;
    Bytes m_label;
};

// The card's platform applet: 80 EC A2 10 answers the memory figures (46 or 58
// bytes with the status word): factors A and B at bytes 16..23 (total = A x 512
// x B) and the free memory in the four bytes before the status word, all low
// byte first. The free figure is the DataStore store's when one is linked.
class SimPlatformApplet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 FF 00 00

    explicit SimPlatformApplet(const SimDataStoreApplet* store = nullptr) : m_store(store) {}

    std::string name() const override { return "platform"; }
    Bytes aid() const override { return kAid; }
    Bytes process(const SimApdu& apdu) override;

    // 46 or 58 bytes in all.
    void setAnswerSize(size_t n) { m_answerSize = n; }

private:
    const SimDataStoreApplet* m_store;
    size_t m_answerSize = 46;
};

}  // namespace cardsim

#endif
