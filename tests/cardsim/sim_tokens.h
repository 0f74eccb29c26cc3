// Ready-made cards: what a token of each kind holds when it leaves the factory.
#ifndef CARDSIM_SIM_TOKENS_H
#define CARDSIM_SIM_TOKENS_H

#include <memory>

#include "cardsim.h"
#include "sim_heron.h"
#include "sim_java.h"
#include "sim_javamanager.h"
#include "sim_tessel.h"

namespace cardsim {

// The Java token model's answer-to-reset (14 bytes).
extern const Bytes kAtrJava10;
// A Heron token answers with the Pellar platform's ATR (22 bytes); it is found
// by its AID, the ATR only has to be none of the Kite and Wren ones.
extern const Bytes kAtrHeron;

struct SimTokenOptions {
    Bytes atr;                         // empty: the kind's own
    bool fips = false;                 // second byte of 3F00/6666/5000/000A
    Bytes serial;                      // empty: the model's default
    int managerVersion = -1;           // Java tokens: -1 keeps the default (7)
    Bytes chipId;                      // Java tokens: six bytes; empty keeps the default
    Bytes userPin;                     // the user PIN's bytes; empty keeps the model's "1234"
    int pinTries = -1;                 // the user PIN's retry limit (1..15); -1 keeps 10
    int loginType = -1;                // Tessel tokens: the user PIN's reference and login type; -1 keeps 24
};

// The Java and JavaManager applets.
std::unique_ptr<CardSim> MakeJavaToken(const SimTokenOptions& o = SimTokenOptions());
// The Heron applet.
std::unique_ptr<CardSim> MakeHeronToken(const SimTokenOptions& o = SimTokenOptions());

// The Tessel token model's answer-to-reset (15 bytes).
extern const Bytes kAtrTessel;
// The Tessel applet; withContainer false leaves out the container directory 5000.
std::unique_ptr<CardSim> MakeTesselToken(const SimTokenOptions& o = SimTokenOptions(), bool withContainer = true);

}  // namespace cardsim

#endif
