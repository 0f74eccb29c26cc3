// Helpers for tests that talk raw APDUs to the card simulator.
#ifndef CARDSIM_TEST_UTIL_H
#define CARDSIM_TEST_UTIL_H

#include <gtest/gtest.h>

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

}  // namespace cardsim_test

#endif
