// The token module itself over a fuzzed card, below JNI (module_drive.h): the
// whole probe of createToken, then a sequence of the native methods chosen by the
// input, which holds the ATR, then the choices and the card's answers in turn.
#include "fuzz_sender.h"
#include "module_drive.h"

namespace {

class FuzzFeed : public module_drive::Feed {
public:
    FuzzFeed(const uint8_t* data, size_t size) : m_card(data, size) {}
    unsigned char choice() override { return m_card.input().u8(); }
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override { m_card.send(command, response); }
    libapdu::TBytes atr() override { return m_card.atr(); }
    bool exhausted() override { return m_card.input().empty(); }

private:
    FuzzSender m_card;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFeed card(data, size);
    module_drive::Drive(card, 40);
    return 0;
}
