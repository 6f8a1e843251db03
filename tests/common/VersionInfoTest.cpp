#include "pe/VersionInfo.h"

#include <gtest/gtest.h>

#include "PeBuilder.h"

namespace {

PeBytes View(const Bytes& b) { return PeBytes{b.data(), b.size()}; }

const std::vector<std::pair<std::u16string, std::u16string>> kStrings = {
    {u"FileDescription", u"服装包"},
    {u"FileVersion", u"1.0.0.1"},
    {u"InternalName", u"Tessaly.dll"},
    {u"OriginalFilename", u"Tessaly.dll"},
};

} // namespace

TEST(VersionInfo, ReadsFixedPartStringsAndTranslations)
{
    Bytes block = SampleVersionBlock(FileVersion{1, 0, 0, 1}, u"080403a8", kStrings, 0x804, 936);
    PeResult<VersionInfo> info = ParseVersionInfo(View(block));
    ASSERT_TRUE(info.Ok()) << PeStatusText(info.Status());
    ASSERT_TRUE(info->fixed.has_value());
    EXPECT_EQ(info->fixed->FileVersionNumber().ToString(), "1.0.0.1");
    EXPECT_EQ(info->fixed->ProductVersionNumber().ToString(), "1.0.0.1");
    EXPECT_EQ(info->fixed->fileType, VS_TYPE_DLL);
    EXPECT_EQ(info->fixed->fileOS, VS_OS_WINDOWS32);
    ASSERT_EQ(info->stringTables.size(), 1u);
    EXPECT_EQ(info->stringTables[0].key, u"080403a8");
    ASSERT_EQ(info->stringTables[0].strings.size(), kStrings.size());
    for (std::size_t i = 0; i < kStrings.size(); ++i) {
        EXPECT_EQ(info->stringTables[0].strings[i].key, kStrings[i].first);
        EXPECT_EQ(info->stringTables[0].strings[i].value, kStrings[i].second);
    }
    ASSERT_EQ(info->translations.size(), 1u);
    EXPECT_EQ(info->translations[0].language, 0x804);
    EXPECT_EQ(info->translations[0].codePage, 936);

    EXPECT_EQ(info->Value(u"FileDescription"), u"服装包");
    EXPECT_EQ(info->Value(u"InternalName", u"080403a8"), u"Tessaly.dll");
    EXPECT_FALSE(info->Value(u"InternalName", u"040904b0").has_value());
    EXPECT_FALSE(info->Value(u"CompanyName").has_value());
}

TEST(VersionInfo, ReadsWhatOtherWritersProduce)
{
    // Text lengths counted in bytes, a block without a fixed part, an unknown
    // block, and empty values.
    VersionNode root;
    root.key = u"VS_VERSION_INFO";
    root.type = 0;
    VersionNode table;
    table.key = u"040904b0";
    VersionNode bytesCounted = TextNode(u"ProductName", u"Game");
    bytesCounted.valueLengthOverride = static_cast<int>(bytesCounted.value.size());
    table.children = {bytesCounted, TextNode(u"Comments", u""), TextNode(u"FileVersion", u"2, 1, 0, 7")};
    VersionNode strings;
    strings.key = u"StringFileInfo";
    strings.children = {table};
    VersionNode unknown = TextNode(u"SomethingElse", u"x");
    root.children = {unknown, strings};

    Bytes block = EncodeVersionNode(root);
    PeResult<VersionInfo> info = ParseVersionInfo(View(block));
    ASSERT_TRUE(info.Ok()) << PeStatusText(info.Status());
    EXPECT_FALSE(info->fixed.has_value());
    EXPECT_EQ(info->Value(u"ProductName"), u"Game");
    EXPECT_EQ(info->Value(u"Comments"), u"");
    EXPECT_EQ(info->Value(u"FileVersion"), u"2, 1, 0, 7");
    EXPECT_TRUE(info->translations.empty());
}

TEST(VersionInfo, RefusesMalformedBlocks)
{
    const Bytes good = SampleVersionBlock(FileVersion{1, 0, 0, 1}, u"080403a8", kStrings, 0x804, 936);
    // Offsets: the root's header 0..5, its key from 6, the fixed part at 40 (after
    // "VS_VERSION_INFO" and padding), its children at 92.
    struct Case {
        const char* what;
        void (*spoil)(Bytes&);
        PeStatus status;
    };
    const Case cases[] = {
        {"empty", [](Bytes& b) { b.clear(); }, PeStatus::Truncated},
        {"length past the block", [](Bytes& b) { Put16(b, 0, static_cast<std::uint16_t>(b.size() + 2)); },
         PeStatus::Truncated},
        {"length shorter than a header", [](Bytes& b) { Put16(b, 0, 4); }, PeStatus::BadVersionBlock},
        {"another root key", [](Bytes& b) { b[6] = 'X'; }, PeStatus::BadVersionBlock},
        {"key without its zero", [](Bytes& b) { Put16(b, 0, 20); }, PeStatus::BadVersionBlock},
        {"fixed part too short", [](Bytes& b) { Put16(b, 2, 20); }, PeStatus::BadVersionBlock},
        {"fixed part longer than the block", [](Bytes& b) { Put16(b, 2, 0xFFF0); }, PeStatus::BadVersionBlock},
        {"wrong signature", [](Bytes& b) { b[40] ^= 1; }, PeStatus::BadVersionBlock},
        {"child shorter than a header", [](Bytes& b) { Put16(b, 92, 2); }, PeStatus::BadVersionBlock},
        {"child past its parent", [](Bytes& b) { Put16(b, 92, 0x7FFF); }, PeStatus::Truncated},
    };
    ASSERT_TRUE(ParseVersionInfo(View(good)).Ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = good;
        c.spoil(b);
        EXPECT_EQ(ParseVersionInfo(View(b)).Status(), c.status);
    }
}

TEST(VersionInfo, EveryCutOfABlockIsRefusedOrReadWhole)
{
    const Bytes good = SampleVersionBlock(FileVersion{1, 0, 0, 1}, u"080403a8", kStrings, 0x804, 936);
    for (std::size_t length = 0; length < good.size(); ++length) {
        Bytes cut(good.begin(), good.begin() + length);
        // The root's length still counts the missing bytes, so every cut is refused.
        EXPECT_FALSE(ParseVersionInfo(View(cut)).Ok()) << length;
    }
}

TEST(FileVersion, ComparesAndPrintsLikeWindows)
{
    struct Case {
        std::uint32_t ms, ls;
        const char* text;
    };
    const Case cases[] = {
        {0x00010000, 0x00000001, "1.0.0.1"},
        {0x000A0014, 0x001E0028, "10.20.30.40"},
        {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.65535"},
        {0, 0, "0.0.0.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileVersion::FromWords(c.ms, c.ls).ToString(), c.text);

    EXPECT_LT((FileVersion{1, 0, 0, 1}), (FileVersion{1, 0, 0, 2}));
    EXPECT_LT((FileVersion{1, 9, 9, 9}), (FileVersion{2, 0, 0, 0}));
    EXPECT_LT((FileVersion{1, 2, 0, 9}), (FileVersion{1, 2, 1, 0}));
    EXPECT_FALSE((FileVersion{1, 2, 3, 4}) < (FileVersion{1, 2, 3, 4}));
    EXPECT_EQ((FileVersion{1, 2, 3, 4}), FileVersion::FromWords(0x00010002, 0x00030004));
}

TEST(Utf16ToUtf8, EncodesEveryPlane)
{
    EXPECT_EQ(Utf16ToUtf8(u"Tessaly.dll"), "Tessaly.dll");
    EXPECT_EQ(Utf16ToUtf8(u"服装包"), "\xE6\x9C\x8D\xE8\xA3\x85\xE5\x8C\x85");
    EXPECT_EQ(Utf16ToUtf8(u"\u00E9"), "\xC3\xA9");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a"), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}
