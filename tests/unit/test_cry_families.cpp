// Which applets hold a crypto facet: those without one answer every key
// operation with FACE, and opening any token sends no key command.
#include <gtest/gtest.h>

#include <functional>

#include "cry_test_support.h"
#include "sim_tokens.h"

using namespace libapdu;
using cry_test::Outcome;

namespace {

TEST(CryFamilies, AppletsWithoutKeysAnswerFace) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<cardsim::CardSim>()> make;
        unsigned short applet;
        bool switchTo;  // false: only constructed, as useAsApplet does
    } cases[] = {
        {"Gost", [] { return cardsim::MakeGostToken(); }, 0x2202, true},
        {"DataStore", [] { return cardsim::MakeDataStoreToken(); }, 0x2205, true},
        {"Wren", [] { return cardsim::MakeWrenToken(); }, 0x1001, true},
        {"JavaManager", [] { return cardsim::MakeJavaToken(); }, 0x2002, true},
        {"ZudezoZud", [] { return cardsim::MakeGost2Token(); }, 0x2203, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ISender> sender(c.make().release());
        std::unique_ptr<IToken> token = IToken::create(sender);
        if (c.switchTo)
            token->switchToApplet(c.applet);
        else
            token->useAsApplet(c.applet);
        IAppCrypto& cry = *token->crypto();
        const std::function<void()> calls[] = {
            [&] { cry.list(0); },
            [&] { cry.select({0x3F00}); },
            [&] { cry.provider(0x1001); },
            [&] { cry.decrypt(TBytes(1)); },
            [&] { cry.genKeyPair(1, false); },
            [&] { cry.startHash(1); },
        };
        for (const auto& call : calls) EXPECT_EQ(Outcome(call), "code FACE");
    }
}

}  // namespace
