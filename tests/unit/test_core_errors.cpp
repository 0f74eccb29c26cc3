// Exceptions and the one raising routine.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "libapdu.internal.h"
#include "raised.h"

using namespace libapdu;

namespace {

TEST(CoreErrors, RaiseCarriesCodeSourceDateAndLine) {
    struct Case {
        unsigned short code;
        std::wstring source;
        unsigned long line;
        std::string file;
    };
    const Case cases[] = {
        {0xFACE, L"", 0, ""},
        {0x6A82, LIBAPDU_SOURCE("token/appfs/fs_kite"), 123, "Externals/Internal/LibAPDU/Source/token/appfs/fs_kite"},
        {0xFFFF, L"x", 4294967295ul, "x"},
        {0x0000, L"a/b", 1, "a/b"},
        // Wide characters are narrowed to their low 8 bits, one by one.
        {0x6281, std::wstring(L"\x141\x0162z"), 7, "\x41\x62z"},
    };
    for (const Case& c : cases) {
        auto r = RaisedBy([&] { ExternalRaise(c.code, c.source, c.line); });
        ASSERT_TRUE(r);
        EXPECT_EQ(r->code, c.code);
        EXPECT_EQ(r->file, c.file);
        EXPECT_EQ(r->line, c.line);
        EXPECT_EQ(r->date, BuildDate());
    }
    EXPECT_TRUE(std::regex_match(std::string(BuildDate()), std::regex("[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}")))
        << BuildDate();
}

TEST(CoreErrors, RaiseThroughTheSourceMacroNamesFileAndLine) {
    static const wchar_t kSource[] = LIBAPDU_SOURCE("token/appfs/fs_java");
    const unsigned long line = __LINE__ + 1;
    auto r = RaisedBy([] { LIBAPDU_RAISE(0x6A82); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0x6A82);
    EXPECT_EQ(r->file, "Externals/Internal/LibAPDU/Source/token/appfs/fs_java");
    EXPECT_EQ(r->line, line);
}

TEST(CoreErrors, CardErrorIsAnIExceptionAndABindingException) {
    try {
        ExternalRaise(0x6300, L"s", 9);
    } catch (IException& e) {
        EXPECT_EQ(e.code(), 0x6300);
        // The same object also carries the binding's fields.
        CAException* a = dynamic_cast<CAException*>(&e);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->code(), 0x6300);
        EXPECT_EQ(a->file(), "s");
        EXPECT_EQ(a->line(), 9u);
    }
}

TEST(CoreErrors, CodeIsTheLowSixteenBits) {
    CSCardException e(0x80070490L, "f", "d", 3);
    EXPECT_EQ(e.code(), 0x0490);
    EXPECT_EQ(static_cast<const CAException&>(e).code(), 0x80070490L);
}

TEST(CoreErrors, BindingErrorPassesCardHandlers) {
    bool cardHandler = false, catchAll = false;
    try {
        try {
            CAException::RaiseAnError(0x80070490L, "APDUTokenModule", "Jan 29 2020", 42);
        } catch (IException&) {
            cardHandler = true;
        }
    } catch (const CAException& e) {
        catchAll = true;
        EXPECT_EQ(e.code(), 0x80070490L);
        EXPECT_EQ(e.file(), "APDUTokenModule");
        EXPECT_EQ(e.date(), "Jan 29 2020");
        EXPECT_EQ(e.line(), 42u);
    }
    EXPECT_FALSE(cardHandler);
    EXPECT_TRUE(catchAll);
}

TEST(CoreErrors, NullTextsInTheBindingExceptionBecomeEmpty) {
    CAException e(1, nullptr, nullptr, 0);
    EXPECT_EQ(e.file(), "");
    EXPECT_EQ(e.date(), "");
}

TEST(CoreErrors, TraceHookDoesNothingAndTraceTextsAreSet) {
    ExternalTrace(L"src", 1, L"text");
    EXPECT_EQ(CTraceScope::enter_msg, L"Scope enter: ");
    EXPECT_EQ(CTraceScope::exit_msg, L"Scope exit: ");
}

TEST(CoreErrors, TransportControlDefaultIsNotSupported) {
    struct Bare : ISender {
        void send(const TBytes&, TBytes&) override {}
        TBytes atr() override { return {}; }
    } s;
    TBytes out;
    auto r = RaisedBy([&] { s.control(0x9C41264C, {1}, out); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0xFACE);
    EXPECT_EQ(r->file, "Externals/Internal/LibAPDU/Source/token/libapdu");
}

}  // namespace
