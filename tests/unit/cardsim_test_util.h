// Helpers for tests that talk raw APDUs to the card simulator.
#ifndef CARDSIM_TEST_UTIL_H
#define CARDSIM_TEST_UTIL_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cardsim.h"

namespace cardsim_test {

inline cardsim::Bytes H(const std::string& hex) {
    cardsim::Bytes b;
    EXPECT_TRUE(cardsim::FromHex(hex, b)) << "bad hex in test: " << hex;
    return b;
}

// The card's answer as upper-case hex with spaces ("90 00").
inline std::string Tx(cardsim::CardSim& card, const std::string& hex) { return cardsim::ToHex(card.transmit(H(hex))); }

// Status word of the answer as four hex digits ("6A82").
inline std::string Sw(cardsim::CardSim& card, const std::string& hex) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", cardsim::StatusOf(card.transmit(H(hex))));
    return buf;
}

// A card holding one applet of the model's kind, made current by `select`,
// which must answer 9000; `model` is set to the applet for the test to set up.
template <class Model>
std::unique_ptr<cardsim::CardSim> CardWith(Model** model, const std::string& select) {
    std::unique_ptr<cardsim::CardSim> card(new cardsim::CardSim({0x3B, 0x00}));
    *model = card->install(std::unique_ptr<Model>(new Model));
    EXPECT_EQ(Sw(*card, select), "9000");
    return card;
}

}  // namespace cardsim_test

#endif
