// The applet of one family under a script, for the PIN and key-slot tests: the
// test names the family's error facet, PIN facet and, optionally, its pack.
#ifndef KEYSHELF_TESTS_PIN_TEST_APPLET_H
#define KEYSHELF_TESTS_PIN_TEST_APPLET_H

#include "libapdu.h"
#include "libapdu.internal.h"

#include "scripted_sender.h"
#include "test_applet.h"

namespace keyshelf_test {

using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;
using testing_card::ToHex;
using TestApplet = testing_card::BareApplet;

// The code of the card-library error that f raises, or 0 when it returns normally.
template <class F> unsigned short RaisedCode(F&& f) { return testing_card::RaisedCodeOr<unsigned short>(0, f); }

// The applet of one family under a script: Error and Pin are the family's
// facets; Pack, when not void, is installed as its key-slot store.
template <class Error, class Pin, class Pack = void> struct FamilyCard {
    ScriptedSender card;
    TestApplet applet{&card};
    Pin* pin;

    FamilyCard() {
        applet.setError(new Error);
        installPack(static_cast<Pack*>(nullptr));
        pin = new Pin(&applet);
        applet.setPin(pin);
    }
    ~FamilyCard() { EXPECT_EQ(card.pending(), 0u) << "scripted commands were never sent"; }

private:
    template <class P> void installPack(P*) { applet.setPack(new P(&applet)); }
    void installPack(void*) {}
};

}  // namespace keyshelf_test

#endif
