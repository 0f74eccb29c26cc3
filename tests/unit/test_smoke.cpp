#include <gtest/gtest.h>

#include "libapdu.h"

using namespace libapdu;

TEST(Errors, ExternalRaiseCarriesCodeFileAndLine) {
    try {
        ExternalRaise(0xFACE, L"", 0);
        FAIL();
    } catch (const CSCardException& e) {
        EXPECT_EQ(e.code(), 0xFACE);
        EXPECT_EQ(e.file(), "");
        EXPECT_EQ(e.line(), 0u);
        EXPECT_EQ(e.date(), std::string(__DATE__));
    }
}
