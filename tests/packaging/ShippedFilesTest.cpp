// The files that ship, as a 32-bit Windows would load them: read from the
// windows preset's output on the build machine, whatever it can run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include "pe/PeImage.h"

namespace {

std::string ShippedPath(const std::string& name)
{
    const char* folder = std::getenv("VEXA_SHIPPED_BIN");
    return std::string(folder ? folder : "build/windows/bin") + "/" + name;
}

// The image, or a failure that says how to make it.
std::optional<CPeImage> OpenShipped(const std::string& name)
{
    std::ifstream in(ShippedPath(name), std::ios::binary);
    if (!in) {
        ADD_FAILURE() << ShippedPath(name) << " is missing: build the shipped files with "
                      << "cmake --preset windows && cmake --build --preset windows";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PeResult<CPeImage> image = CPeImage::Open(std::move(bytes));
    if (!image) {
        ADD_FAILURE() << name << ": " << PeStatusText(image.Status());
        return std::nullopt;
    }
    return std::move(*image);
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// What a bare Windows has: nothing of a compiler's runtime may be needed beside the file.
const std::set<std::string> SYSTEM_LIBRARIES = {
    "kernel32.dll", "user32.dll",   "gdi32.dll",  "advapi32.dll", "shell32.dll", "comctl32.dll",
    "comdlg32.dll", "ole32.dll",    "oleaut32.dll", "ws2_32.dll", "wsock32.dll", "wininet.dll",
    "version.dll",  "winmm.dll",    "msvcrt.dll", "shlwapi.dll",  "msimg32.dll", "uxtheme.dll",
};

TEST(Shipped, EachFileIsA32BitImageThatNeedsOnlySystemLibraries)
{
    struct Row {
        const char* name;
        bool dll;
        std::uint16_t subsystem; // of a program
    };
    const Row rows[] = {
        {"Zorvane.exe", false, PE_SUBSYSTEM_WINDOWS_GUI},
        {"Quillet.exe", false, PE_SUBSYSTEM_WINDOWS_GUI},
        {"Tessaly.dll", true, 0},
        {"vexa-publish.exe", false, PE_SUBSYSTEM_WINDOWS_CUI},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<CPeImage> image = OpenShipped(row.name);
        if (!image)
            continue;
        EXPECT_EQ(image->Headers().machine, PE_MACHINE_I386);
        EXPECT_EQ(image->Headers().magic, PE_MAGIC_PE32);
        EXPECT_EQ(image->IsDll(), row.dll);
        if (!row.dll) {
            EXPECT_EQ(image->Headers().subsystem, row.subsystem);
        }
        PeResult<std::vector<std::string>> imports = image->ReadImportedLibraries();
        ASSERT_TRUE(imports.Ok()) << PeStatusText(imports.Status());
        for (const std::string& library : *imports)
            EXPECT_TRUE(SYSTEM_LIBRARIES.count(Lower(library))) << "imports " << library;
    }
}

TEST(Shipped, QuilletAsksForAdministratorRightsAsAnX86Program)
{
    std::optional<CPeImage> image = OpenShipped("Quillet.exe");
    ASSERT_TRUE(image);
    constexpr std::uint32_t RT_MANIFEST = 24;
    PeResult<PeResource> found = image->Find(PeResourceId::Number(RT_MANIFEST), PeResourceId::Number(1));
    ASSERT_TRUE(found.Ok()) << PeStatusText(found.Status());
    PeResult<PeBytes> data = image->ResourceData(*found);
    ASSERT_TRUE(data.Ok());
    const std::string manifest(data->begin(), data->end());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("processorArchitecture=\"X86\""), std::string::npos) << manifest;
}

TEST(Shipped, TessalyCarriesItsImagesAndItsVersionAndNoCode)
{
    std::optional<CPeImage> image = OpenShipped("Tessaly.dll");
    ASSERT_TRUE(image);
    PeResult<std::vector<PeResource>> resources = image->Resources();
    ASSERT_TRUE(resources.Ok());
    const auto pngs = std::count_if(resources->begin(), resources->end(),
                                    [](const PeResource& r) { return r.type.ToString() == "PNG"; });
    EXPECT_EQ(pngs, 120);
    PeResult<VersionInfo> version = image->ReadVersionInfo();
    ASSERT_TRUE(version.Ok()) << PeStatusText(version.Status());
    ASSERT_TRUE(version->fixed);
    EXPECT_EQ(version->fixed->FileVersionNumber().ToString(), "1.0.0.1");
    PeResult<std::vector<std::string>> imports = image->ReadImportedLibraries();
    ASSERT_TRUE(imports.Ok());
    EXPECT_TRUE(imports->empty()) << "the library is resources only";
}

} // namespace
