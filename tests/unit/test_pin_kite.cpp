// The Kite and Kite4 PIN facets against a scripted card, over the real Kite file
// system: designators, GET DATA 0184, the host's retry record after each kind of
// answer, the login MAC, the changes of every mode with the nine FIPS key
// changes, the unblock command and the refusals made before anything is sent.
#include "apppack/pack_kite.h"
#include "apppin/pin_kite.h"
#include "appfs/fs_kite.h"
#include "info_test_support.h"
#include "sim_crypto.h"

using namespace libapdu;
using infotest::FakeInfo;
using infotest::H;
using infotest::RaisedCode;
using testing_card::Concat;
using testing_card::ScriptedSender;
using testing_card::ToHex;

namespace {

const TBytes kSalt = H("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14");
const TBytes kChallenge = H("C1 C2 C3 C4 C5 C6 C7 C8");
const TBytes kPin = {'1', '2', '3', '4'};
const TBytes kNewPin = {'9', '8', '7', '6', '5'};

// A pack that records the plain commands handed to sm and answers each with a status word.
struct RecordingPack : CPackCommon {
    using CPackCommon::CPackCommon;
    void sm(const TBytes& command, TBytes& out) override {
        plain.push_back(command);
        // The MAC key each protected command would go out under.
        macKeys.push_back(RaisedCode([&] { keyGet(1); }) ? TBytes() : keyGet(1));
        out = H(answer);
    }
    std::vector<TBytes> plain;
    std::vector<TBytes> macKeys;
    std::string answer = "90 00";
};

struct KitePin {
    explicit KitePin(bool kite4 = false, bool fips = false) : kite4(kite4), fips(fips), applet(&card, new CErrorKite) {
        applet.setFs(kite4 ? new CFSKite4(&applet) : new CFSKite(&applet));
        applet.setInfo(new FakeInfo(fips));
        pack = new RecordingPack(&applet);
        applet.setPack(pack);
        pin = kite4 ? new CPinKite4(&applet) : new CPinKite(&applet);
        applet.setPin(pin);
    }
    ~KitePin() { EXPECT_TRUE(card.done()) << "scripted commands were never sent"; }

    // A select answer for a file of `size` bytes in this generation's form.
    std::string fileFci(unsigned short size = 64) const {
        char b[80];
        std::snprintf(b, sizeof b, "6F 0D 82 03 01 00 00 %s 02 %02X %02X 86 02 00 00 90 00", kite4 ? "80" : "81",
                      size >> 8, size & 0xFF);
        return b;
    }
    void expectPinFile() {
        card.expect(fips ? "00 A4 08 00 06 66 66 50 00 00 0F 00" : "00 A4 08 00 06 66 66 10 00 00 04 00", fileFci());
    }
    void expectHome() {
        card.expect(fips ? "00 A4 08 00 04 66 66 50 00 00" : "00 A4 08 00 02 66 66 00",
                    "6F 0A 82 03 38 00 00 86 03 00 00 00 90 00");
    }
    void expectKeyGen() {
        expectPinFile();
        card.expect(H("00 B0 00 00 14"), Concat(kSalt, H("90 00")));
    }
    std::string recordRead(bool user = true) const {
        return !user ? "00 B0 00 02 02" : fips ? "00 B0 00 29 02" : "00 B0 00 00 02";
    }
    // select(designator) of the user (or admin) PIN, the record answering `record`.
    void selectRecorded(bool user, const std::string& getData, const std::string& record) {
        card.expect("00 CA 01 84 00", getData, 258);
        expectPinFile();
        card.expect(recordRead(user), record + " 90 00");
        pin->select(user ? pin->pathUser() : pin->pathAdmin());
    }
    // GET CHALLENGE, the folder, EXTERNAL AUTHENTICATE with the MAC of the challenge under `key`.
    void expectAuthenticate(unsigned char reference, const TBytes& key, const std::string& sw) {
        card.expect(H("00 84 00 00 08"), Concat(kChallenge, H("90 00")), 10);
        expectHome();
        TBytes auth = {0x00, 0x82, 0x00, static_cast<unsigned char>(reference | 0x80), 0x08};
        card.expect(Concat(auth, cardsim::TdesMac(key, kChallenge)), H(sw), 2);
    }
    TBytes userKey(const TBytes& p) const { return fips ? cardsim::JavaKey(1, p, kSalt) : cardsim::PinKey24(p); }

    bool kite4, fips;
    ScriptedSender card;
    testing_card::BareApplet applet;
    RecordingPack* pack;
    CPinKite* pin;
};

// ---------------------------------------------------------------- designators and select

TEST(KitePin, DesignatorsOfEachMode) {
    KitePin plain, fips(true, true);
    EXPECT_EQ(plain.pin->pathUser(), path{0x01});
    EXPECT_EQ(plain.pin->pathAdmin(), path{0x05});
    EXPECT_TRUE(plain.pin->pathGlobal().empty());
    for (const path* p : {&plain.pin->pathEnc(), &plain.pin->pathSig(), &plain.pin->pathUser2(),
                          &plain.pin->pathEnc2(), &plain.pin->pathSig2()})
        EXPECT_TRUE(p->empty());
    EXPECT_EQ(fips.pin->pathUser(), path{0x11});
    EXPECT_TRUE(fips.pin->pathAdmin().empty());
    EXPECT_EQ(fips.pin->pathEnc(), path{0x12});
    EXPECT_EQ(fips.pin->pathSig(), path{0x13});
    EXPECT_EQ(fips.pin->pathUser2(), path{0x1A});
    EXPECT_EQ(fips.pin->pathEnc2(), path{0x1B});
    EXPECT_EQ(fips.pin->pathSig2(), path{0x1C});
    EXPECT_EQ(fips.pin->encoding(), 3);
    EXPECT_EQ(fips.pin->offset_userpin(), 41);
    EXPECT_EQ(plain.pin->offset_userpin(), 0);
    EXPECT_EQ(plain.pin->offset_adminpin(), 2);
}

TEST(KitePin, SelectReadsTheLoginStateAndTheRecord) {
    {
        KitePin k;
        k.selectRecorded(true, "07 01 90 00", "03 0A");
        const PinInfo i = k.pin->info();
        EXPECT_EQ(i.loginState, 0xFF);
        EXPECT_EQ(i.triesLeft, 3);
        EXPECT_EQ(i.triesMax, 10);
        EXPECT_EQ(i.minLength, 4);
        EXPECT_EQ(i.maxLength, 16);
        k.selectRecorded(false, "90 00", "0A 0A");
        EXPECT_EQ(k.pin->info().loginState, 0);
    }
    {
        // A FIPS user record lies at offset 41 of 000F.
        KitePin k(true, true);
        k.selectRecorded(true, "11 90 00", "05 0A");
        EXPECT_EQ(k.pin->info().triesLeft, 5);
        // Another designator: GET DATA only; 11 12 with reference 12 is verified.
        k.card.expect("00 CA 01 84 00", "11 12 90 00");
        k.pin->select(k.pin->pathSig());
        k.card.expect("00 CA 01 84 00", "11 12 90 00");
        k.pin->select(k.pin->pathEnc());
        EXPECT_EQ(k.pin->info().loginState, 0xFF);
        EXPECT_EQ(k.pin->info().triesLeft, 0xFF);
        EXPECT_EQ(k.pin->info().triesMax, 0xFF);
        // A reference above FF never matches a data byte.
        k.card.expect("00 CA 01 84 00", "12 90 00");
        k.pin->select({0x0112});
        EXPECT_EQ(k.pin->info().loginState, 0);
    }
    {
        // An unreadable PIN file leaves the counters unknown.
        KitePin k;
        k.card.expect("00 CA 01 84 00", "90 00");
        k.card.expect("00 A4 08 00 06 66 66 10 00 00 04 00", "6A 82");
        k.pin->select({0x01});
        EXPECT_EQ(k.pin->info().triesLeft, 0xFF);
        EXPECT_EQ(k.pin->info().loginState, 0);
        // A refused GET DATA is raised.
        k.card.expect("00 CA 01 84 00", "6A 88");
        EXPECT_EQ(RaisedCode([&] { k.pin->select({0x01}); }), 0x6A82);
    }
}

// ---------------------------------------------------------------- login and the retry record

TEST(KitePin, TheHostsRetryRecordFollowsTheLoginsAnswer) {
    struct Case {
        const char* sw;
        const char* record;
        const char* written;  // null: nothing written
        unsigned short raised;
        unsigned char triesLeft;
    };
    const Case cases[] = {
        {"63 00", "03 0A", "02 0A", 0x6300, 2}, {"63 00", "00 0A", nullptr, 0x6300, 0},
        {"90 00", "02 0A", "0A 0A", 0, 10},     {"90 00", "0A 0A", nullptr, 0, 10},
        {"69 83", "03 0A", nullptr, 0x6983, 3}, {"63 C2", "03 0A", nullptr, 0x6300, 3},
    };
    for (bool fips : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.sw) + " on " + c.record + (fips ? " (FIPS)" : ""));
            KitePin k(false, fips);
            k.selectRecorded(true, "90 00", "0A 0A");
            k.expectKeyGen();
            k.expectAuthenticate(fips ? 0x11 : 0x01, k.userKey(kPin), c.sw);
            k.expectPinFile();
            k.card.expect(k.recordRead(), std::string(c.record) + " 90 00");
            if (c.written) k.card.expect(std::string(fips ? "00 D6 00 29 02 " : "00 D6 00 00 02 ") + c.written, "90 00");
            EXPECT_EQ(RaisedCode([&] { k.pin->login(kPin); }), c.raised);
            EXPECT_EQ(k.pin->info().triesLeft, c.triesLeft);
            EXPECT_EQ(k.pin->info().loginState, c.raised ? 0 : 0xFF);
            // The key slots hold the PIN's keys either way.
            EXPECT_EQ(k.pack->keyGet(0), cardsim::PinKey24(kPin));
            EXPECT_EQ(k.pack->keyGet(1), cardsim::JavaKey(1, kPin, kSalt));
            EXPECT_EQ(k.pack->keyGet(3), cardsim::JavaKey(3, kPin, kSalt));
        }
    }
}

TEST(KitePin, AdminLoginKeysTheChallengeDirectlyAndLeavesTheSlots) {
    KitePin k;
    k.pack->keySet(2, H("AB"));
    k.selectRecorded(false, "90 00", "0A 0A");
    k.expectAuthenticate(0x05, cardsim::PinKey24(kPin), "90 00");
    k.expectPinFile();
    k.card.expect("00 B0 00 02 02", "0A 0A 90 00");
    k.pin->login(kPin);
    EXPECT_EQ(k.pack->keyGet(2), H("AB"));
    EXPECT_EQ(RaisedCode([&] { k.pack->keyGet(0); }), 0x6900);
}

TEST(KitePin, ALoginWithoutTheSaltUsesSlotZeroOrFailsOnFips) {
    {
        KitePin k;
        k.card.expect("00 CA 01 84 00", "90 00");
        k.pin->select({0x03});  // neither user nor admin: no record
        k.expectPinFile();
        k.card.expect("00 B0 00 00 14", "69 82");
        k.expectAuthenticate(0x03, cardsim::PinKey24(kPin), "90 00");
        k.pin->login(kPin);
        EXPECT_EQ(RaisedCode([&] { k.pack->keyGet(1); }), 0x6900);
    }
    {
        KitePin k(true, true);
        k.card.expect("00 CA 01 84 00", "90 00");
        k.pin->select(k.pin->pathSig());
        k.expectPinFile();
        k.card.expect("00 B0 00 00 14", "69 82");
        EXPECT_EQ(RaisedCode([&] { k.pin->login(kPin); }), 0x6900);
    }
}

TEST(KitePin, ChallengeMustBeEightBytes) {
    for (const char* answer : {"01 02 03 04 05 06 07 90 00", "01 02 03 04 05 06 07 08 09 90 00", "90 00"}) {
        KitePin k;
        k.card.expect("00 84 00 00 08", answer);
        EXPECT_EQ(RaisedCode([&] { k.pin->challengeGet(); }), 0x6281);
    }
}

// ---------------------------------------------------------------- changes

TEST(KitePin, ChangeCommandsWithoutFips) {
    struct Case {
        bool kite4;
        bool admin;
        const char* head;
    };
    const Case cases[] = {
        {false, false, "00 24 01 81 18"},
        {false, true, "00 24 01 85 18"},
        {true, false, "90 24 00 81 18"},
        {true, true, "90 24 00 81 18"},  // Kite4 changes the user key whatever is selected
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        KitePin k(c.kite4, false);
        k.selectRecorded(!c.admin, "90 00", "0A 0A");
        const bool md5Direct = c.admin && !c.kite4;
        if (!md5Direct) k.expectKeyGen();
        k.expectHome();
        k.card.expect(Concat(H(c.head), cardsim::PinKey24(kNewPin)), H("90 00"), 2);
        k.pin->change(kNewPin);
    }
}

TEST(KitePin, TheFipsChangeRunsNineKeyChangesAroundTwoLogins) {
    KitePin k(true, true);
    k.selectRecorded(true, "11 90 00", "0A 0A");
    k.pack->keySet(1, H("0101"));  // the keys of the current login, put aside and back
    k.pack->keySet(3, H("0303"));

    // Phase one: keys of the new PIN onto 1A 1B 1C, under the current login.
    k.expectKeyGen();
    k.expectHome();
    // The login on 1A with the new PIN.
    k.card.expect("00 CA 01 84 00", "11 90 00");
    k.expectKeyGen();
    k.expectAuthenticate(0x1A, cardsim::JavaKey(1, kNewPin, kSalt), "90 00");
    // Phase two onto 11 12 13.
    k.expectHome();
    // Phase three: a random value's keys, then the login on 11 with the new PIN.
    k.expectKeyGen();
    k.card.expect("00 CA 01 84 00", "11 1A 90 00");
    k.expectPinFile();
    k.card.expect("00 B0 00 29 02", "0A 0A 90 00");
    k.expectKeyGen();
    k.expectAuthenticate(0x11, cardsim::JavaKey(1, kNewPin, kSalt), "90 00");
    k.expectPinFile();
    k.card.expect("00 B0 00 29 02", "0A 0A 90 00");

    k.pin->change(kNewPin);

    const TBytes k1 = cardsim::JavaKey(1, kNewPin, kSalt), k3 = cardsim::JavaKey(3, kNewPin, kSalt);
    ASSERT_EQ(k.pack->plain.size(), 9u);
    const char* heads[9] = {"90 24 00 9A 18", "90 24 10 9B 18", "90 24 10 9C 18", "90 24 00 91 18", "90 24 10 92 18",
                            "90 24 10 93 18", "90 24 00 9A 18", "90 24 10 9B 18", "90 24 10 9C 18"};
    for (size_t i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        const TBytes& c = k.pack->plain[i];
        ASSERT_EQ(c.size(), 5u + 24);
        EXPECT_EQ(ToHex(TBytes(c.begin(), c.begin() + 5)), heads[i]);
        const TBytes key(c.begin() + 5, c.end());
        if (i < 6) {
            EXPECT_EQ(key, i % 3 == 1 ? k3 : k1);
        } else {
            EXPECT_NE(key, k1);
            EXPECT_NE(key, k3);
        }
    }
    EXPECT_EQ(k.pack->plain[6].back(), k.pack->plain[8].back());  // signature and user share a key
    // The first group goes out under the current login's keys, the others under the new PIN's.
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(k.pack->macKeys[i], i < 3 ? H("0101") : k1) << i;
    EXPECT_EQ(k.pin->info().loginState, 0xFF);
    EXPECT_EQ(k.pack->keyGet(1), k1);  // ends logged in with the new PIN
}

TEST(KitePin, AFipsKeyChangeTheCardRefusesStopsTheChange) {
    KitePin k(true, true);
    k.selectRecorded(true, "90 00", "0A 0A");
    k.expectKeyGen();
    k.expectHome();
    k.pack->answer = "69 82";
    EXPECT_EQ(RaisedCode([&] { k.pin->change(kNewPin); }), 0x6900);
    EXPECT_EQ(k.pack->plain.size(), 1u);
}

TEST(KitePin, FipsFinChangeModes) {
    KitePin k(true, true);
    auto* kite4 = static_cast<CPinKite4*>(k.pin);
    for (unsigned char mode : {0, 1, 2, 7}) kite4->FipsFinChange(0x12, H("AA BB"), mode);
    std::vector<std::string> sent;
    for (const TBytes& c : k.pack->plain) sent.push_back(ToHex(c));
    EXPECT_EQ(sent, (std::vector<std::string>{"90 24 00 92 02 AA BB", "90 24 10 92 02 AA BB", "90 24 10 92 02 AA BB",
                                              "90 24 10 92 02 AA BB"}));
}

// ---------------------------------------------------------------- unblock and logout

TEST(KitePin, UnblockSendsFortyNineBytesAndFillsTheRecord) {
    for (bool full : {false, true}) {
        KitePin k;
        k.expectKeyGen();
        k.expectHome();
        const TBytes put = Concat(H("00 DA 01 6E 2C 83 02 00 01 85 08 02 0F 82 0F FF FF 00 00 86 02 00 01 8F 18"),
                                  cardsim::PinKey24(kNewPin));
        ASSERT_EQ(put.size(), 49u);
        k.card.expect(put, H("90 00"));
        k.expectPinFile();
        k.card.expect("00 B0 00 00 02", full ? "0A 0A 90 00" : "00 0A 90 00");
        if (!full) k.card.expect("00 D6 00 00 02 0A 0A", "90 00");
        k.pin->unblock(kNewPin);
    }
    // The record's steps are not guarded.
    KitePin k;
    k.expectKeyGen();
    k.expectHome();
    k.card.expectPrefix("00 DA 01 6E 2C", 49, "90 00");
    k.card.expect("00 A4 08 00 06 66 66 10 00 00 04 00", "6A 82");
    EXPECT_EQ(RaisedCode([&] { k.pin->unblock(kNewPin); }), 0x6A82);
}

TEST(KitePin, LogoutEmptiesTheSlotsEvenWhenItsSelectFails) {
    for (const char* answer : {"90 00", "6F 00"}) {
        KitePin k;
        k.pack->keySet(1, H("01"));
        k.card.expect("00 A4 00 00 00", answer);
        EXPECT_EQ(RaisedCode([&] { k.pin->logout(); }), std::string(answer) == "90 00" ? 0 : 0x6F00);
        EXPECT_EQ(RaisedCode([&] { k.pack->keyGet(1); }), 0x6900);
        EXPECT_EQ(k.pin->info().loginState, 0);
    }
}

// ---------------------------------------------------------------- refusals before sending

TEST(KitePin, RefusedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        bool kite4, fips, selectUser;
        std::function<void(CPinKite*)> call;
        unsigned short code;
    };
    const Case cases[] = {
        {"empty designator", false, false, false, [](CPinKite* p) { p->select({}); }, 0x6B00},
        {"empty FIPS designator", true, true, false, [](CPinKite* p) { p->select(p->pathAdmin()); }, 0x6B00},
        {"login, empty PIN", false, false, true, [](CPinKite* p) { p->login({}); }, 0x6300},
        {"login, nothing selected", false, false, false, [](CPinKite* p) { p->login(kPin); }, 0x6B00},
        {"FIPS login, nothing selected", true, true, false, [](CPinKite* p) { p->login(kPin); }, 0x6B00},
        {"change, FIPS Kite", false, true, true, [](CPinKite* p) { p->change(kNewPin); }, 0xFACE},
        {"change, empty PIN", false, false, true, [](CPinKite* p) { p->change({}); }, 0x6300},
        {"Kite4 change, empty PIN", true, true, true, [](CPinKite* p) { p->change({}); }, 0x6300},
        {"change, nothing selected", false, false, false, [](CPinKite* p) { p->change(kNewPin); }, 0x6B00},
        {"Kite4 change, nothing selected", true, false, false, [](CPinKite* p) { p->change(kNewPin); }, 0x6B00},
        {"unblock, empty PIN", false, false, false, [](CPinKite* p) { p->unblock({}); }, 0x6300},
        {"external login", false, false, false, [](CPinKite* p) { p->externalLogin(kPin); }, 0xFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KitePin k(c.kite4, c.fips);
        if (c.selectUser) k.selectRecorded(true, "90 00", "0A 0A");
        const size_t before = k.card.sent.size();
        EXPECT_EQ(RaisedCode([&] { c.call(k.pin); }), c.code);
        EXPECT_EQ(k.card.sent.size(), before);
    }
    // A refused select forgets the designator selected before.
    KitePin k;
    k.selectRecorded(true, "90 00", "0A 0A");
    EXPECT_EQ(RaisedCode([&] { k.pin->select({}); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { k.pin->login(kPin); }), 0x6B00);
    EXPECT_EQ(k.pin->info().triesLeft, 0xFF);
}

}  // namespace
