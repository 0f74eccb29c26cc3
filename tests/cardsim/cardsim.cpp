#include "cardsim.h"

#include <algorithm>

namespace cardsim {

CommandMatch MatchAny() {
    return [](const Bytes&) { return true; };
}
CommandMatch MatchClaIns(unsigned char cla, unsigned char ins) {
    return [cla, ins](const Bytes& c) { return c.size() >= 2 && c[0] == cla && c[1] == ins; };
}
CommandMatch MatchIns(unsigned char ins) {
    return [ins](const Bytes& c) { return c.size() >= 2 && c[1] == ins; };
}
CommandMatch MatchPrefix(const Bytes& prefix) {
    return [prefix](const Bytes& c) { return c.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), c.begin()); };
}

CardSim::CardSim(const Bytes& atr) : m_atr(atr) {}
CardSim::~CardSim() = default;

std::string CardSim::dump() const {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    for (const auto& a : m_applets) {
        std::string text = a->dump();
        if (!text.empty()) return text;
    }
    return std::string();
}

void CardSim::deselect() {
    if (m_selected) m_selected->onDeselect();
    m_selected = nullptr;
}

void CardSim::selectResident() {
    if (!m_resident) return;
    m_selected = m_resident;
    m_selected->onSelect();
}

void CardSim::setResident(ISimApplet* applet) {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    m_resident = applet;
    deselect();
    selectResident();
}

void CardSim::powerOff() {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    deselect();
    m_powered = false;
}
void CardSim::powerOn() {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    deselect();
    m_powered = true;
    selectResident();
}
void CardSim::reset() {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    deselect();
    m_powered = true;
    selectResident();
}

Bytes CardSim::selectByAid(const SimApdu& apdu) {
    if (apdu.data.empty()) Fail(kSwWrongLength);
    for (const auto& a : m_applets) {
        if (a->aid() == apdu.data) {
            if (m_selected && m_selected != a.get()) m_selected->onDeselect();
            m_selected = a.get();
            m_selected->onSelect();
            return Respond(kSwOk);
        }
    }
    // As on GlobalPlatform cards, a failed SELECT keeps the current applet.
    Fail(kSwNotFound);
}

Bytes CardSim::execute(const Bytes& command) {
    SimApdu apdu;
    if (!SimApdu::parse(command, apdu)) return Respond(kSwWrongLength);
    try {
        if (apdu.cla == 0x00 && apdu.ins == 0xA4 && apdu.p1 == 0x04) return selectByAid(apdu);
        if (!m_selected) return Respond(kSwInsNotSupported);
        return m_selected->process(apdu);
    } catch (const SimStatus& s) {
        return Respond(s.sw);
    }
}

Bytes CardSim::transmit(const Bytes& command) {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    SimLogEntry entry;
    entry.command = command;
    entry.applet = m_selected ? m_selected->name() : std::string();
    ++m_total;
    if (command.size() >= 2) ++m_counts[static_cast<uint16_t>((command[0] << 8) | command[1])];

    SimFault* fault = nullptr;
    for (auto& f : m_faults) {
        if (f.times != 0 && f.match && f.match(command)) {
            fault = &f;
            break;
        }
    }
    Bytes response;
    if (!fault) {
        response = execute(command);
    } else {
        entry.faulted = true;
        SimFault f = *fault;
        if (fault->times > 0 && --fault->times == 0) {
            for (auto it = m_faults.begin(); it != m_faults.end(); ++it)
                if (&*it == fault) {
                    m_faults.erase(it);
                    break;
                }
        }
        switch (f.kind) {
        case SimFault::kStatus:
            response = Respond(f.sw);
            break;
        case SimFault::kReplace:
            response = f.bytes;
            break;
        case SimFault::kStatusAfter:
            execute(command);
            response = Respond(f.sw);
            break;
        case SimFault::kTruncate: {
            response = execute(command);
            const size_t data = response.size() >= 2 ? response.size() - 2 : 0;
            const size_t cut = f.count < data ? f.count : data;
            response.erase(response.end() - 2 - static_cast<std::ptrdiff_t>(cut), response.end() - 2);
            break;
        }
        case SimFault::kExtend:
            response = execute(command);
            response.insert(response.end() - (response.size() >= 2 ? 2 : 0), f.count, f.fill);
            break;
        case SimFault::kEmpty:
            execute(command);
            response.clear();
            break;
        }
    }
    entry.response = response;
    m_log.push_back(entry);
    return response;
}

void CardSim::send(const libapdu::TBytes& command, libapdu::TBytes& response) { response = transmit(command); }

void CardSim::control(unsigned int, const libapdu::TBytes&, libapdu::TBytes&) {}

void CardSim::inject(const SimFault& f) {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    m_faults.push_back(f);
}

void CardSim::failNext(const CommandMatch& m, uint16_t sw) {
    SimFault f;
    f.match = m;
    f.kind = SimFault::kStatus;
    f.sw = sw;
    inject(f);
}
void CardSim::failNextAfter(const CommandMatch& m, uint16_t sw) {
    SimFault f;
    f.match = m;
    f.kind = SimFault::kStatusAfter;
    f.sw = sw;
    inject(f);
}
void CardSim::truncateNext(const CommandMatch& m, size_t count) {
    SimFault f;
    f.match = m;
    f.kind = SimFault::kTruncate;
    f.count = count;
    inject(f);
}
void CardSim::extendNext(const CommandMatch& m, size_t count, unsigned char fill) {
    SimFault f;
    f.match = m;
    f.kind = SimFault::kExtend;
    f.count = count;
    f.fill = fill;
    inject(f);
}
void CardSim::emptyNext(const CommandMatch& m) {
    SimFault f;
    f.match = m;
    f.kind = SimFault::kEmpty;
    inject(f);
}
void CardSim::replaceNext(const CommandMatch& m, const Bytes& answer) {
    SimFault f;
    f.match = m;
    f.kind = SimFault::kReplace;
    f.bytes = answer;
    inject(f);
}

size_t CardSim::pendingFaults() const {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    return m_faults.size();
}
void CardSim::clearFaults() {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    m_faults.clear();
}

std::vector<SimLogEntry> CardSim::log() const {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    return m_log;
}
void CardSim::clearLog() {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    m_log.clear();
}
size_t CardSim::commandCount() const {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    return m_total;
}
size_t CardSim::count(unsigned char cla, unsigned char ins) const {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    auto it = m_counts.find(static_cast<uint16_t>((cla << 8) | ins));
    return it == m_counts.end() ? 0 : it->second;
}
void CardSim::resetCounters() {
    std::lock_guard<std::recursive_mutex> g(m_mu);
    m_counts.clear();
    m_total = 0;
}

}  // namespace cardsim
