// What sets the Heron file system apart from the Java one: its command bytes
// (80 1B writes here and is the Java change marker) and the missing resize.
#include <gtest/gtest.h>

#include "appfs/fs_heron.h"
#include "apperror/apperror.h"
#include "scripted_sender.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::RaisedCode;
using testing_card::ScriptedSender;
using testing_card::TestApplet;

namespace {

class FsHeron : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(card.pending(), 0u) << "scripted commands left unsent"; }
    ScriptedSender card;
    TestApplet<CFSHeron, CErrorHeron> applet{&card};
    IAppFS* fs = applet.fs();
};

TEST_F(FsHeron, ResizeIsNotOffered) {
    card.expect("80 03 08 04 02 00 01 00", "01 01 02 03 02 01 00 04 02 00 00 90 00");
    fs->select({0x3F00, 0x0001});
    EXPECT_EQ(RaisedCode([&] { fs->resize(0); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { fs->resize(0x10); }), 0xFACE);
    EXPECT_EQ(card.sent.size(), 1u);
}

TEST_F(FsHeron, RemoveSelectsTheParentDeletesAndMarks) {
    card.expect("80 03 08 04 06 66 66 50 00 E0 0E 00", "01 01 01 90 00");
    fs->select({0xE00E});
    card.expect("80 03 08 04 04 66 66 50 00 00", "01 01 01 90 00");
    card.expect("80 01 00 00 02 E0 0E", "90 00");
    card.expectPrefix("80 1D 00 00 12 10 10", 23, "90 00");
    fs->remove();
}

TEST_F(FsHeron, LongWritesGoOutIn245BytePieces) {
    card.expect("80 03 08 04 02 00 01 00", "01 01 02 03 02 01 2C 04 02 00 00 90 00");
    fs->select({0x3F00, 0x0001});
    TBytes data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
    card.expect(Concat(Hex("80 1B 00 00 FB 0E 02 00 00 10 F5"), TBytes(data.begin(), data.begin() + 245)), Hex("90 00"));
    card.expect(Concat(Hex("80 1B 00 00 3D 0E 02 00 F5 10 37"), TBytes(data.begin() + 245, data.end())), Hex("90 00"));
    fs->write(data, 0);
}

TEST_F(FsHeron, CreateUsesTheHeronInstruction) {
    card.expect("80 03 08 04 04 66 66 50 00 00", "01 01 01 90 00");
    fs->select({});
    card.expect("80 09 01 00 12 01 01 02 02 02 00 05 03 02 08 00 04 05 0F 10 10 10 10", "90 00");
    card.expectPrefix("80 1D 00 00 12 10 10", 23, "90 00");
    fs->create(0x0005, CFileInfo(1, 0x0800, 0x0F, 0x10));
    card.expect("80 0D 02 00 04 09 02 00 00 CD", "0A 02 00 05 0B 01 00 90 00");
    EXPECT_EQ(fs->list(1), std::vector<unsigned short>{0x0005});
}

}  // namespace
