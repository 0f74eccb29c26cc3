// Kite secure messaging against a scripted card: the protected command's exact
// bytes, and the unwrapping of every shape of answer. The expected cryptograms
// and MACs are computed with the simulator's own OpenSSL routines.
#include "apperror/apperror.h"
#include "apppack/pack_kite.h"
#include "pin_test_applet.h"
#include "sim_crypto.h"

using namespace libapdu;
using keyshelf_test::RaisedCode;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::ScriptedSender;
using testing_card::ToHex;

namespace {

const TBytes kMacKey = Hex("0123456789ABCDEF FEDCBA9876543210 89ABCDEF01234567");
const TBytes kEncKey = Hex("1111111122222222 3333333344444444 5555555566666666");

struct KitePack {
    KitePack() : applet(&card, new CErrorKite), pack(new CPackKite(&applet)) {
        applet.setPack(pack);
        pack->keySet(CPackKite::kSlotMac, kMacKey);
        pack->keySet(CPackKite::kSlotEnc, kEncKey);
    }
    ~KitePack() { EXPECT_TRUE(card.done()) << "scripted commands were never sent"; }

    ScriptedSender card;
    testing_card::BareApplet applet;
    CPackKite* pack;
};

// The protected form of a plain command, built from the layout: CLA|0C INS P1 P2,
// Lc, 87 L 01 C, 97 01 FF, 8E 08 MAC, FF.
TBytes Protected(const TBytes& header, const TBytes& data) {
    const TBytes c = cardsim::TdesCbc(kEncKey, cardsim::Pad2(data), TBytes(), true);
    TBytes do87 = {0x87, static_cast<unsigned char>(c.size() + 1), 0x01};
    do87 = Concat(do87, c);
    TBytes head = header;
    head[0] |= 0x0C;
    TBytes m = Concat(Concat(head, TBytes(4, 0)), do87);
    m.resize((m.size() / 8 + 1) * 8, 0);
    m = Concat(m, Hex("97 01 FF"));
    m.resize((m.size() / 8 + 1) * 8, 0);
    TBytes out = head;
    out.push_back(static_cast<unsigned char>(do87.size() + 13));
    out = Concat(out, do87);
    out = Concat(out, Hex("97 01 FF 8E 08"));
    out = Concat(out, cardsim::RetailMac(kMacKey, m));
    out.push_back(0xFF);
    return out;
}

// The card's answer: 87 (in the FF length form when long), 8E over the
// protected header and 87, the status word.
TBytes Answer(const TBytes& protectedHeader, const TBytes& plain, const std::string& sw = "90 00") {
    TBytes value = {0x01};
    value = Concat(value, cardsim::TdesCbc(kEncKey, cardsim::Pad2(plain), TBytes(), true));
    TBytes m = Concat(protectedHeader, TBytes(4, 0));
    m.push_back(0x87);
    m.push_back(static_cast<unsigned char>(value.size() & 0xFF));
    m = Concat(m, value);
    TBytes out = {0x87};
    if (value.size() < 0xFF) {
        out.push_back(static_cast<unsigned char>(value.size()));
    } else {
        out = Concat(out, {0xFF, static_cast<unsigned char>(value.size() >> 8), static_cast<unsigned char>(value.size())});
    }
    out = Concat(out, value);
    out = Concat(out, Hex("8E 08"));
    out = Concat(out, cardsim::RetailMac(kMacKey, m));
    return Concat(out, Hex(sw));
}

TEST(KitePack, ACommandWithoutDataCarriesOnePaddingBlock) {
    KitePack k;
    const TBytes sent = Protected(Hex("80 CA 01 02"), TBytes());
    ASSERT_EQ(sent.size(), 5u + 24 + 1);
    EXPECT_EQ(ToHex(TBytes(sent.begin(), sent.begin() + 8)), "8C CA 01 02 18 87 09 01");
    k.card.expect(sent, Answer(Hex("8C CA 01 02"), Hex("AA BB")), 257);
    TBytes out;
    k.pack->sm(Hex("80 CA 01 02"), out);
    EXPECT_EQ(ToHex(out), "AA BB 90 00");
}

TEST(KitePack, CommandsWithDataUpToTheLargestThatFits) {
    for (size_t n : {1u, 7u, 8u, 24u, 231u}) {
        SCOPED_TRACE(n);
        KitePack k;
        const TBytes data(n, 0x5C);
        TBytes command = Concat(Hex("90 24 00 91"), TBytes{static_cast<unsigned char>(n)});
        command = Concat(command, data);
        const TBytes sent = Protected(Hex("90 24 00 91"), data);
        EXPECT_EQ(sent[4], static_cast<unsigned char>((n / 8 + 1) * 8 + 3 + 13));
        k.card.expect(sent, Hex("90 00"));
        TBytes out;
        k.pack->sm(command, out);
        EXPECT_EQ(ToHex(out), "90 00");
    }
    // 232 bytes no longer fit the one-byte Lc: refused before sending.
    KitePack k;
    TBytes command = Concat(Hex("90 24 00 91 E8"), TBytes(232, 0));
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { k.pack->sm(command, out); }), 0x6B00);
    EXPECT_TRUE(k.card.sent.empty());
}

TEST(KitePack, AnswersAreUnwrappedOrRefused) {
    const TBytes head = Hex("8C CA 01 02");
    const TBytes good = Answer(head, Hex("01 02 03"));
    TBytes badMac = good;
    badMac[badMac.size() - 3] ^= 0x01;
    // 8E in front of 87.
    const size_t macAt = good.size() - 12;
    TBytes swapped = Concat(TBytes(good.begin() + static_cast<std::ptrdiff_t>(macAt), good.end() - 2),
                            TBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(macAt)));
    swapped = Concat(swapped, Hex("90 00"));
    struct Case {
        const char* name;
        TBytes answer;
        const char* output;  // null: raises 6281
    };
    const Case cases[] = {
        {"plaintext and status", good, "01 02 03 90 00"},
        {"status after the plaintext is not checked", Answer(head, Hex("01"), "62 83"), "01 62 83"},
        {"a bare status word", Hex("69 82"), "69 82"},
        {"other objects are skipped", Concat(Hex("99 02 90 00"), good), "01 02 03 90 00"},
        {"wrong MAC", badMac, nullptr},
        {"8E before 87", swapped, nullptr},
        {"no 8E", Concat(TBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(macAt)), Hex("90 00")), nullptr},
        {"empty 87", Hex("87 00 8E 08 00 00 00 00 00 00 00 00 90 00"), nullptr},
        {"87 runs past the data", Hex("87 40 01 02 03 90 00"), nullptr},
        {"00 tag", Concat(Hex("00 02 90 00"), good), nullptr},
        {"one byte", Hex("90"), nullptr},
        {"nothing", TBytes(), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KitePack k;
        k.card.expect(Protected(Hex("80 CA 01 02"), TBytes()), c.answer);
        TBytes out;
        if (c.output) {
            k.pack->sm(Hex("80 CA 01 02"), out);
            EXPECT_EQ(ToHex(out), c.output);
        } else {
            EXPECT_EQ(RaisedCode([&] { k.pack->sm(Hex("80 CA 01 02"), out); }), 0x6281);
        }
    }
}

TEST(KitePack, ALongAnswerInTheEscapedLengthForm) {
    // 250 bytes make a 257-byte 87 value, whose length needs FF 01 01; the MAC
    // input still takes its low byte.
    KitePack k;
    const TBytes answer = Answer(Hex("8C CA 01 02"), TBytes(250, 0x42));
    EXPECT_EQ(ToHex(TBytes(answer.begin(), answer.begin() + 4)), "87 FF 01 01");
    k.card.expect(Protected(Hex("80 CA 01 02"), TBytes()), answer);
    TBytes out;
    k.pack->sm(Hex("80 CA 01 02"), out);
    EXPECT_EQ(out, Concat(TBytes(250, 0x42), Hex("90 00")));
}

TEST(KitePack, NeedsTheSessionKeysAndOffersNoChaining) {
    for (size_t missing : {CPackKite::kSlotMac, CPackKite::kSlotEnc}) {
        KitePack k;
        k.pack->keySet(missing, TBytes());
        TBytes out;
        EXPECT_EQ(RaisedCode([&] { k.pack->sm(Hex("80 CA 01 02"), out); }), 0x6900);
        EXPECT_TRUE(k.card.sent.empty());
    }
    KitePack k;
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { k.pack->chain(Hex("80 CA 01 02"), out); }), 0xFACE);
}

}  // namespace
