// A bare applet for driving one facet: the test installs the error facet, the
// pack and the PIN facet of the family under test.
#ifndef KEYSHELF_TESTS_PIN_TEST_APPLET_H
#define KEYSHELF_TESTS_PIN_TEST_APPLET_H

#include "libapdu.h"
#include "libapdu.internal.h"

#include "pin_scripted_sender.h"

namespace keyshelf_test {

struct TestApplet : libapdu::IApplet {
    explicit TestApplet(libapdu::ISender* s) : libapdu::IApplet(s) {}
};

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
