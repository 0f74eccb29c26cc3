// One simulated card: its ATR, the applets it holds by AID, the applet that is
// selected, and everything a test wants to see or break: a log of commands
// and answers, counters per CLA/INS, and faults injected into the next
// matching command. CardSim is a libapdu::ISender, so library facets run
// against it in process; the vpcd framing server drives the same object.
#ifndef CARDSIM_CARDSIM_H
#define CARDSIM_CARDSIM_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libapdu.h"
#include "sim_applet.h"

namespace cardsim {

// Decides whether a fault applies to a command (the raw command bytes).
typedef std::function<bool(const Bytes& command)> CommandMatch;
CommandMatch MatchAny();
CommandMatch MatchClaIns(unsigned char cla, unsigned char ins);
CommandMatch MatchIns(unsigned char ins);
CommandMatch MatchPrefix(const Bytes& prefix);

struct SimFault {
    enum Kind {
        kStatus,       // answer `sw` alone; the command is not carried out
        kStatusAfter,  // carry the command out, then answer `sw` alone
        kTruncate,     // carry it out, drop the last `count` data bytes (SW kept)
        kExtend,       // carry it out, add `count` bytes `fill` before the SW
        kEmpty,        // carry it out, answer nothing at all
        kReplace,      // answer `bytes` as they stand; the command is not carried out
    };
    CommandMatch match;
    Kind kind = kStatus;
    uint16_t sw = 0x6F00;
    size_t count = 1;
    unsigned char fill = 0;
    Bytes bytes;
    int times = 1;  // how many matching commands it hits; -1 every one
};

struct SimLogEntry {
    Bytes command;
    Bytes response;
    std::string applet;  // the applet that was selected when the command came
    bool faulted = false;
};

class CardSim : public libapdu::ISender {
public:
    explicit CardSim(const Bytes& atr);
    ~CardSim() override;

    // Takes ownership; returns the applet for inspection.
    template <class T>
    T* install(std::unique_ptr<T> applet) {
        T* raw = applet.get();
        m_applets.push_back(std::move(applet));
        return raw;
    }
    // The first installed applet of that type, or null.
    template <class T>
    T* find() const {
        for (const auto& a : m_applets)
            if (T* t = dynamic_cast<T*>(a.get())) return t;
        return nullptr;
    }
    ISimApplet* selected() const { return m_selected; }
    // The first non-empty dump() of the installed applets.
    std::string dump() const;
    // An installed applet that answers without SELECT, as applets resident on a
    // card's operating system do: current from now on and after every power-on
    // and reset, until a SELECT by AID picks another applet.
    void setResident(ISimApplet* applet);

    // The card's answer to one command APDU: data followed by SW1 SW2.
    Bytes transmit(const Bytes& command);

    // Reader events. The card memory persists; the selection does not.
    void powerOff();
    void powerOn();
    void reset();
    bool powered() const { return m_powered; }

    Bytes atrBytes() const { return m_atr; }
    void setAtr(const Bytes& atr) { m_atr = atr; }

    // libapdu::ISender
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override;
    libapdu::TBytes atr() override { return m_atr; }
    void control(unsigned int code, const libapdu::TBytes& in, libapdu::TBytes& out) override;

    // Faults, applied in the order injected; the first that matches a command wins.
    void inject(const SimFault& f);
    void failNext(const CommandMatch& m, uint16_t sw);
    void failNextAfter(const CommandMatch& m, uint16_t sw);
    void truncateNext(const CommandMatch& m, size_t count);
    void extendNext(const CommandMatch& m, size_t count, unsigned char fill = 0);
    void emptyNext(const CommandMatch& m);
    void replaceNext(const CommandMatch& m, const Bytes& answer);
    size_t pendingFaults() const;
    void clearFaults();

    // What the card saw.
    std::vector<SimLogEntry> log() const;
    void clearLog();
    size_t commandCount() const;
    size_t count(unsigned char cla, unsigned char ins) const;
    void resetCounters();

private:
    Bytes execute(const Bytes& command);
    Bytes selectByAid(const SimApdu& apdu);
    void deselect();
    void selectResident();

    Bytes m_atr;
    std::vector<std::unique_ptr<ISimApplet>> m_applets;
    ISimApplet* m_selected = nullptr;
    ISimApplet* m_resident = nullptr;
    bool m_powered = true;

    mutable std::recursive_mutex m_mu;
    std::vector<SimFault> m_faults;
    std::vector<SimLogEntry> m_log;
    std::map<uint16_t, size_t> m_counts;
    size_t m_total = 0;
};

}  // namespace cardsim

#endif
