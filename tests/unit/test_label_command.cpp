// The label facets that keep the label behind the applet's own commands: the
// exact commands, the answer buffers, and what is trimmed from a reply.
#include "applabel/label_datastore.h"
#include "applabel/label_gost.h"
#include "applabel/label_gost2.h"
#include "info_test_support.h"

using namespace infotest;
using testing_card::BareApplet;
using testing_card::RaisedCode;

namespace {

enum class Family { Gost, Gost2, DataStore };

struct LabelApplet {
    explicit LabelApplet(Family f) : applet(&sender) {
        switch (f) {
        case Family::Gost: applet.setError(new CErrorGost); break;
        case Family::Gost2: applet.setError(new CErrorGost2); break;
        case Family::DataStore: applet.setError(new CErrorDataStore); break;
        }
        switch (f) {
        case Family::Gost: applet.setLabel(new CLabelGost(&applet)); break;
        case Family::Gost2: applet.setLabel(new CLabelGost2(&applet)); break;
        case Family::DataStore: applet.setLabel(new CLabelDataStore(&applet)); break;
        }
    }
    IAppLabel* label() { return applet.label(); }
    ScriptedSender sender;
    BareApplet applet;
};

struct ReadCase {
    Family family;
    const char* command;
    size_t buffer;
    const char* reply;
    const char* label;
};

TEST(CommandLabel, ReadTrimsWhatTheFamilyAdds) {
    const ReadCase cases[] = {
        {Family::Gost, "80 17 10 00 01 01", 258, "05 41 42 20 20 90 00", "41 42"},
        {Family::Gost, "80 17 10 00 01 01", 258, "90 00", ""},  // nothing to drop the first byte of
        {Family::Gost, "80 17 10 00 01 01", 258, "05 90 00", ""},
        {Family::Gost2, "80 38 20 01 00", 34, "", ""},  // an empty reply here means 32 spaces
        {Family::Gost2, "80 38 20 01 00", 34, "20 41 20 42 20 20 90 00", "20 41 20 42"},
        {Family::DataStore, "80 30 10 00 00", 258, "41 42 00 00 90 00", "41 42 00 00"},
        {Family::DataStore, "80 30 10 00 00", 258, "41 00 20 90 00", "41 00"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " / " + c.reply);
        LabelApplet a(c.family);
        std::string reply = c.reply;
        if (reply.empty()) {  // 32 spaces, as a card with no label answers
            for (int i = 0; i < 32; ++i) reply += "20 ";
            reply += "90 00";
        }
        a.sender.expect(c.command, reply, c.buffer);
        EXPECT_EQ(Hex(a.label()->read()), c.label);
        EXPECT_TRUE(a.sender.done());
    }
}

TEST(CommandLabel, WriteSendsTheLabelUnchanged) {
    const struct {
        Family family;
        TBytes label;
        const char* command;
    } cases[] = {
        {Family::Gost, {}, "80 17 20 00 00 02"},
        {Family::Gost2, {}, "80 38 30 01 00"},
        {Family::DataStore, {}, "80 30 20 00 00 02"},
        {Family::Gost, H("41 20 00"), "80 17 20 00 03 41 20 00 02"},
        {Family::Gost2, H("41 42"), "80 38 30 01 02 41 42"},
        {Family::DataStore, H("FF"), "80 30 20 00 01 FF 02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        LabelApplet a(c.family);
        a.sender.expect(c.command, "90 00", 2);
        a.label()->write(c.label);
        EXPECT_TRUE(a.sender.done());
        EXPECT_EQ(a.label()->encoding(), 2);
    }

    // The longest label the length byte can carry still goes out whole.
    LabelApplet a(Family::Gost2);
    a.sender.expectPrefix("80 38 30 01 FF", 5 + 255, "90 00");
    a.label()->write(TBytes(255, 'x'));
    EXPECT_TRUE(a.sender.done());
}

TEST(CommandLabel, LabelTooLongForItsLengthByteIsRefusedBeforeSending) {
    for (Family f : {Family::Gost, Family::Gost2, Family::DataStore}) {
        LabelApplet a(f);
        EXPECT_EQ(RaisedCode([&] { a.label()->write(TBytes(256, 'x')); }), 0x6B00);
        EXPECT_TRUE(a.sender.sent.empty());
    }
}

TEST(CommandLabel, TheCardsWordIsRaisedThroughTheFamilysMap) {
    LabelApplet gost(Family::Gost);
    gost.sender.expect("80 17 10 00 01 01", "6A 82");
    EXPECT_EQ(RaisedCode([&] { gost.label()->read(); }), 0x6A82);

    LabelApplet ds(Family::DataStore);
    ds.sender.expect("80 30 20 00 01 41 02", "69 82");
    EXPECT_EQ(RaisedCode([&] { ds.label()->write(H("41")); }), 0x6900);
}

}  // namespace
