#include "engine/WordProbes.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

TEST(GermanLocale, BothSeparatorsReadAsTheDecimalComma) {
    ComApartment com;
    StandIn::Session session;
    int boxes = 0;
    TestServices services;
    services.boxes = [&](const MessageBoxRequest&) { return ++boxes, IDOK; };
    auto word = StandIn::StartUserWord();  // its Version text is what is converted
    StandIn::SetVersion(L"16.0");
    EXPECT_EQ(GetWordVersion(), 16);
    StandIn::SetVersion(L"16,0");
    EXPECT_EQ(GetWordVersion(), 16);
    StandIn::SetVersion(L"12.5");
    EXPECT_EQ(GetWordVersion(), 12.5);
    EXPECT_EQ(boxes, 0);
    StandIn::SetVersion(L"16,0.1");
    EXPECT_EQ(GetWordVersion(), 0);
    EXPECT_EQ(boxes, 1);
}
