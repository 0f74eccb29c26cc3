// Card side of the Wren applet. The token is known by its ATR and its applet
// answers from power-on without any SELECT. It keeps a file tree from 3F00 and
// takes its parameters in the command data, every 16-bit value low byte first:
// select by whole path (00 A4, an 8-byte record: kind, protected flag, size),
// create (00 E0) and remove (00 E2) in and of the current file, list (00 D2, a
// 2-byte count then the identifiers), read (00 B0) and write (00 D0) by offset
// and length, the configuration record (00 DA). The user PIN: ISO VERIFY
// (00 20), a change of the verified PIN under 00 D4 and a logout under 00 DC,
// each carrying the PIN as "L P". A file created protected is read only after
// the PIN. It answers its status words low byte first (9000 goes out as 00 90);
// a command the simulator itself refuses before the applet sees it is answered
// in the usual order.
#ifndef CARDSIM_SIM_WREN_H
#define CARDSIM_SIM_WREN_H

#include "sim_applet.h"
#include "sim_filetree.h"
#include "sim_plain_pin.h"

namespace cardsim {

class SimWrenApplet : public ISimApplet {
public:
    static const Bytes kDefaultUserPin;

    enum : uint16_t {
        kSwWrongPin = 0x6416,
        kSwCannotRemove = 0x6406,
        kSwNoFile = 0x6407,
        kSwFileExists = 0x6408,
        kSwNotVerified = 0x6982,
        kSwPinBlocked = 0x6983,
        kSwBadLength = 0x6700,
    };

    SimWrenApplet();

    std::string name() const override { return "wren"; }
    Bytes aid() const override { return Bytes(); }  // none: the applet is resident
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;
    std::string dump() const override { return m_tree.dump(); }

    SimPlainPin& user() { return m_user; }
    SimFileTree& tree() { return m_tree; }
    // The file a file command works on; null before the first select.
    const SimFile* current() const { return m_current; }
    // The access byte of a file is its protected flag.
    static bool Protected(const SimFile& f) { return !f.access.empty() && f.access[0] != 0; }

    // Configuration record: serial (4 bytes), version (2), memory, colour.
    void setSerial(const Bytes& serial) { m_serial = serial; }
    void setColor(unsigned char c) { m_color = c; }
    void setCapacity(size_t bytes) { m_capacity = bytes; }
    // Data bytes of the configuration record, 19 or more (20 by default).
    void setConfigSize(size_t n) { m_configSize = n; }
    Bytes configRecord() const;

    // The answer as the applet puts it on the wire: data, then SW2, then SW1.
    static Bytes Answer(const Bytes& data, uint16_t sw);

private:
    Bytes handle(const SimApdu& a);
    Bytes doSelect(SimReader& r);
    Bytes doCreate(SimReader& r);
    Bytes doRemove(SimReader& r);
    Bytes doList(SimReader& r);
    Bytes doRead(SimReader& r);
    Bytes doWrite(SimReader& r);
    SimFile& currentFile();
    SimFile& currentFolder();

    SimPlainPin m_user;
    SimFileTree m_tree;
    SimFile* m_current = nullptr;
    Bytes m_serial = {0x0A, 0x0B, 0x0C, 0x0D};
    unsigned char m_color = 0x02;
    size_t m_capacity = 0x4000;
    size_t m_configSize = 20;
};

}  // namespace cardsim

#endif
