// The helpers both tools share: how bytes show, and bounded numbers.
#include <gtest/gtest.h>

#include <string_view>

#include "parse.h"
#include "visible.h"

namespace qeltools {
namespace {

TEST(Visible, ShowsControlAndHighBytes) {
    EXPECT_EQ(Visible("*01\r\n"), "*01<CR><LF>");
    EXPECT_EQ(Visible(std::string_view("a\0b\x7F\xE9", 5)), "a<00>b<7F><E9>");
    EXPECT_EQ(Visible("\x02R01"), "<02>R01");
}

TEST(ParseUnsigned, ReadsDigitsUpToTheLimitWithoutOverflow) {
    struct Case {
        const char* text;
        uint64_t max;
        Radix radix;
        bool read;
        uint64_t value;
    } cases[] = {
        {"0", 0, Radix::kDecimal, true, 0},
        {"600000", 600000, Radix::kDecimal, true, 600000},
        {"600001", 600000, Radix::kDecimal, false, 0},
        {"5", 4, Radix::kDecimal, false, 0},
        {"00000000000000000000000007", 7, Radix::kDecimal, true, 7},
        {"18446744073709551615", UINT64_MAX, Radix::kDecimal, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, Radix::kDecimal, false, 0},
        {"99999999999999999999999", UINT64_MAX, Radix::kDecimal, false, 0},
        {"", 10, Radix::kDecimal, false, 0},
        {"-1", 10, Radix::kDecimal, false, 0},
        {" 1", 10, Radix::kDecimal, false, 0},
        {"0x10", 100, Radix::kDecimal, false, 0},
        {"0x10", 100, Radix::kDecimalOrHex, true, 16},
        {"0XfF", 255, Radix::kDecimalOrHex, true, 255},
        {"0x100", 255, Radix::kDecimalOrHex, false, 0},
        {"0x", 255, Radix::kDecimalOrHex, false, 0},
        {"1a", 255, Radix::kDecimalOrHex, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t value = 12345;
        EXPECT_EQ(ParseUnsigned(c.text, c.max, &value, c.radix), c.read) << c.text;
        EXPECT_EQ(value, c.read ? c.value : 12345u) << c.text;
    }
}

}  // namespace
}  // namespace qeltools
