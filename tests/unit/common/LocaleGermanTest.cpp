#include "common/Main.h"

#include <gtest/gtest.h>

TEST(GermanLocale, DecimalSeparatorIsTheComma) { EXPECT_EQ(GetDecimalSeparator(), L","); }
