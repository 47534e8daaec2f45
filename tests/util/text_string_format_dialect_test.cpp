// Format expands the C99 printf dialect on every platform, including the
// Windows build, whose system C runtime (msvcrt) knows an older one.
#include <cstddef>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "text_string.h"

namespace {

TEST(TextStringFormatDialect, C99LengthModifiersAndConversions) {
    TextString s;
    const std::size_t size = 3;
    const long long big = -9000000000LL;
    const signed char small = 7;
    s.Format("%zu|%lld|%hhd|%5.1f|%#x|%%", size, big, small, 2.5, 255u);
    EXPECT_EQ(std::string(s.GetText()), "3|-9000000000|7|  2.5|0xff|%");

    // Infinity and NaN are written as C99 writes them, not as "1.#INF".
    const double infinity = std::numeric_limits<double>::infinity();
    s.Format("%f %F", infinity, -infinity);
    EXPECT_EQ(std::string(s.GetText()), "inf -INF");
}

} // namespace
