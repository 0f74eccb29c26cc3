// A real token (IToken::create) over a simulated Java or Heron card, and the
// command bytes of each family, so one test body can drive both families
// through the token's facets and look at what the card stored.
#ifndef TEST_SIM_TOKEN_FIXTURE_H
#define TEST_SIM_TOKEN_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "libapdu.h"
#include "scripted_sender.h"
#include "sim_tokens.h"

namespace sim_token {

using libapdu::TBytes;

struct Op {
    unsigned char cla, ins;
};

// What the library sends to each family; written down from the command tables
// of the two applets, not taken from the simulator, so a simulator that routes
// a command wrongly shows up as a fault that never fires.
struct Family {
    const char* name;
    unsigned short appletId;
    bool java;  // the Java token: resize, and the JavaManager applet beside it
    Op select, list, create, remove, read, write, marker, getData, challenge, labelLength;
};

inline const Family& JavaFamily() {
    static const Family f = {"Java",       0x2001,       true,         {0x00, 0xA4}, {0x80, 0x01}, {0x80, 0x16},
                             {0x00, 0xE4}, {0x80, 0x18}, {0x80, 0x15}, {0x80, 0x1B}, {0x00, 0xCA}, {0x80, 0x17},
                             {0x80, 0x1A}};
    return f;
}
inline const Family& HeronFamily() {
    static const Family f = {"Heron",      0x2204,       false,        {0x80, 0x03}, {0x80, 0x0D}, {0x80, 0x09},
                             {0x80, 0x01}, {0x80, 0x1C}, {0x80, 0x1B}, {0x80, 0x1D}, {0x80, 0x02}, {0x80, 0x12},
                             {0x80, 0x17}};
    return f;
}

inline void PrintTo(const Family* f, std::ostream* os) { *os << f->name; }

// A command of `op` followed by the rest given as hex.
inline TBytes Cmd(Op op, const std::string& rest) {
    return testing_card::Concat(TBytes{op.cla, op.ins}, testing_card::Hex(rest));
}

inline cardsim::CommandMatch Match(Op op) { return cardsim::MatchClaIns(op.cla, op.ins); }

struct SimToken {
    cardsim::CardSim* card = nullptr;          // owned by the token
    cardsim::SimJavaApplet* applet = nullptr;  // the family's card side (Heron derives from it)
    std::unique_ptr<libapdu::IToken> token;

    libapdu::IAppFS* fs() { return token->fs(); }

    // Commands the card received with this CLA and INS, in order.
    std::vector<TBytes> sent(Op op) const {
        std::vector<TBytes> out;
        for (const auto& e : card->log())
            if (e.command.size() >= 2 && e.command[0] == op.cla && e.command[1] == op.ins) out.push_back(e.command);
        return out;
    }
    std::vector<TBytes> allSent() const {
        std::vector<TBytes> out;
        for (const auto& e : card->log()) out.push_back(e.command);
        return out;
    }
    // The file as the card holds it; fails the test when it is not there.
    const cardsim::SimFile* onCard(const cardsim::FidPath& p) const {
        const cardsim::SimFile* f = applet->tree().find(p);
        EXPECT_NE(f, nullptr) << "missing on the card:\n" << applet->tree().dump();
        return f;
    }
};

// A card of the family handed to a new token, which switches to the family's
// applet as the token module does; the log starts empty after that.
inline SimToken OpenSimToken(const Family& f, const cardsim::SimTokenOptions& o = cardsim::SimTokenOptions()) {
    std::unique_ptr<cardsim::CardSim> card = f.java ? cardsim::MakeJavaToken(o) : cardsim::MakeHeronToken(o);
    SimToken t;
    t.card = card.get();
    t.applet = card->find<cardsim::SimJavaApplet>();
    std::unique_ptr<libapdu::ISender> sender(std::move(card));
    t.token = libapdu::IToken::create(sender);
    t.token->switchToApplet(f.appletId);
    t.card->clearLog();
    return t;
}

// Bytes that differ from position to position and from one seed to another.
inline TBytes Pattern(size_t n, unsigned seed = 1) {
    TBytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 31u + seed * 7u + (i >> 8)) & 0xFF);
    return b;
}

}  // namespace sim_token

#endif
