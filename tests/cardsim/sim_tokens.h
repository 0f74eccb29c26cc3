// Ready-made cards: what a token of each kind holds when it leaves the factory.
#ifndef CARDSIM_SIM_TOKENS_H
#define CARDSIM_SIM_TOKENS_H

#include <memory>

#include "cardsim.h"
#include "sim_gost.h"
#include "sim_gost2.h"
#include "sim_datastore.h"
#include "sim_heron.h"
#include "sim_java.h"
#include "sim_javamanager.h"
#include "sim_kite.h"
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
    long freeMemory = -1;              // Gost and Gost2 tokens: memory left; -1 keeps the model's
    int gost2Version = -1;             // Gost2 tokens: the applet version; -1 keeps 7
    int loginType = -1;                // Tessel tokens: the user PIN's reference and login type; -1 keeps 24
};

// The Java and JavaManager applets.
std::unique_ptr<CardSim> MakeJavaToken(const SimTokenOptions& o = SimTokenOptions());
// The Heron applet.
std::unique_ptr<CardSim> MakeHeronToken(const SimTokenOptions& o = SimTokenOptions());

// A Kite token by model name: "kite16", "kite32", "kite42" or "kite42b"; null
// for any other name. The Kite applet is resident: current without SELECT.
// Options used: atr, fips, serial, userPin, pinTries.
std::unique_ptr<CardSim> MakeKiteToken(const std::string& model, const SimTokenOptions& o = SimTokenOptions());
// Gost and Gost2 tokens are found by their applets' AIDs behind an ATR of no
// Kite or Wren model.
extern const Bytes kAtrGost;
std::unique_ptr<CardSim> MakeGostToken(const SimTokenOptions& o = SimTokenOptions());
std::unique_ptr<CardSim> MakeGost2Token(const SimTokenOptions& o = SimTokenOptions());
// The Wren token's answer-to-reset (6 bytes): the token is known by it alone.
extern const Bytes kAtrWren;

// A DataStore token: the DataStore applet and, optionally, the platform applet.
struct SimDataStoreOptions {
    size_t statusRecord = 30;  // 30 or 34 bytes
    bool platform = false;     // the platform applet with the memory figures
    size_t platformAnswer = 46;  // 46 or 58 bytes with the status word
    bool keepPinOnPlatform = false;  // a verified PIN survives the platform applet's selection
    SimDataStoreApplet::Handles handles = SimDataStoreApplet::Handles::kSequential;
    uint16_t handleStart = 1;
    std::vector<uint16_t> handleList;  // with Handles::kList
    size_t capacity = 0x4000;          // bytes the records may hold in all
    size_t pageSize = 36;              // entries per enumeration page
    bool ignoreEnumerationStart = false;
    bool readProtection = true;
};
std::unique_ptr<CardSim> MakeDataStoreToken(const SimTokenOptions& o = SimTokenOptions(),
                                            const SimDataStoreOptions& d = SimDataStoreOptions());
// The Wren applet, resident from power-on.
std::unique_ptr<CardSim> MakeWrenToken(const SimTokenOptions& o = SimTokenOptions());
// The Tessel token model's answer-to-reset (15 bytes).
extern const Bytes kAtrTessel;
// The Tessel applet; withContainer false leaves out the container directory 5000.
std::unique_ptr<CardSim> MakeTesselToken(const SimTokenOptions& o = SimTokenOptions(), bool withContainer = true);

}  // namespace cardsim

#endif
