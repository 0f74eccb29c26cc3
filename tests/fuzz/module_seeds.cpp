// Writes the seed inputs of the module fuzz target: each is one run of the module
// drive (module_drive.h) over a simulated token of each family the module takes,
// its choices and the card's answers recorded in the order they were asked for.
// The recording is played back as a fuzz input, which must take the same road.
//   module_seeds <directory>
#include <cstdio>
#include <fstream>
#include <memory>

#include "fuzz_sender.h"
#include "module_drive.h"
#include "sim_tokens.h"

namespace {

using libapdu::TBytes;

class RecordFeed : public module_drive::Feed {
public:
    RecordFeed(libapdu::ISender& card, const std::vector<unsigned char>& script) : m_card(card), m_script(script) {
        const TBytes atr = card.atr();
        tape.push_back(static_cast<unsigned char>(atr.size()));
        tape.insert(tape.end(), atr.begin(), atr.end());
    }
    unsigned char choice() override {
        const unsigned char c = m_pos < m_script.size() ? m_script[m_pos++] : 0;
        tape.push_back(c);
        return c;
    }
    bool exhausted() override { return m_pos >= m_script.size(); }
    void send(const TBytes& command, TBytes& response) override {
        m_card.send(command, response);
        tape.push_back(static_cast<unsigned char>(response.size() >> 8));
        tape.push_back(static_cast<unsigned char>(response.size() & 0xFF));
        tape.insert(tape.end(), response.begin(), response.end());
    }
    TBytes atr() override { return m_card.atr(); }

    TBytes tape;

private:
    libapdu::ISender& m_card;
    std::vector<unsigned char> m_script;
    size_t m_pos = 0;
};

class ReplayFeed : public module_drive::Feed {
public:
    explicit ReplayFeed(const TBytes& tape) : m_card(tape.data(), tape.size()) {}
    unsigned char choice() override { return m_card.input().u8(); }
    bool exhausted() override { return m_card.input().empty(); }
    void send(const TBytes& command, TBytes& response) override { m_card.send(command, response); }
    TBytes atr() override { return m_card.atr(); }

private:
    FuzzSender m_card;
};

// PINs as the drive reads them: a length, then one choice a character ('0' + c).
const std::vector<unsigned char> kPin = {8, 1, 2, 3, 4, 5, 6, 7, 8};      // 12345678
const std::vector<unsigned char> kNewPin = {8, 5, 6, 7, 8, 1, 2, 3, 4};   // 56781234
const std::vector<unsigned char> kWrongPin = {8, 9, 9, 9, 9, 9, 9, 9, 9};

std::vector<unsigned char> Script(std::initializer_list<std::vector<unsigned char>> parts) {
    std::vector<unsigned char> s;
    for (const auto& p : parts) s.insert(s.end(), p.begin(), p.end());
    return s;
}

// Login, open or create 1, store, read and size F001, the directory list and the
// serial, change the PIN and back, log out and in, delete, close and remove the
// directory, a second token, then the first destroyed.
const std::vector<unsigned char> kStoreRoad = Script({
    {0}, kPin, {5, 1, 1}, {7, 0, 10}, {8, 0, 10}, {9, 0}, {4}, {3},
    {2}, kPin, kNewPin, {1}, {0}, kNewPin, {2}, kNewPin, kPin,
    {10, 0}, {6, 1}, {12}, {13, 0}, {11},
});
// Every container file stored once in a directory that stays.
const std::vector<unsigned char> kAllFiles = Script({
    {0}, kPin, {5, 1, 1},
    {7, 0, 5}, {7, 1, 5}, {7, 2, 40}, {7, 3, 5}, {7, 4, 5}, {7, 5, 5}, {7, 6, 2},
    {8, 2, 40}, {6, 0}, {4},
});
// A wrong PIN, then calls with no directory open and on a destroyed token.
const std::vector<unsigned char> kRefusals = Script({{0}, kWrongPin, {7, 0, 3}, {8, 0, 3}, {11}, {3}, {4}});

bool Write(const std::string& dir, const std::string& name, std::unique_ptr<cardsim::CardSim> card,
           const std::vector<unsigned char>& script) {
    std::vector<bool> recorded, replayed;
    RecordFeed record(*card, script);
    module_drive::outcomes = &recorded;
    module_drive::Drive(record, 64);
    ReplayFeed replay(record.tape);
    module_drive::outcomes = &replayed;
    module_drive::Drive(replay, 64);
    module_drive::outcomes = nullptr;
    if (recorded != replayed) {
        std::fprintf(stderr, "%s: the recording does not replay the same road\n", name.c_str());
        return false;
    }
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(record.tape.data()), static_cast<std::streamsize>(record.tape.size()));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: module_seeds <directory>\n");
        return 2;
    }
    const std::string dir = argv[1];
    // No FIPS token: its PIN change runs under secure messaging, whose answers
    // are MACed over random values of the library's, so a recording cannot replay.
    // Every family's user PIN is the scripts' 12345678.
    static cardsim::SimTokenOptions o;
    o.userPin = {'1', '2', '3', '4', '5', '6', '7', '8'};
    struct Family {
        const char* name;
        std::unique_ptr<cardsim::CardSim> (*make)();
    } const families[] = {
        {"java", [] { return cardsim::MakeJavaToken(o); }},
        {"heron", [] { return cardsim::MakeHeronToken(o); }},
        {"kite", [] { return cardsim::MakeKiteToken("kite32", o); }},
        {"kite4", [] { return cardsim::MakeKiteToken("kite42", o); }},
        {"gost", [] { return cardsim::MakeGostToken(o); }},
        {"gost2", [] { return cardsim::MakeGost2Token(o); }},
        {"datastore", [] { return cardsim::MakeDataStoreToken(o); }},
        {"tessel", [] { return cardsim::MakeTesselToken(o); }},
    };
    bool ok = true;
    for (const Family& f : families) {
        const std::string name = f.name;
        ok &= Write(dir, name + "_store_road", f.make(), kStoreRoad);
        ok &= Write(dir, name + "_all_files", f.make(), kAllFiles);
        ok &= Write(dir, name + "_refusals", f.make(), kRefusals);
    }
    return ok ? 0 : 1;
}
