// The whole-text reading the command line takes numbers with: the window's
// decimal-or-0x rule, but nothing that the window would read only in part.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/number_text.h"

TEST(ExactNumberFromText, TheWindowsRuleOnTheWholeText)
{
    const std::pair<const char*, uint32_t> taken[] = {
        {"0", 0}, {"010", 10}, {"0x1F", 31}, {"0X1f", 31}, {"0x00000024", 0x24}, {"4294967295", UINT32_MAX},
        {"0xFFFFFFFF", UINT32_MAX},
    };
    for (auto [text, value] : taken) {
        uint32_t got = 7;
        EXPECT_TRUE(exactNumberFromText(text, &got)) << "'" << text << "'";
        EXPECT_EQ(got, value) << "'" << text << "'";
    }
    const char* refused[] = {"", "0x", "12ab", " 42", "42 ", "+5", "-1", "0x-10", "0x0x10", "1e3", "4294967296",
                             "0x100000000", "99999999999999999999999"};
    for (const char* text : refused) {
        uint32_t got = 7;
        EXPECT_FALSE(exactNumberFromText(text, &got)) << "'" << text << "'";
        EXPECT_EQ(got, 7u) << "'" << text << "' changed the value it refused";
    }
}
