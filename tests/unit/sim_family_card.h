// The PIN facet of one status family against its card side in the simulator:
// an applet holding the family's error facet, its PIN facet and, optionally, a
// pack, over a CardSim reached the way libKeyShelfJx reaches a card (every
// command rewritten as the javax.smartcardio transport rewrites it).
#ifndef KEYSHELF_TESTS_SIM_FAMILY_CARD_H
#define KEYSHELF_TESTS_SIM_FAMILY_CARD_H

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Z6EZSender.h"
#include "applet_common.h"
#include "cardsim.h"
#include "libapdu.h"
#include "scripted_sender.h"
#include "test_applet.h"

namespace keyshelf_test {

// The card behind the javax.smartcardio transport: what the card receives is
// what that transport would hand to CommandAPDU.
class TransportToSim : public libapdu::ISender {
public:
    explicit TransportToSim(cardsim::CardSim& card) : m_card(card) {}
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override {
        response = m_card.transmit(KOVA::APDUSupport::Z6EZSender::rewrite(command));
    }
    libapdu::TBytes atr() override { return m_card.atr(); }

private:
    cardsim::CardSim& m_card;
};

// Model: the family's simulated applet. Error, Pin: the family's facets; Pack,
// when not void, is installed as the applet's key-slot store.
template <class Model, class Error, class Pin, class Pack = void> struct SimFamilyCard {
    cardsim::CardSim card{cardsim::Bytes{0x3B, 0x00}};
    Model* model;
    TransportToSim transport{card};
    testing_card::BareApplet applet{&transport};
    Pin* pin;

    SimFamilyCard() {
        model = card.install(std::unique_ptr<Model>(new Model));
        // Select the applet directly on the card, so the conversation the test
        // looks at holds only what the PIN facet sends; an applet without an AID
        // answers from power-on.
        if (model->aid().empty()) {
            card.setResident(model);
        } else {
            const cardsim::Bytes answer = card.transmit(libapdu::SelectAidCommand(model->aid()));
            EXPECT_EQ(cardsim::StatusOf(answer), 0x9000);
        }
        card.clearLog();
        applet.setError(new Error);
        installPack(static_cast<Pack*>(nullptr));
        pin = new Pin(&applet);
        applet.setPin(pin);
    }

    // The commands the card received since the last clear, as hex.
    std::vector<std::string> received() const {
        std::vector<std::string> out;
        for (const auto& e : card.log()) out.push_back(testing_card::ToHex(e.command));
        return out;
    }
    // The last command the card received, as hex ("" when none).
    std::string last() const {
        const auto log = card.log();
        return log.empty() ? std::string() : testing_card::ToHex(log.back().command);
    }

    // What the token module does for a login, and for a change of the PIN.
    void login(const libapdu::TBytes& p) {
        pin->select(pin->pathUser());
        pin->login(p);
    }
    void changePin(const libapdu::TBytes& oldPin, const libapdu::TBytes& newPin) {
        login(oldPin);
        pin->select(pin->pathUser());
        pin->change(newPin);
    }

private:
    template <class P> void installPack(P*) { applet.setPack(new P(&applet)); }
    void installPack(void*) {}
};

inline libapdu::TBytes Ascii(const char* s) { return libapdu::TBytes(s, s + std::char_traits<char>::length(s)); }

}  // namespace keyshelf_test

#endif
