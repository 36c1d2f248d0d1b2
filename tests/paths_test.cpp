#include "instutil/paths.h"

#include "test_support.h"

TEST(JoinStrings, SkipsNullsAndJoinsInOrder) {
    WideBuffer joined = JoinStrings(4, L"a", nullptr, L"bc", L"");
    EXPECT_STREQ(joined, L"abc");
    FreeAndClear(&joined);
    EXPECT_EQ(joined, nullptr);
    WideBuffer empty = JoinStrings(0);
    EXPECT_STREQ(empty, L"");
    FreeAndClear(&empty);
    FreeAndClear(&empty);  // a null pointer is left alone
}
