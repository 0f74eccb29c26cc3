// The Gost2 crypto facet against a scripted card: argument checks before any
// traffic, the exact command of every operation and the lengths it accepts.
#include <gtest/gtest.h>

#include "appcry/cry_gost2.h"
#include "apperror/apperror.h"
#include "cry_test_support.h"
#include "test_applet.h"

using namespace libapdu;
using cry_test::Outcome;
using testing_card::Hex;
using testing_card::ScriptedSender;
using testing_card::ToHex;

namespace {

std::string Bytes(size_t n, const char* byte) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += std::string(" ") + byte;
    return s;
}

struct Step {
    std::string command, answer;
};

struct Case {
    const char* what;
    std::function<TBytes(IAppCrypto&)> call;
    std::vector<Step> steps;  // none: refused before sending
    std::string outcome;      // "ok <result hex>", "int 0" or "code XXXX"
};

TBytes None() { return TBytes(); }
const TBytes kPub = Hex(Bytes(64, "5A"));
const TBytes kUkm = Hex("01 02 03 04 05 06 07 08");
const TBytes kHash = Hex(Bytes(32, "11"));

TEST(CryGost2, CommandsChecksAndAnswerLengths) {
    const std::string pubUkm = Bytes(64, "5A") + " 01 02 03 04 05 06 07 08";
    const Case cases[] = {
        {"genKeyPair 2", [](IAppCrypto& c) { return TBytes{c.genKeyPair(2, false)}; },
         {{"80 1C 50 00 03 02 01 00 00", "07 90 00"}}, "ok 07"},
        {"genKeyPair with the flag", [](IAppCrypto& c) { return TBytes{c.genKeyPair(1, true)}; },
         {{"80 1C 50 00 03 01 01 01 00", "01 90 00"}}, "ok 01"},
        {"genKeyPair answered with two bytes", [](IAppCrypto& c) { return TBytes{c.genKeyPair(2, false)}; },
         {{"80 1C 50 00 03 02 01 00 00", "07 08 90 00"}}, "code 6281"},
        {"genKeyPair 3", [](IAppCrypto& c) { return TBytes{c.genKeyPair(3, false)}; }, {}, "code 6B00"},
        {"genKeyPair 0", [](IAppCrypto& c) { return TBytes{c.genKeyPair(0, false)}; }, {}, "code 6B00"},
        {"removeKeyPair 5 of kind 3", [](IAppCrypto& c) { c.removeKeyPair(5, 3); return None(); },
         {{"80 1C 60 00 02 03 05", "90 00"}}, "ok "},
        {"removeKeyPair of key 0: the key is checked first", [](IAppCrypto& c) { c.removeKeyPair(0, 9); return None(); },
         {}, "code 6B00"},
        {"removeKeyPair of kind 2", [](IAppCrypto& c) { c.removeKeyPair(1, 2); return None(); }, {}, "code 6B00"},
        {"getPublicKey(1, 0)", [](IAppCrypto& c) { return c.getPublicKey(1, 0); },
         {{"80 1C 70 00 02 01 00 00", Bytes(64, "AB") + " 90 00"}}, "ok" + Bytes(64, "AB")},
        {"getPublicKey of 63 bytes", [](IAppCrypto& c) { return c.getPublicKey(4, 1); },
         {{"80 1C 70 00 02 04 01 00", Bytes(63, "AB") + " 90 00"}}, "code 6281"},
        {"getPublicKey of kind 2", [](IAppCrypto& c) { return c.getPublicKey(2, 1); }, {}, "code 6B00"},
        {"list 1 of six bytes", [](IAppCrypto& c) { return c.getListCryptObjects(1, 1); },
         {{"80 1C 10 00 02 01 01 00", "01 02 03 04 05 06 90 00"}}, "ok 01 02 03 04 05 06"},
        {"list 1 of five bytes", [](IAppCrypto& c) { return c.getListCryptObjects(1, 1); },
         {{"80 1C 10 00 02 01 01 00", "01 02 03 04 05 90 00"}}, "code 6281"},
        {"list 3 of six bytes", [](IAppCrypto& c) { return c.getListCryptObjects(3, 1); },
         {{"80 1C 10 00 02 03 01 00", "01 02 03 04 05 06 90 00"}}, "code 6281"},
        {"list 4 of five bytes: not measured", [](IAppCrypto& c) { return c.getListCryptObjects(4, 2); },
         {{"80 1C 10 00 02 04 02 00", "01 02 03 04 05 90 00"}}, "ok 01 02 03 04 05"},
        {"an empty list", [](IAppCrypto& c) { return c.getListCryptObjects(3, 1); },
         {{"80 1C 10 00 02 03 01 00", "90 00"}}, "ok "},
        {"list of kind 5", [](IAppCrypto& c) { return c.getListCryptObjects(5, 1); }, {}, "code 6B00"},
        {"list of kind 0", [](IAppCrypto& c) { return c.getListCryptObjects(0, 1); }, {}, "code 6B00"},
        {"list for key 0", [](IAppCrypto& c) { return c.getListCryptObjects(1, 0); }, {}, "code 6B00"},
        {"startHash 3", [](IAppCrypto& c) { c.startHash(3); return None(); }, {{"80 3E 30 03", "90 00"}}, "ok "},
        {"startHash 4", [](IAppCrypto& c) { c.startHash(4); return None(); }, {}, "code 6B00"},
        {"continueHash of 255 bytes", [](IAppCrypto& c) { c.continueHash(TBytes(255, 0x22)); return None(); },
         {{"80 3E 40 00 FF" + Bytes(255, "22"), "90 00"}}, "ok "},
        {"continueHash of nothing", [](IAppCrypto& c) { c.continueHash(TBytes()); return None(); }, {}, "code 6B00"},
        {"continueHash of 256 bytes", [](IAppCrypto& c) { c.continueHash(TBytes(256, 0x22)); return None(); }, {},
         "code 6B00"},
        {"finishHash of 32", [](IAppCrypto& c) { return c.finishHash(); },
         {{"80 3E 50 00 00", Bytes(32, "33") + " 90 00"}}, "ok" + Bytes(32, "33")},
        {"finishHash of 64", [](IAppCrypto& c) { return c.finishHash(); },
         {{"80 3E 50 00 00", Bytes(64, "33") + " 90 00"}}, "ok" + Bytes(64, "33")},
        {"finishHash of 48", [](IAppCrypto& c) { return c.finishHash(); },
         {{"80 3E 50 00 00", Bytes(48, "33") + " 90 00"}}, "code 6281"},
        {"sign with no extra", [](IAppCrypto& c) { return c.signUseHashData(1, TBytes(), kHash); },
         {{"80 3E 10 01 22 01 00" + Bytes(32, "11") + " 00", Bytes(64, "44") + " 90 00"}}, "ok" + Bytes(64, "44")},
        {"sign with two extra bytes", [](IAppCrypto& c) { return c.signUseHashData(2, Hex("E1 E2"), kHash); },
         {{"80 3E 10 01 24 02 02 E1 E2" + Bytes(32, "11") + " 00", Bytes(64, "44") + " 90 00"}},
         "ok" + Bytes(64, "44")},
        {"sign with 221 extra bytes: Lc FF", [](IAppCrypto& c) { return c.signUseHashData(2, TBytes(221, 0xE0), kHash); },
         {{"80 3E 10 01 FF 02 DD" + Bytes(221, "E0") + Bytes(32, "11") + " 00", Bytes(64, "44") + " 90 00"}},
         "ok" + Bytes(64, "44")},
        {"sign with 222 extra bytes", [](IAppCrypto& c) { return c.signUseHashData(2, TBytes(222, 0xE0), kHash); }, {},
         "code 6B00"},
        {"sign with key 0", [](IAppCrypto& c) { return c.signUseHashData(0, TBytes(), TBytes(5)); }, {}, "code 6B00"},
        {"sign a 31-byte hash", [](IAppCrypto& c) { return c.signUseHashData(1, TBytes(), TBytes(31)); }, {},
         "code 6B00"},
        {"sign answered with 32 bytes", [](IAppCrypto& c) { return c.signUseHashData(1, TBytes(), kHash); },
         {{"80 3E 10 01 22 01 00" + Bytes(32, "11") + " 00", Bytes(32, "44") + " 90 00"}}, "code 6281"},
        {"agreement in mode 2", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 2, true); },
         {{"80 5C 10 04 4B 01 02 01" + pubUkm, Bytes(32, "66") + Bytes(32, "77") + " 90 00"}}, "ok" + Bytes(32, "66")},
        {"agreement in mode 0 asks the key's list 4 first", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 0, true); },
         {{"80 1C 10 00 02 04 01 00", "01 09 90 00"},
          {"80 5C 10 04 4B 01 09 01" + pubUkm, Bytes(32, "66") + Bytes(32, "77") + " 90 00"}},
         "ok" + Bytes(32, "66")},
        {"agreement in mode 0 without the flag asks list 3", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 2, 0, false); },
         {{"80 1C 10 00 02 03 02 00", "02 0A 0B 0C 90 00"},
          {"80 5C 10 04 4B 02 0A 01" + pubUkm, Bytes(64, "66") + " 90 00"}},
         "ok" + Bytes(32, "66")},
        {"agreement in mode 0, the list names another key", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 0, true); },
         {{"80 1C 10 00 02 04 01 00", "02 09 90 00"}}, "code 6B00"},
        {"agreement in mode 0, an empty list", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 0, true); },
         {{"80 1C 10 00 02 04 01 00", "90 00"}}, "code 6B00"},
        {"agreement in mode 0, a list of one byte", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 0, true); },
         {{"80 1C 10 00 02 04 01 00", "01 90 00"}}, "code 6B00"},
        {"agreement answered with 32 bytes", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 1, false); },
         {{"80 5C 10 04 4B 01 01 01" + pubUkm, Bytes(32, "66") + " 90 00"}}, "code 6281"},
        {"agreement with a 63-byte key", [](IAppCrypto& c) { return c.genAgreementKey(TBytes(63), kUkm, 0, 9, false); }, {},
         "code 6B00"},
        {"agreement with a 7-byte ukm", [](IAppCrypto& c) { return c.genAgreementKey(kPub, TBytes(7), 0, 9, false); }, {},
         "code 6B00"},
        {"agreement with key 0", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 0, 1, false); }, {}, "code 6B00"},
        {"agreement in mode 3", [](IAppCrypto& c) { return c.genAgreementKey(kPub, kUkm, 1, 3, false); }, {}, "code 6B00"},
        {"a refused status word", [](IAppCrypto& c) { c.startHash(1); return None(); }, {{"80 3E 30 01", "6A 82"}},
         "code 6A82"},
        {"a card that says nothing", [](IAppCrypto& c) { return c.finishHash(); }, {{"80 3E 50 00 00", ""}}, ""},
        {"the facet has no containers", [](IAppCrypto& c) { return TBytes(c.list(0).size()); }, {}, "code FACE"},
        {"nor provider", [](IAppCrypto& c) { c.provider(0x1001); return None(); }, {}, "code FACE"},
        {"nor decipher", [](IAppCrypto& c) { return c.decrypt(TBytes(1)); }, {}, "code FACE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSender card;
        for (const Step& s : c.steps) card.expect(s.command, s.answer);
        testing_card::BareApplet applet(&card, new CErrorGost2);
        applet.setCrypto(new CCryGost2(&applet));
        TBytes result;
        const std::string outcome = Outcome([&] { result = c.call(*applet.crypto()); });
        if (c.outcome.empty()) {
            EXPECT_NE(outcome, "ok");  // whatever the error facet makes of no status word
        } else {
            EXPECT_EQ(outcome == "ok" ? "ok " + ToHex(result) : outcome, c.outcome);
        }
        EXPECT_TRUE(card.done());
        EXPECT_EQ(card.sent.size(), c.steps.size());
    }
}

}  // namespace
