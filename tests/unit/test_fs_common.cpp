// The piece loop of the file-system base and the BER-TLV writer and reader.
#include <gtest/gtest.h>

#include <stdexcept>

#include "appfs/fs_common.h"
#include "scripted_sender.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::RaisedCode;

namespace {

// ---------------------------------------------------------------- TagValue

struct LengthCase {
    size_t size;
    TBytes header;  // tag and length bytes
};

TEST(FsCommonTagValue, FormatPicksTheShortestLengthForm) {
    const LengthCase cases[] = {
        {0, Hex("86 00")},          {1, Hex("86 01")},          {127, Hex("86 7F")},
        {128, Hex("86 81 80")},     {255, Hex("86 81 FF")},     {256, Hex("86 82 01 00")},
        {65535, Hex("86 82 FF FF")},
    };
    for (const LengthCase& c : cases) {
        const TBytes value(c.size, 0xA5);
        const TBytes out = TagValue(0x86, value).Format();
        ASSERT_EQ(out.size(), c.header.size() + c.size) << c.size;
        EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), out.begin())) << c.size;
        EXPECT_TRUE(std::equal(value.begin(), value.end(), out.begin() + c.header.size())) << c.size;
    }
}

TEST(FsCommonTagValue, ValueOver65535BytesIsRefused) {
    try {
        TagValue(0x86, TBytes(65536)).Format();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "data field exceeds tag maximum length");
    }

    TagValue parent(0x62, Hex("01"));
    EXPECT_THROW(parent.Append(TagValue(0x86, TBytes(65536))), std::runtime_error);
    EXPECT_EQ(parent.value, Hex("01"));  // unchanged
}

TEST(FsCommonTagValue, AppendNestsChildrenInOrder) {
    TagValue fcp(0x62);
    fcp.Append(TagValue(0x86, Hex("00 20")));
    EXPECT_EQ(fcp.Format(), Hex("62 04 86 02 00 20"));

    fcp.Append(TagValue(0x83, TBytes(200, 0x11)));
    const TBytes out = fcp.Format();
    EXPECT_EQ(TBytes(out.begin(), out.begin() + 11), Hex("62 81 CF 86 02 00 20 83 81 C8 11"));
}

// ---------------------------------------------------------------- CBERTLV

bool Fails(const std::function<void()>& call) {
    try {
        call();
    } catch (int e) {
        return e == 0;
    }
    return false;
}

TEST(FsCommonBerTlv, ReadsNestedElementsOfAnAnswer) {
    const TBytes answer = Hex("62 07 82 01 38 83 02 E0 0E 90 00");
    const CBERTLV root = CBERTLV::answer(answer);
    EXPECT_EQ(root.length, 9u);

    const CBERTLV fcp = root.getChild(0x62);
    EXPECT_TRUE(fcp.constructed);
    EXPECT_EQ(fcp.length, 7u);
    EXPECT_EQ(fcp.tag, 0x62u);

    const CBERTLV fid = fcp.getChild(0x83);
    EXPECT_FALSE(fid.constructed);
    ASSERT_EQ(fid.length, 2u);
    EXPECT_EQ(TBytes(fid.value, fid.value + 2), Hex("E0 0E"));
    EXPECT_TRUE(Fails([&] { fcp.getChild(0x83, &fid); }));

    const CBERTLV desc = fcp.getChild(0x82);
    EXPECT_EQ(desc.length, 1u);
    EXPECT_EQ(desc.value[0], 0x38);
    // Searching on from the first child finds the second.
    EXPECT_EQ(fcp.getChild(0x83, &desc).value, fid.value);
}

TEST(FsCommonBerTlv, FindsRepeatedTagsOneAfterAnother) {
    const TBytes answer = Hex("A0 06 80 01 01 80 01 02 90 00");
    const CBERTLV list = CBERTLV::answer(answer).getChild(0xA0);
    const CBERTLV first = list.getChild(0x80);
    const CBERTLV second = list.getChild(0x80, &first);
    EXPECT_EQ(first.value[0], 0x01);
    EXPECT_EQ(second.value[0], 0x02);
    EXPECT_TRUE(Fails([&] { list.getChild(0x80, &second); }));
}

TEST(FsCommonBerTlv, AnswersWithoutDataFindNothing) {
    for (const char* text : {"", "90", "90 00"}) {
        const TBytes answer = Hex(text);
        const CBERTLV root = CBERTLV::answer(answer);
        EXPECT_EQ(root.length, 0u) << text;
        EXPECT_TRUE(Fails([&] { root.getChild(0x62); })) << text;
    }
}

struct TagCase {
    const char* data;  // the elements, without a status word
    uint32_t tag;
    bool found;
    uint64_t length;  // of the element found
};

TEST(FsCommonBerTlv, TagAndLengthRules) {
    const TagCase cases[] = {
        {"5F 20 AA", 0x5F, false, 0},            // 5F is a one-byte tag: length 20 does not fit
        {"5F 01 AA", 0x5F, true, 1},
        {"1F 20 01 AA", 0x201F, true, 1},        // two-byte tag, first byte lowest
        {"1F 81 05 01 AA", 0x05811F, true, 1},   // three-byte tag
        {"1F 00 01 AA", 0x1F, false, 0},
        {"1F 80 01 AA", 0x801F, false, 0},
        {"1F 1E 01 AA", 0x1E1F, false, 0},
        {"1F 81 85 01 AA", 0x85811F, false, 0},  // third byte may not continue
        {"1F", 0x1F, false, 0},                  // tag cut short
        {"1F 81", 0x811F, false, 0},
        {"83", 0x83, false, 0},                  // no length
        {"83 81", 0x83, false, 0},               // length bytes cut short
        {"83 82 00", 0x83, false, 0},
        {"83 81 02 AA BB", 0x83, true, 2},
        {"83 84 00 00 00 01 AA", 0x83, true, 1},
        {"83 84 FF FF FF FF AA", 0x83, false, 0},  // huge length: no pointer arithmetic past the end
        {"82 80 00 00 83 01 AA", 0x83, false, 0},  // indefinite form ends the search
        {"82 85 00 00 00 00 01 AA 83 01 AA", 0x83, false, 0},
        {"82 03 AA 83 01 AA", 0x83, false, 0},     // an overlong sibling is not stepped over
        {"82 00 83 00", 0x83, true, 0},
    };
    for (const TagCase& c : cases) {
        const TBytes data = Concat(Hex(c.data), Hex("90 00"));
        const CBERTLV root = CBERTLV::answer(data);
        if (c.found) {
            CBERTLV e;
            ASSERT_FALSE(Fails([&] { e = root.getChild(c.tag); })) << c.data;
            EXPECT_EQ(e.length, c.length) << c.data;
            EXPECT_LE(e.value + e.length, data.data() + data.size() - 2) << c.data;
        } else {
            EXPECT_TRUE(Fails([&] { root.getChild(c.tag); })) << c.data;
        }
    }
}

TEST(FsCommonBerTlv, ChildrenStayInsideTheirParent) {
    // The inner 83 claims 4 bytes; they exist in the buffer but lie outside the parent 62.
    const TBytes answer = Hex("62 03 83 04 01 02 03 04 90 00");
    const CBERTLV fcp = CBERTLV::answer(answer).getChild(0x62);
    EXPECT_TRUE(Fails([&] { fcp.getChild(0x83); }));

    // A primitive element has no children.
    const TBytes plain = Hex("83 02 62 00 90 00");
    const CBERTLV fid = CBERTLV::answer(plain).getChild(0x83);
    EXPECT_TRUE(Fails([&] { fid.getChild(0x62); }));

    // `after` must be a child of this element.
    const TBytes elsewhere = Hex("83 01 00");
    const CBERTLV stranger(elsewhere.data() + 2, 1, false, 0x83);
    EXPECT_TRUE(Fails([&] { fcp.getChild(0x83, &stranger); }));
    const CBERTLV overlong(fcp.value, 1000, false, 0x83);
    EXPECT_TRUE(Fails([&] { fcp.getChild(0x83, &overlong); }));
}

// ---------------------------------------------------------------- piece loop

// Records the pieces the base hands to the family.
class PieceRecorder : public CFSCommon {
public:
    struct Piece {
        unsigned short offset;
        size_t size;
        bool operator==(const Piece& o) const { return offset == o.offset && size == o.size; }
    };

    explicit PieceRecorder(unsigned short pieceSize) : CFSCommon(nullptr), m_pieceSize(pieceSize) {}

    void read_bit(TBytes& piece, unsigned short offset) override {
        pieces.push_back({offset, piece.size()});
        if (failAt == pieces.size()) ExternalRaise(0x6A82, L"test", __LINE__);
        for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<unsigned char>(offset + i);
        if (answerSize != SIZE_MAX) piece.resize(answerSize, 0xEE);
    }
    void write_bit(const TBytes& piece, unsigned short offset) override {
        pieces.push_back({offset, piece.size()});
        if (failAt == pieces.size()) ExternalRaise(0x6A84, L"test", __LINE__);
        written.insert(written.end(), piece.begin(), piece.end());
    }
    unsigned short bit_size() override { return m_pieceSize; }

    std::vector<Piece> pieces;
    TBytes written;
    size_t failAt = 0;               // 1-based piece that fails; 0 = none
    size_t answerSize = SIZE_MAX;    // a family that breaks the read_bit contract

private:
    unsigned short m_pieceSize;
};

struct SplitCase {
    unsigned short pieceSize;
    size_t total;
    unsigned short offset;
    std::vector<PieceRecorder::Piece> pieces;
};

TEST(FsCommonPieces, ReadAndWriteSplitIntoAscendingPieces) {
    const SplitCase cases[] = {
        {255, 600, 10, {{10, 255}, {265, 255}, {520, 90}}},
        {200, 600, 10, {{10, 200}, {210, 200}, {410, 200}}},
        {245, 245, 0, {{0, 245}}},
        {245, 246, 0, {{0, 245}, {245, 1}}},
        {245, 1, 0x7FFE, {{0x7FFE, 1}}},
        {245, 0, 0, {}},
        {0xFFFF, 0x10000 - 5, 5, {{5, 0xFFFB}}},  // up to the last offset a file can have
    };
    for (const SplitCase& c : cases) {
        PieceRecorder r(c.pieceSize);
        TBytes data(c.total);
        r.read(data, c.offset);
        EXPECT_EQ(r.pieces, c.pieces) << "read " << c.total << " by " << c.pieceSize;
        for (size_t i = 0; i < data.size(); ++i)
            if (data[i] != static_cast<unsigned char>(c.offset + i)) {
                ADD_FAILURE() << "read byte " << i << " of " << c.total;
                break;
            }

        PieceRecorder w(c.pieceSize);
        TBytes out(c.total);
        for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7);
        w.write(out, c.offset);
        EXPECT_EQ(w.pieces, c.pieces) << "write " << c.total << " by " << c.pieceSize;
        EXPECT_EQ(w.written, out);
    }
}

TEST(FsCommonPieces, TransfersThatWouldWrapTheOffsetAreRefused) {
    PieceRecorder r(245);
    TBytes data(2);
    EXPECT_EQ(RaisedCode([&] { r.read(data, 0xFFFF); }), 0x6B00);
    EXPECT_EQ(RaisedCode([&] { r.write(data, 0xFFFF); }), 0x6B00);
    EXPECT_TRUE(r.pieces.empty());
}

TEST(FsCommonPieces, AFailingPieceStopsTheLoop) {
    PieceRecorder w(100);
    w.failAt = 2;
    EXPECT_EQ(RaisedCode([&] { w.write(TBytes(250, 1), 0); }), 0x6A84);
    EXPECT_EQ(w.pieces.size(), 2u);
    EXPECT_EQ(w.written.size(), 100u);  // the first piece stays written

    PieceRecorder r(100);
    r.failAt = 1;
    TBytes data(250);
    EXPECT_EQ(RaisedCode([&] { r.read(data, 0); }), 0x6A82);
    EXPECT_EQ(r.pieces.size(), 1u);
}

TEST(FsCommonPieces, APieceOfAnotherSizeIsRefusedWithoutOverrun) {
    for (size_t answer : {size_t(0), size_t(99), size_t(101), size_t(400)}) {
        PieceRecorder r(100);
        r.answerSize = answer;
        TBytes data(150, 0x55);
        EXPECT_EQ(RaisedCode([&] { r.read(data, 0); }), 0x6282) << answer;
        EXPECT_EQ(data.size(), 150u);
        EXPECT_EQ(r.pieces.size(), 1u);
        EXPECT_EQ(data[0], 0x55) << "nothing of the bad piece is copied";
    }
}

TEST(FsCommonCheckSW, GoesThroughTheAppletsErrorFacet) {
    struct Bare : IApplet {
        explicit Bare(ISender* s) : IApplet(s) {}
        void dropError() { setError(nullptr); }
    };
    testing_card::ScriptedSender sender;
    Bare applet(&sender);
    struct Probe : CFSCommon {
        explicit Probe(IApplet* a) : CFSCommon(a) {}
        void read_bit(TBytes&, unsigned short) override {}
        void write_bit(const TBytes&, unsigned short) override {}
        unsigned short bit_size() override { return 1; }
    } probe(&applet);

    EXPECT_EQ(RaisedCode([&] { probe.checkSW(Hex("90 00")); }), -1);
    EXPECT_EQ(RaisedCode([&] { probe.checkSW(Hex("61 10")); }), -1);
    EXPECT_EQ(RaisedCode([&] { probe.checkSW(Hex("01 02 6A 82")); }), 0x6A82);
    EXPECT_EQ(RaisedCode([&] { probe.checkSW(Hex("90")); }), 0xFFFF);
    applet.dropError();
    EXPECT_EQ(RaisedCode([&] { probe.checkSW(Hex("90 00")); }), 0xFACE);
}

TEST(FsCommonCreate, ReservedIdentifiers) {
    for (unsigned short fid : {0x0000, 0x3F00, 0x3FFF, 0xFFFF})
        EXPECT_EQ(RaisedCode([&] { CheckCreateFID(fid); }), 0x6900) << fid;
    for (unsigned short fid : {0x0001, 0x3F01, 0xE00E, 0xFFFE})
        EXPECT_EQ(RaisedCode([&] { CheckCreateFID(fid); }), -1) << fid;
}

}  // namespace
