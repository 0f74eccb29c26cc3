// A token (IToken::create) over a simulated Tessel card, switched to the Tessel
// applet as the token module does (or selected with its init), with the card's
// side at hand; the log starts empty.
#ifndef TEST_TESSEL_SIM_TOKEN_H
#define TEST_TESSEL_SIM_TOKEN_H

#include <algorithm>
#include <memory>
#include <string>

#include "appfs/fs_tessel.h"
#include "scripted_sender.h"
#include "sim_tokens.h"

struct TesselSimToken {
    cardsim::CardSim* card = nullptr;
    cardsim::SimTesselApplet* sim = nullptr;
    std::unique_ptr<libapdu::IToken> token;

    explicit TesselSimToken(const cardsim::SimTokenOptions& o = cardsim::SimTokenOptions(), bool withContainer = true,
                            bool init = false) {
        std::unique_ptr<cardsim::CardSim> c = cardsim::MakeTesselToken(o, withContainer);
        card = c.get();
        sim = c->find<cardsim::SimTesselApplet>();
        std::unique_ptr<libapdu::ISender> sender(std::move(c));
        token = libapdu::IToken::create(sender);
        if (init)
            token->selectApplet(0x2101);
        else
            token->switchToApplet(0x2101);
        card->clearLog();
    }

    libapdu::IAppFS* fs() { return token->fs(); }
    libapdu::IAppPin* pin() { return token->pin(); }
    libapdu::TBytes raw(const std::string& apdu) { return card->transmit(testing_card::Hex(apdu)); }
    void login(const std::string& p = "1234") {
        pin()->select(pin()->pathUser());
        pin()->login(libapdu::TBytes(p.begin(), p.end()));
    }
    // Commands the card saw that begin with these bytes.
    size_t count(const std::string& prefix) const {
        const libapdu::TBytes p = testing_card::Hex(prefix);
        size_t n = 0;
        for (const auto& e : card->log())
            if (e.command.size() >= p.size() && std::equal(p.begin(), p.end(), e.command.begin())) ++n;
        return n;
    }
    // The directory of the container whose name holds this logical path.
    const cardsim::SimTesselNode* named(const libapdu::path& logical) const {
        const cardsim::SimTesselNode* c = sim->find(cardsim::SimTesselApplet::kContainer);
        if (!c) return nullptr;
        for (const auto& d : c->children)
            if (d->name == libapdu::CFSTessel::NameOf(logical)) return d.get();
        return nullptr;
    }
};

#endif
