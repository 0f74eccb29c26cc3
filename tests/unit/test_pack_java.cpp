// Secure messaging of the Java and Heron applets against an OpenSSL card peer:
// every case runs on both families, which differ only in the challenge command.
#include <gtest/gtest.h>

#include <memory>

#include "apperror/apperror.h"
#include "apppack/pack_heron.h"
#include "apppack/pack_java.h"
#include "java_card_peer.h"
#include "test_applet.h"

using namespace libapdu;
using testing_card::Concat;
using testing_card::Hex;
using testing_card::JavaCardPeer;
using testing_card::ProtectedStep;
using testing_card::RaisedCode;
using testing_card::ToHex;

namespace {

template <class Error, class Pack> struct SmApplet : IApplet {
    explicit SmApplet(ISender* s) : IApplet(s) {
        setError(new Error);
        setPack(new Pack(this));
    }
};

struct Family {
    const char* name;
    unsigned char challengeIns;
    IApplet* (*make)(ISender*);
};
void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

const Family kJava = {"Java", 0x17, [](ISender* s) -> IApplet* { return new SmApplet<CErrorJava, CPackJava>(s); }};
const Family kHeron = {"Heron", 0x12,
                       [](ISender* s) -> IApplet* { return new SmApplet<CErrorHeron, CPackHeron>(s); }};

// Two-key and three-key session keys side by side: slots 1 and 3 two-key, 2 and 4 three-key.
std::vector<TBytes> SessionKeys() {
    return {Hex("00000000000000000000000000000000"),
            Hex("0123456789ABCDEFFEDCBA9876543210"),
            Hex("101112131415161718191A1B1C1D1E1F2021222324252627"),
            Hex("89ABCDEF0123456776543210FEDCBA98"),
            Hex("F0E1D2C3B4A5968778695A4B3C2D1E0F0F1E2D3C4B5A6978")};
}

TBytes Command(const std::string& header, size_t dataSize, const std::string& le = "") {
    TBytes c = Hex(header);
    if (dataSize > 0xFF) {
        c.push_back(0x00);
        c.push_back(static_cast<unsigned char>(dataSize >> 8));
        c.push_back(static_cast<unsigned char>(dataSize & 0xFF));
    } else if (dataSize) {
        c.push_back(static_cast<unsigned char>(dataSize));
    }
    for (size_t i = 0; i < dataSize; ++i) c.push_back(static_cast<unsigned char>(i * 7 + 1));
    return Concat(c, Hex(le));
}

class PackJavaFamily : public ::testing::TestWithParam<Family> {
protected:
    PackJavaFamily() : card(GetParam().challengeIns), applet(GetParam().make(&card)) {}
    void TearDown() override { EXPECT_EQ(card.unconsumed(), 0u) << "scripted commands left unsent"; }

    void fillSlots() {
        const auto keys = SessionKeys();
        for (size_t i = 0; i < keys.size(); ++i) applet->pack()->keySet(i, keys[i]);
    }
    ProtectedStep step(const TBytes& inner) {
        ProtectedStep p;
        p.inner = inner;
        p.keys = SessionKeys();
        return p;
    }
    std::string challengeCommand() const {
        char b[32];
        std::snprintf(b, sizeof b, "80 %02X 01 00 08", GetParam().challengeIns);
        return b;
    }

    JavaCardPeer card;
    std::unique_ptr<IApplet> applet;
};

// The length forms of the protected command: Lc one byte up to a 254-byte body,
// else 00 H L; the cryptogram's length one byte up to 254, else FF H L; Le' two
// bytes, 32 more than the plain command's Le, whatever form Lc took.
struct WrapCase {
    const char* what;
    TBytes inner;
    const char* start;  // the protected command's first bytes: header, Lc, tag 32 and its length
    size_t size;
    const char* lePrime;
};

TEST_P(PackJavaFamily, WrapsEveryLengthFormAndReturnsThePlaintext) {
    const WrapCase cases[] = {
        {"no data, no Le", Hex("80 20 00 11"), "84 20 00 11 2C 32 08", 5 + 44 + 2, "00 20"},
        {"Le 00", Hex("80 CA 00 00 00"), "84 CA 00 00 2C 32 08", 5 + 44 + 2, "00 20"},
        {"Le 10", Hex("80 CA 00 00 10"), "84 CA 00 00 2C 32 08", 5 + 44 + 2, "00 30"},
        {"215 data bytes", Command("80 2A 00 00", 215), "84 2A 00 00 FC 32 D8", 5 + 252 + 2, "00 20"},
        {"216 data bytes", Command("80 2A 00 00", 216), "84 2A 00 00 00 01 04 32 E0", 7 + 260 + 2, "00 20"},
        {"248-byte cryptogram", Command("80 2A 00 00", 247, "00"), "84 2A 00 00 00 01 1C 32 F8", 7 + 284 + 2,
         "00 20"},
        {"256-byte cryptogram", Command("80 2A 00 00", 248), "84 2A 00 00 00 01 26 32 FF 01 00", 7 + 294 + 2,
         "00 20"},
    };
    fillSlots();
    for (const WrapCase& c : cases) {
        SCOPED_TRACE(c.what);
        ProtectedStep p = step(c.inner);
        p.answerData = Hex("DE AD BE EF 01");
        card.expectProtected(p);
        card.protectedSent.clear();
        TBytes out = Hex("55 55");
        applet->pack()->sm(c.inner, out);
        EXPECT_EQ(ToHex(out), "DE AD BE EF 01 90 00");
        ASSERT_EQ(card.protectedSent.size(), 1u);
        const TBytes& w = card.protectedSent[0];
        const TBytes start = Hex(c.start);
        ASSERT_GE(w.size(), start.size());
        EXPECT_EQ(ToHex(TBytes(w.begin(), w.begin() + start.size())), c.start);
        EXPECT_EQ(w.size(), c.size);
        EXPECT_EQ(ToHex(TBytes(w.end() - 2, w.end())), c.lePrime);
    }
}

// The answer forms the card uses, and the malformed ones that must fail as a
// bad answer rather than be read past.
TEST_P(PackJavaFamily, ReadsTheAnswerForms) {
    struct AnswerCase {
        const char* what;
        void (*shape)(ProtectedStep&);
        long code;  // -1: success
        const char* output;
    };
    const AnswerCase cases[] = {
        {"32 then 22", [](ProtectedStep& p) { p.answerData = Hex("01 02"); }, -1, "01 02 90 00"},
        {"22 then 32",
         [](ProtectedStep& p) {
             p.answerData = Hex("01 02");
             p.ivFirst = true;
         },
         -1, "01 02 90 00"},
        {"empty plaintext", [](ProtectedStep& p) { p.answerData = {}; }, -1, "90 00"},
        {"300-byte plaintext, FF length form",
         [](ProtectedStep& p) { p.answerData = TBytes(300, 0x5A); }, -1, nullptr},
        {"other element with a long length stepped over",
         [](ProtectedStep& p) {
             p.answerData = Hex("07");
             p.extraLeading = Hex("41 FF 00 03 AA BB CC");
         },
         -1, "07 90 00"},
        {"four-byte body: status only", [](ProtectedStep& p) { p.form = ProtectedStep::kNoData; }, -1, "90 00"},
        {"four-byte body that looks like elements",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Hex("32 02 00 00");
         },
         -1, "90 00"},
        {"tag 00 before the elements",
         [](ProtectedStep& p) {
             p.answerData = Hex("01");
             p.extraLeading = Hex("00 01 00");
         },
         0x6281, nullptr},
        {"tag FF before the elements",
         [](ProtectedStep& p) {
             p.answerData = Hex("01");
             p.extraLeading = Hex("FF 01 00");
         },
         0x6281, nullptr},
        {"empty body",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = {};
         },
         0x6281, nullptr},
        {"IV missing",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Hex("32 08 00 11 22 33 44 55 66 77");
         },
         0x6281, nullptr},
        {"cryptogram runs past the body",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Hex("22 08 00 11 22 33 44 55 66 77 32 10 00 11");
         },
         0x6281, nullptr},
        {"escaped length runs past the body",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Hex("22 08 00 11 22 33 44 55 66 77 32 FF 01");
         },
         0x6281, nullptr},
        {"empty IV element: a zero IV",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Concat(Hex("22 00 32 08"), testing_card::TdesCbc(p.keys[3], testing_card::Pad2(Hex("01 02")),
                                                                           {}, true));
         },
         -1, "01 02 90 00"},
        {"IV of four bytes",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Hex("22 04 00 11 22 33 32 08 00 11 22 33 44 55 66 77");
         },
         0x6281, nullptr},
        {"cryptogram not whole blocks",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kRawBody;
             p.rawBody = Hex("22 08 00 11 22 33 44 55 66 77 32 05 00 11 22 33 44");
         },
         0x6281, nullptr},
        {"answer MAC wrong",
         [](ProtectedStep& p) {
             p.answerData = Hex("01");
             p.spoilMac = true;
         },
         0x6281, nullptr},
        {"bare rejected status word: the family's code, not 6281",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kBareStatus;
             p.sw = Hex("69 82");
         },
         0x6900, nullptr},
        {"bare wrong-PIN status",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kBareStatus;
             p.sw = Hex("63 C1");
         },
         0x6300, nullptr},
        {"bare success status is too short",
         [](ProtectedStep& p) {
             p.form = ProtectedStep::kBareStatus;
             p.sw = Hex("90 00");
         },
         0x6281, nullptr},
    };
    fillSlots();
    const TBytes inner = Hex("80 0F 00 11 03 01 02 03");
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.what);
        ProtectedStep p = step(inner);
        c.shape(p);
        card.expectProtected(p);
        TBytes out;
        EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(inner, out); }), c.code);
        if (c.code == -1) {
            EXPECT_EQ(ToHex(out), c.output ? std::string(c.output) : ToHex(Concat(p.answerData, Hex("90 00"))));
        }
    }
}

TEST_P(PackJavaFamily, EmptyCommandSlotsStopBeforeTheProtectedCommand) {
    for (size_t emptySlot : {1u, 2u}) {
        SCOPED_TRACE(emptySlot);
        fillSlots();
        applet->pack()->keySet(emptySlot, {});
        // The challenge is fetched first; nothing protected follows it.
        card.expect(challengeCommand(), "11 22 33 44 55 66 77 88 90 00");
        TBytes out;
        EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(Hex("80 20 00 11"), out); }), 0x6900);
    }
    applet->pack()->keyClear();
    card.expect(challengeCommand(), "11 22 33 44 55 66 77 88 90 00");
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(Hex("80 20 00 11"), out); }), 0x6900);
}

TEST_P(PackJavaFamily, EmptyAnswerSlots) {
    // Slot 4 checks the MAC: its absence shows once the card has answered.
    fillSlots();
    applet->pack()->keySet(4, {});
    ProtectedStep p = step(Hex("80 20 00 11"));
    p.answerData = Hex("01");
    card.expectProtected(p);
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(p.inner, out); }), 0x6900);

    // Slot 3 decrypts: a missing one is an unreadable answer.
    fillSlots();
    applet->pack()->keySet(3, {});
    card.expectProtected(p);
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(p.inner, out); }), 0x6281);
}

// A MAC that cannot be computed (a slot holding a key of the wrong length) is a
// failure of our own: it is neither sent nor compared with the card's, so a card
// answering with eight zero bytes is not taken at its word.
TEST_P(PackJavaFamily, AMacThatCannotBeComputedIsRefused) {
    fillSlots();
    applet->pack()->keySet(4, Hex("01 02 03 04 05 06 07 08"));
    ProtectedStep p = step(Hex("80 20 00 11"));
    p.answerData = Hex("01");
    p.zeroMac = true;
    card.expectProtected(p);
    TBytes out = Hex("55 55");
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(p.inner, out); }), 0xFFFF);
    EXPECT_EQ(ToHex(out), "55 55");

    // The command's own MAC: nothing protected is sent after the challenge.
    fillSlots();
    applet->pack()->keySet(2, Hex("01 02 03 04 05 06 07 08 09"));
    card.expect(challengeCommand(), "11 22 33 44 55 66 77 88 90 00");
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(p.inner, out); }), 0xFFFF);
    EXPECT_TRUE(card.protectedSent.size() == 1u);
}

TEST_P(PackJavaFamily, ChallengeAnswers) {
    struct ChallengeCase {
        const char* answer;
        long code;
    };
    const ChallengeCase cases[] = {
        {"01 02 03 04 05 06 07 08 90 00", -1},
        {"01 02 03 04 05 06 07 90 00", 0x6281},
        {"01 02 03 04 05 06 07 08 09 90 00", 0x6281},
        {"90 00", 0x6281},
        {"69 85", 0x6900},
        {"", 0xFFFF},
    };
    auto* pack = dynamic_cast<CPackJavaFamily*>(applet->pack());
    ASSERT_NE(pack, nullptr);
    for (const ChallengeCase& c : cases) {
        SCOPED_TRACE(c.answer);
        card.expect(challengeCommand(), c.answer);
        TBytes got;
        EXPECT_EQ(RaisedCode([&] { got = pack->challengeGet(); }), c.code);
        if (c.code == -1) {
            EXPECT_EQ(ToHex(got), "01 02 03 04 05 06 07 08");
        }
    }
}

TEST_P(PackJavaFamily, RefusedBeforeAnyTraffic) {
    fillSlots();
    TBytes out;
    EXPECT_EQ(RaisedCode([&] { applet->pack()->chain(Hex("80 20 00 11"), out); }), 0xFACE);
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(Hex("80 20 00"), out); }), 0x6B00);
    // The cryptogram of 65535 data bytes needs more than a 16-bit length.
    EXPECT_EQ(RaisedCode([&] { applet->pack()->sm(Command("80 2A 00 00", 0xFFFF), out); }), 0x6B00);
    EXPECT_TRUE(card.sent.empty());
}

TEST_P(PackJavaFamily, FreshRandomValuesEveryCall) {
    fillSlots();
    const TBytes inner = Hex("80 20 00 11");
    for (int i = 0; i < 2; ++i) {
        ProtectedStep p = step(inner);
        p.form = ProtectedStep::kNoData;
        card.expectProtected(p);
        TBytes out;
        applet->pack()->sm(inner, out);
    }
    ASSERT_EQ(card.protectedSent.size(), 2u);
    EXPECT_NE(ToHex(card.protectedSent[0]), ToHex(card.protectedSent[1]));
}

INSTANTIATE_TEST_SUITE_P(Families, PackJavaFamily, ::testing::Values(kJava, kHeron),
                         [](const ::testing::TestParamInfo<Family>& i) { return std::string(i.param.name); });

}  // namespace
