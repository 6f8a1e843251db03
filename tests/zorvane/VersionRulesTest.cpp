#include "VersionRules.h"

#include <gtest/gtest.h>

namespace {

FileTimeValue Time(std::uint32_t high, std::uint32_t low)
{
    FileTimeValue t;
    t.High = high;
    t.Low = low;
    return t;
}

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

} // namespace

TEST(VersionRules, FormatsTheFourHalfWordsInDecimal)
{
    EXPECT_EQ(FormatVersion(0x00020000u, 0x000D0005u), L"2.0.13.5");
    EXPECT_EQ(FormatVersion(0x00010000u, 0x0000000Au), L"1.0.0.10");
    EXPECT_EQ(FormatVersion(0, 0), L"0.0.0.0");
    EXPECT_EQ(FormatVersion(0xFFFFFFFFu, 0xFFFFFFFFu), L"65535.65535.65535.65535");
    EXPECT_EQ(FormatVersion(0x12345678u, 0x9ABCDEF0u), L"4660.22136.39612.57072");
}

TEST(VersionRules, ComparesFileTimesHighWordFirstAsUnsigned)
{
    struct Case {
        FileTimeValue a;
        FileTimeValue b;
        int order;
    };
    const Case cases[] = {
        {Time(0, 0), Time(0, 0), 0},
        {Time(5, 7), Time(5, 7), 0},
        {Time(5, 6), Time(5, 7), -1},
        {Time(5, 8), Time(5, 7), 1},
        {Time(4, 0xFFFFFFFFu), Time(5, 0), -1},  // the high word decides before the low one
        {Time(6, 0), Time(5, 0xFFFFFFFFu), 1},
        {Time(0x80000000u, 0), Time(0x7FFFFFFFu, 0), 1},  // unsigned, not signed
        {Time(0, 0x80000000u), Time(0, 0x7FFFFFFFu), 1},
        {Time(0xFFFFFFFFu, 0xFFFFFFFFu), Time(0, 0), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a.High << ':' << c.a.Low << " vs " << c.b.High << ':' << c.b.Low);
        EXPECT_EQ(CompareFileTimes(c.a, c.b), c.order);
        EXPECT_EQ(CompareFileTimes(c.b, c.a), -c.order);
    }
}

TEST(VersionRules, ComparesTextsAsFoldedUtf16CodeUnits)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int order;
    };
    const Case cases[] = {
        {L"", L"", 0},
        {L"", L"a", -1},
        {L"1.2", L"1.2.0.0", -1},     // a proper prefix is the smaller
        {L"1.0.0.10", L"1.0.0.9", -1}, // the seventh character decides: 1 below 9
        {L"ABC", L"abc", 0},
        {L"Beta", L"alpha", 1},
        {L"a", L"B", -1},
        {L"[", L"a", -1},  // 0x5B stays 0x5B; folding it would make it 0x7B
        {L"_", L"a", -1},  // 0x5F below 0x61 only after folding A-Z, never above
        {L"_", L"A", -1},
        {L"\xC4", L"\xE4", -1}, // not folded outside ASCII
        {L"\xFF21", L"\xFF41", -1},
        // A character above U+FFFF is a surrogate pair, which sorts below U+E000..U+FFFF.
        {L"\U0001F600", L"\xFF21", -1},
        {L"\U0001F600", L"\xD7FF", 1},
        {L"\U0001F600", L"\U0001F601", -1},
        {L"\U0001F600", L"\U0001F600", 0},
        {L"x\U00010000", L"x\U0010FFFF", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.a)) + " vs " + testing::PrintToString(std::wstring(c.b)));
        EXPECT_EQ(Sign(CompareNoCaseUtf16(c.a, c.b)), c.order);
        EXPECT_EQ(Sign(CompareNoCaseUtf16(c.b, c.a)), -c.order);
    }
}

TEST(VersionRules, DottedVersionsCompareAsNumbers)
{
    struct Case {
        const wchar_t* local;
        const wchar_t* listed;
        bool below;
    };
    const Case cases[] = {
        // The two cases a text comparison gets wrong: 1.0.0.9 sorts above 1.0.0.10
        // as text, so a client at 1.0.0.9 would never get 1.0.0.10 ...
        {L"1.0.0.9", L"1.0.0.10", true},
        // ... and a client at 1.0.0.10 would get an older 1.0.0.9 on every run.
        {L"1.0.0.10", L"1.0.0.9", false},
        {L"1.0.0.10", L"1.0.0.10", false},
        {L"1.2.0.0", L"1.2", false},      // a missing part counts as 0
        {L"1.2.0.1", L"1.2", false},
        {L"1.1.9.9", L"1.2", true},
        {L"1.2", L"1.2.0.0", false},
        {L"1.2", L"1.2.0.1", true},
        {L"2.0.13.5", L"10.0.0.0", true},
        {L"65535.65535.65535.65535", L"65536", true},
        {L"1.02.0.0", L"1.2.0.0", false}, // leading zeros do not count
        {L"1.0.0.9", L" 1.0.0.10\n", true}, // white space around the listed text aside
        {L"", L"1.0.0.0", true},          // a file without a version resource
        {L"0.0.0.0", L"0", false},
        // Anything but dotted numbers falls back to the folded text order.
        {L"1.0.0.9", L"1.0.0.10b", false},
        {L"1.0.0.1", L"1.0.0.1b", true},
        {L"1.0.0.1", L"1.0.0.", false},
        {L"1.0.0.0", L".1", false},
        {L"1.0.0.0", L"1..0", false},
        {L"1.0.0.0", L"v2", true},
        {L"1.0.0.5", L"1.0.0.42949672960", false}, // a part beyond 32 bits makes it text: 5 above 4
        {L"1.0.0.0", L"1,1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.local)) + " against " +
                     testing::PrintToString(std::wstring(c.listed)));
        EXPECT_EQ(IsVersionBelow(c.local, c.listed), c.below);
    }
}

TEST(VersionRules, ListedVersionDecidesAloneAndTimesOnlyWithoutIt)
{
    const FileTimeValue listed = Time(0x01D9A000u, 0x10000000u);
    const FileTimeValue second = Time(0, 10000000u); // one second in 100 ns steps
    const FileTimeValue earlier = Time(listed.High, listed.Low - second.Low);
    const FileTimeValue later = Time(listed.High, listed.Low + second.Low);
    struct Case {
        const wchar_t* listedVersion;
        const wchar_t* localVersion;
        FileTimeValue localTime;
        bool outdated;
    };
    const Case cases[] = {
        {L"", L"", listed, false},
        {L"", L"", later, false},
        {L"", L"", earlier, true},
        {L"", L"9.9.9.9", earlier, true},    // without a listed version the local one is not read
        {L"1.0.0.10", L"1.0.0.10", earlier, false}, // with one, times are not compared
        {L"1.0.0.10", L"1.0.0.9", later, true},
        {L"1.0.0.9", L"1.0.0.10", earlier, false},
        {L"1.0.0.0", L"", later, true},      // no version resource: below any listed version
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.listedVersion)) + " / " +
                     testing::PrintToString(std::wstring(c.localVersion)));
        EXPECT_EQ(IsOutdated(c.listedVersion, listed, c.localVersion, c.localTime), c.outdated);
    }
    // Times of no listed value: nothing on disk is earlier than 0.
    EXPECT_FALSE(IsOutdated(L"", Time(0, 0), L"", Time(0, 0)));
}
