#include "code_table.h"

#include <gtest/gtest.h>

TEST(CodeTable, EveryCodeRoundTrips)
{
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(textToCode(codeToText(static_cast<std::uint8_t>(code))), code) << code;
}
