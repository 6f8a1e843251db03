// The built Tessaly.dll read with the platform-free PE reader.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "TessalyFile.h"
#include "pe/PeImage.h"

namespace {

constexpr std::uint32_t LANG_CHINESE_PRC = 2052;

std::uint32_t BigEndian(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::string Name(char series, int outfit, int image)
{
    return std::string(1, series) + "_" + std::to_string(outfit) + "_" + std::to_string(image);
}

class TessalyDll : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto image = CPeImage::Open(ReadTessaly());
        ASSERT_TRUE(image.Ok()) << PeStatusText(image.Status());
        s_image = new CPeImage(std::move(*image));
    }
    static void TearDownTestSuite()
    {
        delete s_image;
        s_image = nullptr;
    }

    static std::vector<std::uint8_t> Data(const std::string& name)
    {
        auto found = s_image->Find(PeResourceId::Name("PNG"), PeResourceId::Name(name), LANG_CHINESE_PRC);
        if (!found)
            return {};
        auto data = s_image->ResourceData(*found);
        return data ? data->ToVector() : std::vector<std::uint8_t>();
    }

    static CPeImage* s_image;
};

CPeImage* TessalyDll::s_image = nullptr;

TEST_F(TessalyDll, IsA32BitDll)
{
    EXPECT_TRUE(s_image->IsDll());
    EXPECT_EQ(s_image->Headers().machine, PE_MACHINE_I386);
    EXPECT_EQ(s_image->Headers().magic, PE_MAGIC_PE32);
}

TEST_F(TessalyDll, HoldsExactlyTheNamedImagesInChinesePrc)
{
    auto resources = s_image->Resources();
    ASSERT_TRUE(resources.Ok());
    std::set<std::string> expected;
    for (char series : {'F', 'M'})
        for (int outfit = 0; outfit < 10; ++outfit)
            for (int image = 0; image < 6; ++image)
                expected.insert(Name(series, outfit, image));

    std::set<std::string> found;
    for (const PeResource& r : *resources) {
        if (!r.type.isName) {
            EXPECT_EQ(r.type.number, PE_RESOURCE_VERSION) << "unexpected numbered type " << r.type.ToString();
            EXPECT_EQ(r.language, LANG_CHINESE_PRC);
            continue;
        }
        EXPECT_EQ(r.type.ToString(), "PNG");
        ASSERT_TRUE(r.name.isName) << r.name.ToString();
        EXPECT_EQ(r.language, LANG_CHINESE_PRC) << r.name.ToString();
        EXPECT_TRUE(found.insert(r.name.ToString()).second) << "twice: " << r.name.ToString();
    }
    EXPECT_EQ(found, expected);
}

TEST_F(TessalyDll, EveryImageIsA140By120RgbaPng)
{
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::map<std::vector<std::uint8_t>, std::string> distinct;
    for (char series : {'F', 'M'}) {
        for (int outfit = 0; outfit < 10; ++outfit) {
            for (int image = 0; image < 6; ++image) {
                const std::string name = Name(series, outfit, image);
                const std::vector<std::uint8_t> png = Data(name);
                ASSERT_GE(png.size(), 33u) << name;
                EXPECT_TRUE(std::equal(signature, signature + 8, png.begin())) << name;
                EXPECT_EQ(BigEndian(&png[8]), 13u) << name;
                EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR") << name;
                EXPECT_EQ(BigEndian(&png[16]), 140u) << name;
                EXPECT_EQ(BigEndian(&png[20]), 120u) << name;
                EXPECT_EQ(png[24], 8) << name << ": bit depth";
                EXPECT_EQ(png[25], 6) << name << ": colour type";
                EXPECT_EQ(png[28], 0) << name << ": interlace";
                distinct.emplace(png, name);
            }
        }
    }
    EXPECT_EQ(distinct.size(), 80u);
}

TEST_F(TessalyDll, FrontAndBackImagesRepeatInEveryOutfit)
{
    EXPECT_EQ(Data("F_3_1"), Data("F_3_2"));
    EXPECT_EQ(Data("M_7_4"), Data("M_7_5"));
    for (char series : {'F', 'M'}) {
        for (int outfit = 0; outfit < 10; ++outfit) {
            EXPECT_EQ(Data(Name(series, outfit, 1)), Data(Name(series, outfit, 2))) << series << outfit;
            EXPECT_EQ(Data(Name(series, outfit, 4)), Data(Name(series, outfit, 5))) << series << outfit;
            EXPECT_NE(Data(Name(series, outfit, 0)), Data(Name(series, outfit, 3))) << series << outfit;
        }
    }
}

TEST_F(TessalyDll, NamesOutsideTheRuleAreAbsent)
{
    for (const char* name : {"F_10_0", "F_0_6", "M_9_6", "F_00_0", "f_0_0x", "G_0_0", "F_0"}) {
        auto found = s_image->Find(PeResourceId::Name("PNG"), PeResourceId::Name(name));
        EXPECT_EQ(found.Status(), PeStatus::NotFound) << name;
    }
    // Present, but under no other language.
    EXPECT_EQ(s_image->Find(PeResourceId::Name("PNG"), PeResourceId::Name("F_0_0"), 1033).Status(), PeStatus::NotFound);
}

TEST_F(TessalyDll, VersionBlock)
{
    auto info = s_image->ReadVersionInfo();
    ASSERT_TRUE(info.Ok()) << PeStatusText(info.Status());
    ASSERT_TRUE(info->fixed.has_value());
    EXPECT_EQ(info->fixed->FileVersionNumber().ToString(), "1.0.0.1");
    EXPECT_EQ(info->fixed->ProductVersionNumber().ToString(), "1.0.0.1");
    EXPECT_EQ(info->fixed->fileType, VS_TYPE_DLL);
    EXPECT_EQ(info->fixed->fileOS, VS_OS_WINDOWS32);

    ASSERT_EQ(info->stringTables.size(), 1u);
    EXPECT_EQ(Utf16ToUtf8(info->stringTables[0].key), "080403a8");
    EXPECT_EQ(info->Value(u"FileDescription", u"080403a8"), std::u16string(u"服装包"));
    EXPECT_EQ(info->Value(u"InternalName"), std::u16string(u"Tessaly.dll"));
    EXPECT_EQ(info->Value(u"OriginalFilename"), std::u16string(u"Tessaly.dll"));
    ASSERT_EQ(info->translations.size(), 1u);
    EXPECT_EQ(info->translations[0].language, 0x0804);
    EXPECT_EQ(info->translations[0].codePage, 936);

    auto version = ReadFileVersion(ReadTessaly());
    ASSERT_TRUE(version.Ok());
    EXPECT_EQ(*version, (FileVersion{1, 0, 0, 1}));
}

TEST_F(TessalyDll, ExportTableNamesTheLibraryAndListsNothing)
{
    auto exports = s_image->ReadExports();
    ASSERT_TRUE(exports.Ok()) << PeStatusText(exports.Status());
    EXPECT_EQ(exports->name, "Tessaly.dll");
    EXPECT_EQ(exports->functionCount, 0u);
    EXPECT_TRUE(exports->names.empty());
}

} // namespace
