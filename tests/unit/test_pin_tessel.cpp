// The Tessel PIN facet against a scripted card: its designators read from the
// card, the PIN objects' counters and verified state, the challenge-response and
// plain logins, changes through secure messaging, logout, and login tickets.
#include <gtest/gtest.h>

#include "applet_tessel.h"
#include "apppin/pin_tessel.h"
#include "raised.h"
#include "java_card_peer.h"
#include "scripted_sender.h"
#include "tessel_ticket.h"

using namespace libapdu;
using tessel_test::TicketParts;
using tessel_test::TicketText;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

const char kReadDesignator[] = "80 A4 08 0C 06 3F 00 30 00 30 02";
const char kDesignatorAnswer[] = "62 04 86 02 00 24 90 00";

// Records what the PIN facet hands to secure messaging and answers it.
struct RecordingPack : IAppPack {
    std::vector<TBytes> commands;
    TBytes answer = Hex("90 00");
    void sm(const TBytes& command, TBytes& out) override {
        commands.push_back(command);
        out = answer;
    }
};

// TDEA-CBC decryption (two-key, zero IV) of a 16-byte response.
TBytes Decrypt(const TBytes& key16, const TBytes& in) { return testing_card::TdesCbc(key16, in, TBytes(), false); }

TBytes Sha1Key(const TBytes& pin) {
    TBytes h = cardsim::Sha1(pin);
    h.resize(16);
    return h;
}

class PinTessel : public ::testing::Test {
protected:
    void SetUp() override { applet.setPack(pack); }
    void TearDown() override { EXPECT_EQ(card.pending(), 0u) << "scripted commands left unsent"; }

    void designators() { card.expect(kReadDesignator, kDesignatorAnswer, 258); }
    // SELECT of [3F00, ref] answered with the 85 value, then 80 CE with `state`.
    void selectPin(unsigned char ref, const std::string& attributes, const std::string& state = "90 00") {
        TBytes select = Hex("80 A4 08 0C 04 3F 00 00");
        select.push_back(ref);
        select.push_back(0x00);
        const TBytes a = Hex(attributes);
        TBytes fcp = {0x62, static_cast<unsigned char>(a.size() + 2), 0x85, static_cast<unsigned char>(a.size())};
        card.expect(select, Concat(Concat(fcp, a), Hex("90 00")), 258);
        card.expect(Hex("80 CE 00 00 00"), Hex(state), 256);
        pin->select({0x3F00, ref});
    }

    ScriptedSender card;
    CAppletTessel applet{&card};
    RecordingPack* pack = new RecordingPack;
    IAppPin* pin = applet.pin();
    CPinTessel& tessel() { return *static_cast<CPinTessel*>(pin); }
};

TEST_F(PinTessel, DesignatorsComeFromTheUserPinsReferenceOnTheCard) {
    designators();
    EXPECT_EQ(pin->pathUser(), (path{0x3F00, 0x24}));
    EXPECT_EQ(pin->pathAdmin(), (path{0x3F00, 0x10}));
    EXPECT_EQ(pin->pathGlobal(), (path{0x3F00, 0x01}));
    EXPECT_EQ(tessel().pathCounter(), (path{0x3F00, 0x20}));
    EXPECT_EQ(pin->encoding(), 3);
    pin->pathUser();  // read once
    EXPECT_EQ(card.sent.size(), 1u);
}

TEST_F(PinTessel, ALongFormTemplateReadsLikeAShortOne) {
    card.expect(kReadDesignator, "62 FF 00 04 86 02 00 20 90 00");
    EXPECT_EQ(pin->pathUser(), (path{0x3F00, 0x20}));
}

TEST_F(PinTessel, AFailedDesignatorReadIsTriedAgainNeverTakenForTheRoot) {
    card.expect(kReadDesignator, "00 04 86 02 00 24 90 00");
    EXPECT_THROW(pin->pathUser(), int);
    card.expect(kReadDesignator, "62 03 86 01 24 90 00");  // too short for the reference
    EXPECT_THROW(pin->pathUser(), int);
    card.expect(kReadDesignator, "62 05 86 02 00 24 90 00");  // the template runs into the status word
    EXPECT_THROW(pin->pathUser(), int);
    card.expect(kReadDesignator, "6A 82");
    EXPECT_EQ(CodeOf([&] { pin->pathUser(); }), 0x6A82);
    designators();
    EXPECT_EQ(pin->pathUser(), (path{0x3F00, 0x24}));
}

TEST_F(PinTessel, SelectReadsTheCountersByKind) {
    struct Case {
        const char* attributes;
        unsigned char left, max;
    };
    const Case cases[] = {
        {"00 24 01 00 3A", 3, 10}, {"00 24 00 00 55", 5, 5}, {"00 24 05 00 3A", 0xFF, 0xFF}, {"00 24 05", 0xFF, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        selectPin(0x24, c.attributes);
        const PinInfo i = pin->info();
        EXPECT_EQ(i.triesLeft, c.left);
        EXPECT_EQ(i.triesMax, c.max);
        EXPECT_EQ(i.minLength, 4);
        EXPECT_EQ(i.maxLength, 16);
        EXPECT_EQ(i.loginState, 0);
    }
    // Values too short for what is read from them, or missing.
    for (const char* answer : {"62 05 85 03 00 24 01 90 00", "62 04 85 02 00 24 90 00", "62 04 83 02 00 24 90 00",
                               "62 07 85 05 00 24 01 00 90 00"}) {
        SCOPED_TRACE(answer);
        card.expect("80 A4 08 0C 04 3F 00 00 24 00", answer);
        EXPECT_EQ(CodeOf([&] { pin->select({0x3F00, 0x24}); }), 0x6281);
    }
    EXPECT_EQ(tessel().selectedReference(), 0x24);
    EXPECT_EQ(CodeOf([&] { pin->select({}); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { pin->select(path(128, 0x3F00)); }), 0x6B00);
}

TEST_F(PinTessel, APinOfKind0FCountsInTheCounterObjectAndIsSelectedAgain) {
    card.expect("80 A4 08 0C 04 3F 00 00 11 00", "62 07 85 05 00 11 0F 00 00 90 00");
    card.expect("80 A4 08 0C 04 3F 00 00 20 00", "62 07 85 05 00 20 0E 00 45 90 00", 256);
    card.expect("80 A4 08 0C 04 3F 00 00 11 00", "62 07 85 05 00 11 0F 00 00 90 00", 258);
    card.expect("80 CE 00 00 00", "90 00");
    pin->select({0x3F00, 0x11});
    EXPECT_EQ(pin->info().triesLeft, 4);
    EXPECT_EQ(pin->info().triesMax, 5);
    // The login goes to the PIN object, not to the counter object.
    designators();
    card.expect("00 20 00 00 04 31 31 31 31", "90 00");
    pin->login(Hex("31 31 31 31"));

    // A malformed counter answer leaves the counters unknown.
    card.expect("80 A4 08 0C 04 3F 00 00 11 00", "62 07 85 05 00 11 0F 00 00 90 00");
    card.expect("80 A4 08 0C 04 3F 00 00 20 00", "62 05 85 03 00 20 0E 90 00");
    card.expect("80 A4 08 0C 04 3F 00 00 11 00", "62 07 85 05 00 11 0F 00 00 90 00");
    card.expect("80 CE 00 00 00", "90 00");
    pin->select({0x3F00, 0x11});
    EXPECT_EQ(pin->info().triesLeft, 0xFF);
}

TEST_F(PinTessel, TheVerifiedStateComesFromTheCardsList) {
    struct Case {
        unsigned char ref;
        const char* state;
        unsigned short login;
    };
    const Case cases[] = {
        {0x82, "01 02 81 01 02 82 90 00", 0xFF},
        {0x83, "01 02 81 01 02 82 90 00", 0x00},
        {0x82, "01 82 90 00", 0x00},  // two data bytes hold no entry
        {0x81, "01 02 81 01 90 00", 0xFF},
    };
    for (const Case& c : cases) {
        selectPin(c.ref, "00 00 01 00 33", c.state);
        EXPECT_EQ(pin->info().loginState, c.login) << c.state;
    }
}

TEST_F(PinTessel, TheUserPinAnswersTheCardsChallenge) {
    selectPin(0x24, "00 24 01 00 3A");
    designators();
    card.expect("00 84 00 00 08", "01 02 03 04 05 06 07 08 90 00", 10);
    card.expectPrefix(Hex("80 20 00 00 10"), 21, Hex("90 00"), 2);
    pin->login(Hex("31 32 33 34"));
    const TBytes plain = Decrypt(Sha1Key(Hex("31 32 33 34")), TBytes(card.sent.back().begin() + 5, card.sent.back().end()));
    EXPECT_EQ(TBytes(plain.begin() + 8, plain.end()), Hex("01 02 03 04 05 06 07 08"));
    EXPECT_EQ(pin->info().loginState, 0xFF);
    EXPECT_EQ(pin->info().triesLeft, 10);

    // A short challenge, and a wrong PIN.
    card.expect("00 84 00 00 08", "01 02 03 04 05 06 07 90 00");
    EXPECT_EQ(CodeOf([&] { pin->login(Hex("31 32 33 34")); }), 0x6281);
    card.expect("00 84 00 00 08", "01 02 03 04 05 06 07 08 90 00");
    card.expectPrefix(Hex("80 20 00 00 10"), 21, Hex("63 C9"));
    EXPECT_EQ(CodeOf([&] { pin->login(Hex("31 32 33 35")); }), 0x6300);
    EXPECT_EQ(pin->info().triesLeft, 9);
}

TEST_F(PinTessel, OtherPinsGoOutInClearAndTheGlobalOneIsRefused) {
    selectPin(0x10, "00 10 00 00 33");
    designators();
    card.expect("00 20 00 00 04 31 32 33 34", "90 00", 2);
    pin->login(Hex("31 32 33 34"));
    // 208 bytes that are no ticket are a PIN like any other.
    const TBytes notATicket(208, 'A');
    card.expect(Concat(Hex("00 20 00 00 D0"), notATicket), Hex("90 00"));
    pin->login(notATicket);
    EXPECT_EQ(CodeOf([&] { pin->login(TBytes(256, '1')); }), 0x6B00);
    EXPECT_EQ(CodeOf([&] { pin->externalLogin(TBytes(256, '1')); }), 0x6B00);
    card.expect("80 82 00 00 02 AA BB", "90 00", 2);
    pin->externalLogin(Hex("AA BB"));

    selectPin(0x01, "00 01 00 00 33");
    const size_t before = card.sent.size();
    EXPECT_EQ(CodeOf([&] { pin->login(Hex("31 32 33 34")); }), 0xFACE);
    EXPECT_EQ(card.sent.size(), before);
}

TEST_F(PinTessel, AFailedPresentationCostsATryWithoutWrapping) {
    struct Case {
        const char* attributes;
        unsigned char after;
    };
    bool first = true;
    for (const Case& c : {Case{"00 10 01 00 0A", 0x00}, Case{"00 10 05 00 00", 0xFE}, Case{"00 10 01 00 2A", 0x01}}) {
        selectPin(0x10, c.attributes);
        if (first) designators();
        first = false;
        card.expect("00 20 00 00 01 31", "63 C0");
        EXPECT_EQ(CodeOf([&] { pin->login(Hex("31")); }), 0x6300);
        EXPECT_EQ(pin->info().triesLeft, c.after) << c.attributes;
    }
    card.expect("00 20 00 00 01 31", "69 83");
    EXPECT_EQ(CodeOf([&] { pin->login(Hex("31")); }), 0x6983);
}

TEST_F(PinTessel, ChangesTravelUnderSecureMessaging) {
    pin->change(Hex("31 32 33 34"));
    ASSERT_EQ(pack->commands.size(), 1u);
    EXPECT_EQ(pack->commands[0], Hex("80 24 00 00 09 62 81 06 81 04 31 32 33 34"));
    // The longest new PIN fills one-byte lengths; one more byte is refused.
    pin->change(TBytes(250, '7'));
    EXPECT_EQ(pack->commands[1].size(), 5u + 255u);
    EXPECT_EQ(TBytes(pack->commands[1].begin(), pack->commands[1].begin() + 10), Hex("80 24 00 00 FF 62 81 FC 81 FA"));
    for (const TBytes& bad : {TBytes(251, '7'), TBytes{}, Hex("31 80"), Hex("31 00 32"), Hex("C3 A4")})
        EXPECT_EQ(CodeOf([&] { pin->change(bad); }), 0x6300) << testing_card::ToHex(bad);
    EXPECT_EQ(pack->commands.size(), 2u);
    EXPECT_TRUE(card.sent.empty());

    pack->answer = Hex("67 00");
    EXPECT_EQ(CodeOf([&] { pin->change(Hex("31 32 33 34")); }), 0x6300);
    pack->answer = Hex("69 82");
    EXPECT_EQ(CodeOf([&] { pin->change(Hex("31 32 33 34")); }), 0x6900);
}

TEST_F(PinTessel, UnblockPreparesTheCardAndChangesWhateverItAnswers) {
    card.expect("80 2C 00 00 00", "69 82", 2);
    pin->unblock(Hex("35 36 37 38"));
    EXPECT_EQ(pack->commands.back(), Hex("80 24 00 00 09 62 81 06 81 04 35 36 37 38"));
    EXPECT_EQ(CodeOf([&] { pin->unblock(Hex("00")); }), 0x6300);
    applet.setPack(new IAppPack);
    card.expect("80 2C 00 00 00", "90 00", 2);
    EXPECT_EQ(CodeOf([&] { pin->unblock(Hex("35 36 37 38")); }), 0xFACE);
}

TEST_F(PinTessel, LogoutNamesTheSelectedReferenceAndForgetsTheLoginFirst) {
    card.expect("80 28 00 00 04 00 00 00 00", "90 00", 2);
    pin->logout();
    selectPin(0x24, "00 24 01 00 3A", "01 02 24 90 00");
    EXPECT_EQ(pin->info().loginState, 0xFF);
    card.expect("80 28 00 00 04 00 00 00 24", "69 82");
    EXPECT_EQ(CodeOf([&] { pin->logout(); }), 0x6900);
    EXPECT_EQ(pin->info().loginState, 0);
    EXPECT_EQ(pin->info().triesLeft, 3);
}

// ---------------------------------------------------------------- tickets

TEST_F(PinTessel, TicketsRunTheStepsTheirTypeAsksFor) {
    const TBytes key = Hex("3C 1A 9E 52 07 D4 6B 88 F1 25 40 AD 19 6E C3 77");
    struct Case {
        unsigned int type;
        bool bioPart, pinPart;
        bool bio, pinStep;
    };
    const Case cases[] = {
        {0x20, true, true, false, true}, {0x23, true, true, true, false}, {0x25, true, true, true, true},
        {0x24, true, false, true, false}, {0x24, false, true, false, true}, {0x24, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.type << " " << c.bioPart << c.pinPart);
        CAppletTessel fresh(&card);
        auto* recording = new RecordingPack;
        fresh.setPack(recording);
        TicketParts t;
        t.type = c.type;
        t.key = c.bioPart ? key : TBytes(16, 0);
        t.keyId = c.bioPart ? Hex("00 00 01 07") : TBytes(4, 0);
        t.pin = c.pinPart ? U"1234" : U"";
        card.sent.clear();
        designators();
        if (c.bio) {
            card.expect("00 84 00 00 08", "11 22 33 44 55 66 77 88 90 00", 10);
            card.expect("80 A4 08 0C 04 3F 00 00 23 00", "90 00", 258);
            card.expectPrefix(Hex("00 22 03 00 0C 00 00 01 07"), 17, Hex("90 00"), 1024);
        }
        if (c.pinStep) {
            card.expect("80 A4 08 0C 04 3F 00 00 24 00", "62 07 85 05 00 24 01 00 3A 90 00");
            card.expect("80 CE 00 00 00", "90 00");
            card.expect("00 84 00 00 08", "01 02 03 04 05 06 07 08 90 00");
            card.expectPrefix(Hex("80 20 00 00 10"), 21, Hex("90 00"));
        }
        fresh.pin()->login(TicketText(t));
        EXPECT_EQ(fresh.pin()->info().loginState, 0xFF);
        EXPECT_EQ(card.pending(), 0u);
        if (c.pinStep) {
            const TBytes plain = Decrypt(Sha1Key(Hex("31 32 33 34")), TBytes(card.sent.back().begin() + 5, card.sent.back().end()));
            EXPECT_EQ(TBytes(plain.begin() + 8, plain.end()), Hex("01 02 03 04 05 06 07 08"));
        }
        if (c.bio) {
            const TBytes& auth = card.sent[3];
            const TBytes e = Decrypt(key, TBytes(auth.begin() + 9, auth.end()));
            EXPECT_EQ(e, Hex("11 22 33 44 55 66 77 88"));
        }
    }
}

TEST_F(PinTessel, TicketsThatAskForNothingOrAreNoTicketsDoNotLogIn) {
    selectPin(0x10, "00 10 00 00 33");
    designators();
    pin->pathUser();
    // A ticket that asks for no step: refused, nothing sent.
    for (unsigned int type : {0x21u, 0x00u, 0x24u}) {
        TicketParts t;
        t.type = type;
        if (type == 0x24) {
            t.key = TBytes(16, 0);
            t.keyId = TBytes(4, 0);
            t.pin = U"";
        }
        const size_t before = card.sent.size();
        EXPECT_EQ(CodeOf([&] { pin->login(TicketText(t)); }), 0x6300) << type;
        EXPECT_EQ(card.sent.size(), before);
    }
    // A wrong check value, another record length, or too few Base64 characters: a PIN.
    TicketParts forged;
    forged.validCheck = false;
    TicketParts longer;
    longer.declared = 0xBE;
    TBytes shortText = TicketText(TicketParts());
    shortText[20] = '!';
    for (const TBytes& text : {TicketText(forged), TicketText(longer), shortText}) {
        card.expect(Concat(Hex("00 20 00 00 D0"), text), Hex("63 C2"));
        EXPECT_EQ(CodeOf([&] { pin->login(text); }), 0x6300);
    }
}

TEST_F(PinTessel, AMalformedTicketBehindAValidCheckSendsNothing) {
    selectPin(0x10, "00 10 00 00 33");
    designators();
    pin->pathUser();
    TBytes d = tessel_test::TicketBytes(TicketParts());
    d[24] = 0x00;  // no tag
    crypto_corvid_md5_24(d.data() + 24, d.size() - 24, nullptr, 0, d.data(), 24);
    const std::string text = base64_encode(d);
    const size_t before = card.sent.size();
    EXPECT_THROW(pin->login(TBytes(text.begin(), text.end())), int);
    EXPECT_EQ(card.sent.size(), before);
}

TEST_F(PinTessel, ABiometricStepThatFailsCostsATryAndSkipsThePin) {
    selectPin(0x24, "00 24 01 00 3A");
    designators();
    TicketParts t;
    t.type = 0x25;
    card.expect("00 84 00 00 08", "11 22 33 44 55 66 77 88 90 00");
    card.expect("80 A4 08 0C 04 3F 00 00 23 00", "90 00");
    card.expectPrefix(Hex("00 22 03 00 0C"), 17, Hex("69 82"));
    EXPECT_EQ(CodeOf([&] { pin->login(TicketText(t)); }), 0x6900);
    EXPECT_EQ(pin->info().triesLeft, 2);
    EXPECT_EQ(pin->info().loginState, 0);
}

// A ticket whose record element holds no byte (declared empty, or cut off at
// its length) loads as a record of zeros: nothing is copied from the empty
// value. Found by the tessel_pin fuzz target (seed ticket_without_record).
TEST(TesselTicket, ARecordWithoutBytesLoadsAsZeros) {
    const TBytes check(24, 0x00);
    TBytes emptyRecord = check, cutRecord = check;
    emptyRecord.insert(emptyRecord.end(), {0x01, 0x00});
    cutRecord.insert(cutRecord.end(), {0x01, 0xBD});
    for (const TBytes& decoded : {emptyRecord, cutRecord}) {
        const std::string text = base64_encode(decoded);
        CTesselTicket ticket;
        std::memset(ticket.record, 0xEE, sizeof ticket.record);
        ticket.load(TBytes(text.begin(), text.end()));
        const TBytes record(ticket.record, ticket.record + sizeof ticket.record);
        EXPECT_EQ(record, TBytes(sizeof ticket.record, 0x00)) << decoded.size();
        EXPECT_FALSE(ticket.bioPresent());
        EXPECT_FALSE(ticket.pinPresent());
    }
}

}  // namespace
