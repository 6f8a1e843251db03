#include <gtest/gtest.h>

#include <cstring>

#include "PanelRules.h"

namespace {

TEST(PanelRules, FillWidthInSinglePrecision)
{
    struct Case {
        int progress, width;
    } cases[] = {
        {10000, 300}, {9999, 299}, {5000, 150}, {3750, 112}, {100, 2}, {34, 1}, {1, 0}, {0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillWidth(c.progress), c.width) << c.progress;
}

TEST(PanelRules, FillWidthGrowsWithTheValueAndStaysOnTheBar)
{
    int previous = 0;
    for (int v = 0; v <= 10000; ++v) {
        int w = FillWidth(v);
        ASSERT_GE(w, previous) << v;
        ASSERT_LE(w, v * 300 / 10000 + 1) << v;
        previous = w;
    }
    EXPECT_EQ(FillWidth(-5), 0);
    EXPECT_EQ(FillWidth(20000), 300);
}

TEST(PanelRules, PercentTexts)
{
    EXPECT_EQ(PercentText(10000), "100.00%");
    EXPECT_EQ(PercentText(1), "0.01%");
    EXPECT_EQ(PercentText(100), "1.00%");
    EXPECT_EQ(PercentText(3750), "37.50%");
    EXPECT_EQ(PercentText(6666), "66.66%");
    EXPECT_EQ(PercentText(0), "0.00%");
}

TEST(PanelRules, StatisticsLine)
{
    EXPECT_EQ(StatisticsText(0, 0, 0, 0), "共0/0个文件 0.00kb/s (0.00k)");
    EXPECT_EQ(StatisticsText(1, 4, 1536, 2048), "共1/4个文件 1.50kb/s (2.00k)");
    // The length is read as unsigned.
    EXPECT_EQ(StatisticsText(2, 3, 0, 0xFFFFFC00u), "共2/3个文件 0.00kb/s (4194303.00k)");
}

TEST(PanelRules, LabelsAreGbk)
{
    EXPECT_STREQ(TEXT_FILE_LABEL, "\xB5\xB1\xC7\xB0\xCE\xC4\xBC\xFE\xA3\xBA");
    EXPECT_EQ(std::strlen(TEXT_OVERALL_LABEL), 10u);
}

} // namespace
