// The Java and Heron PIN facets as one transcript of card commands and file
// selections, over a scripted sender, an in-memory file system and a pack that
// records what it is asked to protect. Nothing here goes through the family's
// own file system or secure messaging, so every byte and every ordering below
// is the PIN facet's own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "apperror/apperror.h"
#include "apppack/pack_common.h"
#include "apppin/pin_heron.h"
#include "apppin/pin_java.h"
#include "fake_fs.h"
#include "java_card_peer.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::JavaKey;
using testing_card::JavaKeys;
using testing_card::PinKey24;
using testing_card::RaisedCode;
using testing_card::ScriptedSender;
using testing_card::TdesBlock;
using testing_card::ToHex;

namespace {

typedef std::vector<std::string> Transcript;

// Forwards to the script and writes every command into the shared transcript.
struct LoggingSender : ISender {
    LoggingSender(ScriptedSender& s, Transcript& l) : script(s), log(l) {}
    void send(const TBytes& command, TBytes& response) override {
        log.push_back("send " + ToHex(command));
        script.send(command, response);
    }
    TBytes atr() override { return {}; }
    ScriptedSender& script;
    Transcript& log;
};

struct LoggingFS : FakeFS {
    explicit LoggingFS(Transcript& l) : log(l) {}
    void select(path p) override {
        log.push_back("select " + Hex(p));
        FakeFS::select(p);
    }
    Transcript& log;
};

struct FakeInfo : IAppInfo {
    bool fips = false;
    bool isFips() override { return fips; }
};

// The slots of the common pack; sm records the plain command and the command
// encryption key it would have been protected with, and answers 90 00.
struct RecordingPack : CPackCommon {
    explicit RecordingPack(IApplet* owner, Transcript& l) : CPackCommon(owner), log(l) {}
    void sm(const TBytes& command, TBytes& response) override {
        log.push_back("sm " + ToHex(command));
        commands.push_back(command);
        sessionKeys.push_back(keyGet(1));
        response = {0x90, 0x00};
    }
    Transcript& log;
    std::vector<TBytes> commands;
    std::vector<TBytes> sessionKeys;
};

struct Family {
    const char* name;
    bool java;
    unsigned char infoIns, challengeIns, loginIns, changeIns, markerIns;
};
void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }
const Family kJava = {"Java", true, 0x07, 0x17, 0x11, 0x0F, 0x1B};
const Family kHeron = {"Heron", false, 0x14, 0x12, 0x10, 0x18, 0x1D};

std::string H(unsigned char b) {
    char s[4];
    std::snprintf(s, sizeof s, "%02X", b);
    return s;
}

const TBytes kSalt = Hex("5A 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 A5");
const TBytes kPin = {'1', '2', '3', '4'};
const TBytes kNewPin = {'9', '8', '7', '6', '5'};
const TBytes kChallenge = Hex("0F 1E 2D 3C 4B 5A 69 78");
const char kCounters[] = "23 01 05 06 01 0A 20 01 00 90 00";

// Transcript lines: "select" with the path as FakeFS prints it (the empty path,
// the applet's PIN folder, prints as nothing), "send" with the command bytes.
const char kSelectDf[] = "select ";
const char kSelectSalt[] = "select 000F";
const char kSelectAdminDf[] = "select 3F00/6666";
const char kSelectMf[] = "select 3F00";

class PinJavaTranscript : public ::testing::TestWithParam<Family> {
protected:
    PinJavaTranscript() : sender(script, log), applet(&sender) {
        applet.setError(GetParam().java ? static_cast<IAppError*>(new CErrorJava) : new CErrorHeron);
        fs = new LoggingFS(log);
        fs->addFile({0x000F}, kSalt);
        fs->addDir({0x3F00, 0x6666});
        applet.setFs(fs);
        info = new FakeInfo;
        applet.setInfo(info);
        pack = new RecordingPack(&applet, log);
        applet.setPack(pack);
        if (GetParam().java)
            applet.setPin(new CPinJava(&applet));
        else
            applet.setPin(new CPinHeron(&applet));
    }
    void TearDown() override { EXPECT_EQ(script.pending(), 0u) << "scripted commands left unsent"; }

    const Family& F() const { return GetParam(); }
    CPinJavaFamily& pin() { return dynamic_cast<CPinJavaFamily&>(*applet.pin()); }

    std::string infoCommand(unsigned char p2) const {
        return "80 " + H(F().infoIns) + " 00 " + H(p2) + " 05 10 03 23 06 20 00";
    }
    std::string challengeCommand() const { return "80 " + H(F().challengeIns) + " 00 00 08"; }
    std::string loginCommand(unsigned char ref, const TBytes& key) const {
        return "80 " + H(F().loginIns) + " 00 " + H(ref) + " 0A 10 08 " + ToHex(TdesBlock(key, kChallenge));
    }
    std::string keyCommand(unsigned char ins, unsigned char ref, const TBytes& key) const {
        return "80 " + H(ins) + " 00 " + H(ref) + " 1A 10 18 " + ToHex(key);
    }
    std::string markerPrefix() const { return "80 " + H(F().markerIns) + " 00 00 12 10 10"; }

    // Scripts the answers the card gives, in order: every line the facet sends.
    void answer(const std::string& command, const std::string& response) { script.expect(command, response); }
    void answerChallenge() { answer(challengeCommand(), ToHex(kChallenge) + " 90 00"); }
    void answerMarker() { script.expectPrefix(markerPrefix(), 23, "90 00"); }

    // The transcript, with the marker's 16 random bytes checked and cut off.
    Transcript seen() {
        Transcript t = log;
        const std::string marker = "send " + markerPrefix();
        for (std::string& line : t) {
            if (line.compare(0, marker.size(), marker) != 0) continue;
            EXPECT_EQ(line.size(), marker.size() + 16 * 3) << line;
            const unsigned first = static_cast<unsigned>(std::stoul(line.substr(marker.size() + 1, 2), nullptr, 16));
            EXPECT_EQ(first & 1u, 1u) << "the marker's first byte is odd";
            line = marker + " ..";
        }
        log.clear();
        return t;
    }
    std::string sentMarker() const { return "send " + markerPrefix() + " .."; }

    Transcript log;
    ScriptedSender script;
    LoggingSender sender;
    testing_card::BareApplet applet;
    LoggingFS* fs;
    FakeInfo* info;
    RecordingPack* pack;
};

// select, then login, for every designator kind, FIPS or not: where the counters
// are asked, which key answers the challenge, and which folder is selected
// between the challenge and the login command.
TEST_P(PinJavaTranscript, SelectAndLogin) {
    enum Key { kSlot0, kSlot3, kFromPinAlone };
    struct Case {
        const char* what;
        bool java;  // the family the row is for
        path designator;
        bool fips;
        const char* infoSelect;  // nullptr: no counters asked
        unsigned char infoP2;
        Key key;
        const char* loginSelect;  // nullptr: no selection before the login command
    };
    const Case cases[] = {
        {"Java user", true, {0x11}, false, kSelectDf, 0x11, kSlot3, kSelectDf},
        {"Java user, FIPS", true, {0x11}, true, kSelectDf, 0x11, kSlot0, kSelectDf},
        {"Java admin", true, {0x21}, false, kSelectAdminDf, 0x21, kFromPinAlone, kSelectAdminDf},
        {"Java global", true, {0xFE}, false, nullptr, 0, kSlot3, nullptr},
        {"Java second user, FIPS", true, {0x1A}, true, nullptr, 0, kSlot0, nullptr},
        {"Heron user", false, {0x11}, false, kSelectDf, 0x11, kSlot3, kSelectDf},
        {"Heron user, FIPS", false, {0x11}, true, kSelectDf, 0x11, kSlot0, kSelectDf},
        {"Heron admin", false, {0x21}, false, nullptr, 0, kSlot3, kSelectDf},
        {"Heron global", false, {0xFE}, false, nullptr, 0, kSlot3, kSelectDf},
        {"Heron second user, FIPS", false, {0x1A}, true, nullptr, 0, kSlot0, kSelectDf},
    };
    for (const Case& c : cases) {
        if (c.java != F().java) continue;
        SCOPED_TRACE(c.what);
        info->fips = c.fips;
        const unsigned char ref = static_cast<unsigned char>(c.designator.back());
        const TBytes key = c.key == kFromPinAlone ? PinKey24(kPin) : JavaKey(c.key == kSlot0 ? 0 : 3, kPin, kSalt);

        Transcript want;
        if (c.infoSelect) {
            want.push_back(c.infoSelect);
            want.push_back("send " + infoCommand(c.infoP2));
            answer(infoCommand(c.infoP2), kCounters);
        }
        if (c.key != kFromPinAlone) want.push_back(kSelectSalt);
        want.push_back("send " + challengeCommand());
        answerChallenge();
        if (c.loginSelect) want.push_back(c.loginSelect);
        want.push_back("send " + loginCommand(ref, key));
        answer(loginCommand(ref, key), "90 00");

        pin().select(c.designator);
        pin().login(kPin);
        EXPECT_EQ(seen(), want);
        EXPECT_EQ(pin().info().loginState, 0xFF);
    }
}

// A change without FIPS: the change-key command in the clear with the key of
// slot 3 (the Java admin PIN: the PIN's own key), then the change marker.
TEST_P(PinJavaTranscript, ChangeWithoutFips) {
    struct Case {
        const char* what;
        bool java;
        path designator;
        bool keyFromPinAlone;
        bool folderFirst;
    };
    const Case cases[] = {
        {"Java user", true, {0x11}, false, false},
        {"Java admin", true, {0x21}, true, false},
        {"Heron user", false, {0x11}, false, true},
        {"Heron admin", false, {0x21}, false, true},
    };
    for (const Case& c : cases) {
        if (c.java != F().java) continue;
        SCOPED_TRACE(c.what);
        const unsigned char ref = static_cast<unsigned char>(c.designator.back());
        if (ref == 0x11) answer(infoCommand(0x11), kCounters);
        if (ref == 0x21 && F().java) answer(infoCommand(0x21), kCounters);
        pin().select(c.designator);
        log.clear();

        const TBytes key = c.keyFromPinAlone ? PinKey24(kNewPin) : JavaKey(3, kNewPin, kSalt);
        Transcript want;
        if (!c.keyFromPinAlone) want.push_back(kSelectSalt);
        if (c.folderFirst) want.push_back(kSelectDf);
        want.push_back("send " + keyCommand(F().changeIns, ref, key));
        want.push_back(sentMarker());
        answer(keyCommand(F().changeIns, ref, key), "90 00");
        answerMarker();

        pin().change(kNewPin);
        EXPECT_EQ(seen(), want);
    }
}

TEST_P(PinJavaTranscript, UnblockSetsTheUserPinWhateverIsSelected) {
    if (!F().java) {
        EXPECT_EQ(RaisedCode([&] { pin().unblock(kNewPin); }), 0xFACE);
        EXPECT_TRUE(log.empty());
        return;
    }
    answer(infoCommand(0x21), kCounters);
    pin().select({0x21});
    log.clear();
    const TBytes key = JavaKey(3, kNewPin, kSalt);
    answer("80 13 00 11 1A 10 18 " + ToHex(key), "90 00");
    answerMarker();
    pin().unblock(kNewPin);
    EXPECT_EQ(seen(), (Transcript{kSelectSalt, "send 80 13 00 11 1A 10 18 " + ToHex(key), sentMarker()}));
    // The counters are left as the select read them.
    EXPECT_EQ(pin().info().triesLeft, 5);
}

// The FIPS change: fifteen protected change-key commands, 1A-1E and 11-15 with
// the new PIN's keys, then 1A-1E with the keys of a random value; the first five
// under the current login's session, the rest under the new PIN's.
TEST_P(PinJavaTranscript, FipsChangeRewritesFifteenReferences) {
    info->fips = true;
    const auto oldKeys = JavaKeys(kPin, kSalt);
    const auto newKeys = JavaKeys(kNewPin, kSalt);
    for (size_t i = 0; i < 5; ++i) pack->keySet(i, oldKeys[i]);
    answer(infoCommand(0x11), kCounters);
    pin().select({0x11});
    log.clear();

    Transcript want;
    auto rewrite = [&](unsigned char first, const std::vector<TBytes>* keys) {
        for (unsigned char i = 0; i < 5; ++i)
            want.push_back(keys ? "sm " + keyCommand(F().changeIns, static_cast<unsigned char>(first + i), (*keys)[i])
                                : "sm (spoiled " + H(static_cast<unsigned char>(first + i)) + ")");
    };
    auto loginOn = [&](unsigned char ref, bool counters) {
        if (counters) {
            want.push_back(kSelectDf);
            want.push_back("send " + infoCommand(0x11));
            answer(infoCommand(0x11), kCounters);
        }
        want.push_back(kSelectSalt);
        want.push_back("send " + challengeCommand());
        answerChallenge();
        if (ref == 0x11 || !F().java) want.push_back(kSelectDf);
        want.push_back("send " + loginCommand(ref, newKeys[0]));
        answer(loginCommand(ref, newKeys[0]), "90 00");
    };
    want.push_back(kSelectSalt);  // the new PIN's keys
    want.push_back(kSelectDf);
    rewrite(0x1A, &newKeys);
    loginOn(0x1A, false);
    want.push_back(kSelectDf);
    rewrite(0x11, &newKeys);
    want.push_back(kSelectSalt);  // the keys of the random value
    loginOn(0x11, true);
    want.push_back(kSelectDf);
    rewrite(0x1A, nullptr);
    want.push_back(sentMarker());
    answerMarker();

    pin().change(kNewPin);
    Transcript got = seen();
    // The spoiling commands carry keys nobody knows: their shape is checked apart.
    ASSERT_EQ(pack->commands.size(), 15u);
    std::vector<TBytes> spoil;
    for (size_t i = 10; i < 15; ++i) {
        const TBytes& c = pack->commands[i];
        const TBytes head = Hex("80 " + H(F().changeIns) + " 00 " + H(static_cast<unsigned char>(0x1A + i - 10)) +
                                " 1A 10 18");
        ASSERT_EQ(c.size(), head.size() + 24);
        EXPECT_EQ(ToHex(TBytes(c.begin(), c.begin() + 7)), ToHex(head));
        spoil.emplace_back(c.begin() + 7, c.end());
    }
    for (std::string& line : got)
        for (size_t i = 0; i < spoil.size(); ++i)
            if (line == "sm " + keyCommand(F().changeIns, static_cast<unsigned char>(0x1A + i), spoil[i]))
                line = "sm (spoiled " + H(static_cast<unsigned char>(0x1A + i)) + ")";
    EXPECT_EQ(got, want);

    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(ToHex(pack->sessionKeys[i]), ToHex(oldKeys[1])) << "under the current login";
        for (const TBytes& k : newKeys) EXPECT_NE(ToHex(spoil[i]), ToHex(k));
    }
    for (size_t i = 5; i < 15; ++i) EXPECT_EQ(ToHex(pack->sessionKeys[i]), ToHex(newKeys[1])) << "under the new PIN";
    // Ends logged in on the user PIN with the new PIN's keys in the slots.
    EXPECT_EQ(pin().info().loginState, 0xFF);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(ToHex(pack->keyGet(i)), ToHex(newKeys[i]));
}

// A logout sends nothing but the selection of the master file, and leaves no key
// behind: neither in the slots nor in the copy a PIN change set aside, whether
// or not the selection succeeds.
TEST_P(PinJavaTranscript, LogoutForgetsEveryKey) {
    for (bool masterFileThere : {true, false}) {
        SCOPED_TRACE(masterFileThere ? "selection succeeds" : "selection fails");
        if (masterFileThere)
            fs->addDir({0x3F00});
        else
            fs->nodes.erase({0x3F00});
        const auto keys = JavaKeys(kPin, kSalt);
        for (size_t i = 0; i < 5; ++i) pack->keySet(i, keys[i]);
        pack->keySave();
        pack->keyRestore();  // as a FIPS change leaves the copy

        EXPECT_EQ(RaisedCode([&] { pin().logout(); }), masterFileThere ? -1 : 0x6A82);
        EXPECT_EQ(seen(), Transcript{kSelectMf});
        EXPECT_EQ(pin().info().loginState, 0);
        pack->keyRestore();
        for (size_t i = 0; i < 5; ++i) EXPECT_EQ(RaisedCode([&] { pack->keyGet(i); }), 0x6900) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, PinJavaTranscript, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

}  // namespace
