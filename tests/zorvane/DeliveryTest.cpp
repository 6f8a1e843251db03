#include "Delivery.h"

#include <gtest/gtest.h>

TEST(DeliverUntilTaken, TriesAgainUntilThePostIsTaken)
{
    int tries = 0;
    int pauses = 0;
    bool delivered = DeliverUntilTaken([&] { return ++tries == 5; }, [] { return false; }, [&] { ++pauses; });
    EXPECT_TRUE(delivered);
    EXPECT_EQ(tries, 5);
    EXPECT_EQ(pauses, 4);
}

TEST(DeliverUntilTaken, StopsWhenNobodyWillTakeTheMessage)
{
    int tries = 0;
    int checks = 0;
    bool delivered = DeliverUntilTaken([&] { ++tries; return false; }, [&] { return ++checks == 3; }, [] {});
    EXPECT_FALSE(delivered);
    EXPECT_EQ(tries, 3);
}

TEST(DeliverUntilTaken, AFirstSuccessNeedsNoPause)
{
    int pauses = 0;
    EXPECT_TRUE(DeliverUntilTaken([] { return true; }, [] { return true; }, [&] { ++pauses; }));
    EXPECT_EQ(pauses, 0);
}
