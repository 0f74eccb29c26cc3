// Secure messaging and chaining of the Tessel applet against a scripted card:
// the key agreement and its refusals, the protected pieces with their counters
// and limits, GET RESPONSE, and the plain chaining the file system lists with.
// The cryptograms and MACs themselves are checked by the simulated card.
#include <gtest/gtest.h>

#include <openssl/bn.h>

#include "applet_tessel.h"
#include "apppack/pack_tessel.h"
#include "raised.h"
#include "scripted_sender.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;

namespace {

TBytes Prime(BIGNUM* (*standard)(BIGNUM*)) {
    BIGNUM* p = standard(nullptr);
    TBytes out(static_cast<size_t>(BN_num_bytes(p)));
    BN_bn2bin(p, out.data());
    BN_free(p);
    return out;
}

TBytes Element(unsigned char tag, const TBytes& value) {
    TBytes out = {tag};
    if (value.size() >= 0x80) out.push_back(value.size() < 0x100 ? 0x81 : 0x82);
    if (value.size() >= 0x100) out.push_back(static_cast<unsigned char>(value.size() >> 8));
    out.push_back(static_cast<unsigned char>(value.size()));
    return Concat(out, value);
}

TBytes Parameters(const TBytes& g, const TBytes& p, const TBytes& y) {
    return Concat(Concat(Concat(Element(0x80, g), Element(0x81, p)), Element(0x82, y)), Hex("90 00"));
}

TBytes Ok(const TBytes& data = TBytes()) { return Concat(data, Hex("90 00")); }

TBytes Bytes(size_t n, unsigned char seed) {
    TBytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + i);
    return b;
}

class PackTessel : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(card.pending(), 0u) << "scripted commands left unsent"; }

    // The card's parameters (a 1024-bit group, its value 4) and the host's value.
    void agreement() {
        card.expect(Hex("80 48 00 80 00"), Parameters({0x02}, Prime(BN_get_rfc2409_prime_1024), {0x04}));
        card.expectPrefix(Hex("80 86 00 00 80"), 5 + 128 + 1, Ok(Bytes(32, 0x40)), 258);
    }
    void close() { card.expect("80 86 FF FF", "90 00", 2); }

    ScriptedSender card;
    CAppletTessel applet{&card};
    IAppPack* pack = applet.pack();
};

TEST_F(PackTessel, OneBytePieceCarriesCounterOneAndNoLe) {
    agreement();
    card.expectPrefix(Hex("8C 24 00 00 16 87 81 09 01"), 5 + 22, Ok(), 1024);
    close();
    TBytes out = Hex("AA BB");
    pack->sm(Hex("80 24 00 00 01 31 00"), out);
    EXPECT_EQ(out, Hex("90 00"));
    ASSERT_EQ(card.sent.size(), 4u);
    EXPECT_EQ(card.sent[2][5 + 12], 0x8E);
    EXPECT_EQ(card.sent[2][5 + 13], 0x08);
    // The host's value ends with Le 00.
    EXPECT_EQ(card.sent[1].back(), 0x00);
}

TEST_F(PackTessel, LongCommandsGoOutIn224BytePiecesOnlyTheLastWithoutChaining) {
    struct Case {
        size_t length;
        std::vector<std::string> pieces;  // header and the data object's length of each piece
    };
    const Case cases[] = {
        {224, {"8C 24 00 00 F6 87 81 E9 01"}},
        {225, {"9C 24 00 00 F6 87 81 E9 01", "8C 24 00 00 16 87 81 09 01"}},
        {448, {"9C 24 00 00 F6 87 81 E9 01", "8C 24 00 00 F6 87 81 E9 01"}},
        {8, {"8C 24 00 00 1E 87 81 11 01"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        agreement();
        for (const std::string& piece : c.pieces) {
            const TBytes head = Hex(piece);
            card.expectPrefix(head, 5 + head[4], Ok(), 1024);
        }
        close();
        TBytes command = Hex("80 24 00 00 00");
        PutBE16(command, static_cast<unsigned short>(c.length));
        TBytes out;
        pack->sm(Concat(command, Bytes(c.length, 1)), out);
        EXPECT_EQ(out, Hex("90 00"));
    }
}

TEST_F(PackTessel, ACommandWithoutDataGoesOutUnchanged) {
    agreement();
    card.expect("80 CE 00 00 00", "01 02 24 90 00", 1024);
    close();
    TBytes out;
    pack->sm(Hex("80 CE 00 00 00"), out);
    EXPECT_EQ(out, Hex("01 02 24 90 00"));
}

TEST_F(PackTessel, GetResponseGathersTheAnswerOfAPiece) {
    agreement();
    card.expectPrefix(Hex("8C 24 00 00 16"), 27, Hex("01 02 61 10"));
    card.expect("00 C0 00 00 10", "03 04 6D 05", 1024);
    card.expect("00 C0 00 00 05", "05 90 01");
    close();
    TBytes out;
    pack->sm(Hex("80 24 00 00 01 31"), out);
    EXPECT_EQ(out, Hex("01 02 03 04 05 90 01"));
}

TEST_F(PackTessel, ARefusedPieceRaisesAndTheSessionIsNotClosed) {
    agreement();
    card.expectPrefix(Hex("9C 24 00 00 F6"), 5 + 0xF6, Hex("69 88"));
    TBytes out;
    EXPECT_EQ(CodeOf([&] { pack->sm(Concat(Hex("80 24 00 00 00 01 00"), Bytes(256, 0)), out); }), 0x6900);
    // The Tessel mapping of 6B00.
    agreement();
    card.expectPrefix(Hex("8C 24 00 00 16"), 27, Hex("6B 00"));
    EXPECT_EQ(CodeOf([&] { pack->sm(Hex("80 24 00 00 01 31"), out); }), 0x6400);
}

TEST_F(PackTessel, CardParametersThatCannotGiveKeysAreRefusedBeforeTheHostValue) {
    const TBytes p1024 = Prime(BN_get_rfc2409_prime_1024);
    TBytes even = p1024;
    even.back() ^= 1;
    TBytes pMinus1 = p1024;
    pMinus1.back() ^= 1;
    // 2^255 - 19: a prime whose shared secrets have 32 bytes, too few for two keys.
    const TBytes p255 = Hex("7F FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ED");
    const TBytes p2048 = Prime(BN_get_rfc3526_prime_2048);
    struct Case {
        const char* what;
        TBytes answer;
    };
    const Case cases[] = {
        {"no card value", Concat(Concat(Element(0x80, {0x02}), Element(0x81, p1024)), Hex("90 00"))},
        {"no modulus", Concat(Concat(Element(0x80, {0x02}), Element(0x82, {0x04})), Hex("90 00"))},
        {"malformed", Hex("80 01 02 81 85 00 90 00")},
        {"even modulus", Parameters({0x02}, even, {0x04})},
        {"card value 0", Parameters({0x02}, p1024, {0x00})},
        {"card value 1", Parameters({0x02}, p1024, {0x01})},
        {"card value p-1", Parameters({0x02}, p1024, pMinus1)},
        {"card value p", Parameters({0x02}, p1024, p1024)},
        {"secret under 40 bytes", Parameters({0x02}, p255, {0x04})},
        {"host value over 255 bytes", Parameters({0x02}, p2048, {0x04})},
        {"generator longer than the modulus", Parameters(Bytes(129, 1), p1024, {0x04})},
        {"modulus 3", Parameters({0x02}, {0x03}, {0x02})},
        {"empty modulus", Parameters({0x02}, {}, {0x02})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        card.sent.clear();
        card.expect(Hex("80 48 00 80 00"), c.answer);
        TBytes out;
        EXPECT_EQ(CodeOf([&] { pack->sm(Hex("80 24 00 00 01 31"), out); }), 0x6281);
        EXPECT_EQ(card.sent.size(), 1u);
    }
}

TEST_F(PackTessel, AShortAnswerToTheHostValueIsRefused) {
    card.expect(Hex("80 48 00 80 00"), Parameters({0x02}, Prime(BN_get_rfc2409_prime_1024), {0x04}));
    card.expectPrefix(Hex("80 86 00 00 80"), 134, Ok(Bytes(31, 0)));
    TBytes out;
    EXPECT_EQ(CodeOf([&] { pack->sm(Hex("80 24 00 00 01 31"), out); }), 0x6281);
    card.expect(Hex("80 48 00 80 00"), Hex("6A 82"));
    EXPECT_EQ(CodeOf([&] { pack->sm(Hex("80 24 00 00 01 31"), out); }), 0x6A82);
}

TEST_F(PackTessel, TheParametersMayComeInPieces) {
    const TBytes answer = Parameters({0x02}, Prime(BN_get_rfc2409_prime_1024), {0x04});
    const TBytes body(answer.begin(), answer.end() - 2);
    card.expect(Hex("80 48 00 80 00"), Concat(TBytes(body.begin(), body.begin() + 100), Hex("61 25")));
    card.expect(Hex("00 C0 00 00 25"), Concat(TBytes(body.begin() + 100, body.end()), Hex("90 00")));
    card.expectPrefix(Hex("80 86 00 00 80"), 134, Ok(Bytes(32, 0)));
    card.expectPrefix(Hex("8C 24 00 00 16"), 27, Ok());
    close();
    TBytes out;
    pack->sm(Hex("80 24 00 00 01 31"), out);
}

TEST_F(PackTessel, ChainSendsPlainPiecesAndGathersTheAnswers) {
    struct Case {
        size_t length;
        std::vector<std::string> heads;
        bool le;  // the last piece ends with Le 00
    };
    const Case cases[] = {
        {224, {"80 30 38 00 E0"}, true},
        {225, {"90 30 38 00 E0", "80 30 38 00 01"}, true},
        {448, {"90 30 38 00 E0", "80 30 38 00 E0"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const TBytes data = Bytes(c.length, 7);
        size_t at = 0;
        for (size_t i = 0; i < c.heads.size(); ++i) {
            const TBytes head = Hex(c.heads[i]);
            TBytes piece = Concat(head, TBytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                               data.begin() + static_cast<std::ptrdiff_t>(at + head[4])));
            at += head[4];
            if (i + 1 == c.heads.size()) piece.push_back(0x00);
            card.expect(piece, Hex(i + 1 == c.heads.size() ? "B2 90 00" : "B1 90 00"), 1024);
        }
        TBytes command = Hex("80 30 38 00 00");
        PutBE16(command, static_cast<unsigned short>(c.length));
        command = Concat(command, data);
        command.insert(command.end(), {0x00, 0x10});  // the command's own Le is not used
        TBytes out;
        pack->chain(command, out);
        EXPECT_EQ(out, c.heads.size() == 1 ? Hex("B2 90 00") : Hex("B1 B2 90 00"));
    }
    // No data: the command as it stands.
    card.expect("80 30 38 00 00", "D2 02 00 01 61 02", 1024);
    card.expect("00 C0 00 00 02", "00 02 90 00");
    TBytes out;
    pack->chain(Hex("80 30 38 00 00"), out);
    EXPECT_EQ(out, Hex("D2 02 00 01 00 02 90 00"));
    card.expect("80 30 38 00 00", "6A 82");
    EXPECT_EQ(CodeOf([&] { pack->chain(Hex("80 30 38 00 00"), out); }), 0x6A82);
    EXPECT_EQ(CodeOf([&] { pack->chain(Hex("80 30 38"), out); }), 0x6B00);
}

TEST_F(PackTessel, ACardThatNeverStopsAskingForMoreIsRefused) {
    card.expect("80 30 38 00 00", "00 61 01");
    for (size_t i = 0; i + 1 < CPackTessel::kMaxRounds; ++i) card.expect("00 C0 00 00 01", "00 61 01");
    TBytes out;
    EXPECT_EQ(CodeOf([&] { pack->chain(Hex("80 30 38 00 00"), out); }), 0x6281);
    // Nor are more than 64 KiB gathered.
    const TBytes big = Concat(TBytes(1022, 0), Hex("61 00"));
    card.expect(Hex("80 30 38 00 00"), big);
    for (size_t i = 0; i < 0x10000 / 1022; ++i) card.expect(Hex("00 C0 00 00 00"), big);
    EXPECT_EQ(CodeOf([&] { pack->chain(Hex("80 30 38 00 00"), out); }), 0x6281);
}

}  // namespace
