#include "pe/PeImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "PeBuilder.h"

namespace {

// What the readers answer for an image, in a form two images can be compared by.
struct Answers {
    PeStatus resources = PeStatus::Ok;
    std::vector<std::string> leaves; // "type/name/language:size"
    PeStatus version = PeStatus::Ok;
    std::string fileVersion;
    PeStatus exports = PeStatus::Ok;
    std::string exportSummary;

    bool operator==(const Answers& o) const
    {
        return resources == o.resources && leaves == o.leaves && version == o.version &&
               fileVersion == o.fileVersion && exports == o.exports && exportSummary == o.exportSummary;
    }
};

// Runs every reader and checks what must hold for any input: data handed out
// lie inside the file.
Answers Read(const CPeImage& image, std::size_t fileSize)
{
    Answers a;
    PeResult<std::vector<PeResource>> all = image.Resources();
    a.resources = all.Status();
    if (all) {
        for (const PeResource& r : *all) {
            EXPECT_LE(r.fileOffset + r.size, fileSize);
            PeResult<PeBytes> data = image.ResourceData(r);
            EXPECT_TRUE(data.Ok());
            a.leaves.push_back(r.type.ToString() + "/" + r.name.ToString() + "/" + std::to_string(r.language) + ":" +
                               std::to_string(r.size));
        }
    }
    PeResult<VersionInfo> info = image.ReadVersionInfo();
    a.version = info.Status();
    if (info && info->fixed)
        a.fileVersion = info->fixed->FileVersionNumber().ToString();
    PeResult<PeExports> exports = image.ReadExports();
    a.exports = exports.Status();
    if (exports) {
        a.exportSummary = exports->name + ":" + std::to_string(exports->functionCount);
        for (const std::string& n : exports->names)
            a.exportSummary += "," + n;
    }
    return a;
}

CPeImage OpenOrFail(Bytes bytes)
{
    PeResult<CPeImage> image = CPeImage::Open(std::move(bytes));
    EXPECT_TRUE(image.Ok()) << PeStatusText(image.Status());
    return std::move(*image);
}

std::size_t PeHeaderAt(const Bytes& b) { return Get32(b, 0x3C); }

} // namespace

TEST(PeImage, ReadsTheHeadersAndSections)
{
    for (bool plus : {false, true}) {
        PeBuilder builder;
        builder.pe32Plus = plus;
        builder.machine = plus ? PE_MACHINE_AMD64 : PE_MACHINE_I386;
        builder.AddSection(".text", Bytes(10, 0xC3));
        builder.AddSection(".rsrc", Bytes(0x1234, 0));
        PeResult<CPeImage> image = CPeImage::Open(builder.Build());
        ASSERT_TRUE(image.Ok());
        EXPECT_EQ(image->Headers().magic, plus ? PE_MAGIC_PE32_PLUS : PE_MAGIC_PE32);
        EXPECT_EQ(image->Headers().machine, builder.machine);
        EXPECT_EQ(image->Headers().imageBase, plus ? 0x180000000ull : 0x10000000ull);
        EXPECT_EQ(image->Headers().subsystem, PE_SUBSYSTEM_WINDOWS_GUI);
        EXPECT_EQ(image->Headers().entryPointRva, 0x1000u);
        EXPECT_TRUE(image->IsDll());
        ASSERT_EQ(image->Sections().size(), 2u);
        EXPECT_EQ(image->Sections()[1].name, ".rsrc");
        EXPECT_EQ(image->Sections()[1].virtualAddress, 0x2000u);
        EXPECT_EQ(image->Sections()[1].virtualSize, 0x1234u);
        EXPECT_EQ(image->Sections()[1].rawSize, 0x1400u);
    }
}

TEST(PeImage, RefusesWhatIsNotAPeFile)
{
    struct Case {
        const char* what;
        void (*spoil)(Bytes&);
        PeStatus status;
    };
    const Case cases[] = {
        {"empty", [](Bytes& b) { b.clear(); }, PeStatus::NotPe},
        {"MZ only", [](Bytes& b) { b.resize(2); }, PeStatus::Truncated},
        {"no MZ", [](Bytes& b) { b[0] = 'Z'; }, PeStatus::NotPe},
        {"header offset past the end", [](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }, PeStatus::Truncated},
        {"header offset near the end", [](Bytes& b) { Put32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 10)); },
         PeStatus::Truncated},
        {"no PE signature", [](Bytes& b) { b[PeHeaderAt(b) + 1] = 'X'; }, PeStatus::NotPe},
        {"optional header past the end", [](Bytes& b) { Put16(b, PeHeaderAt(b) + 20, 0xFFFF); }, PeStatus::Truncated},
        {"optional header too small", [](Bytes& b) { Put16(b, PeHeaderAt(b) + 20, 64); }, PeStatus::UnsupportedFormat},
        {"unknown magic", [](Bytes& b) { Put16(b, PeHeaderAt(b) + 24, 0x0107); }, PeStatus::UnsupportedFormat},
        {"section table past the end", [](Bytes& b) { Put16(b, PeHeaderAt(b) + 6, 0xFFFF); }, PeStatus::Truncated},
    };
    const Bytes good = BuildSampleImage().bytes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = good;
        c.spoil(b);
        EXPECT_EQ(CPeImage::Open(b).Status(), c.status);
    }
}

TEST(PeImage, ToleratesMoreDirectoriesThanTheHeaderHolds)
{
    Bytes b = BuildSampleImage().bytes;
    Put32(b, PeHeaderAt(b) + 24 + 92, 0xFFFFFFFFu);
    PeResult<CPeImage> image = CPeImage::Open(b);
    ASSERT_TRUE(image.Ok());
    EXPECT_EQ(image->Directory(15).rva, 0u);
    EXPECT_EQ(image->Directory(99).rva, 0u);
    EXPECT_TRUE(image->Resources().Ok());
}

TEST(PeImage, WalksTheResourceTreeInDirectoryOrder)
{
    SampleImage sample = BuildSampleImage();
    CPeImage image = OpenOrFail(sample.bytes);
    PeResult<std::vector<PeResource>> all = image.Resources();
    ASSERT_TRUE(all.Ok()) << PeStatusText(all.Status());
    std::vector<std::string> seen;
    for (const PeResource& r : *all)
        seen.push_back(r.type.ToString() + "/" + r.name.ToString() + "/" + std::to_string(r.language));
    EXPECT_EQ(seen, (std::vector<std::string>{"PNG/F_0_0/2052", "PNG/F_0_1/1033", "PNG/F_0_1/2052", "#3/#1/0",
                                              "#16/#1/1033"}));
    for (const ResourceLeaf& leaf : sample.leaves) {
        PeResult<PeResource> r = image.Find(leaf.type, leaf.name, leaf.language);
        ASSERT_TRUE(r.Ok()) << leaf.name.ToString();
        PeResult<PeBytes> data = image.ResourceData(*r);
        ASSERT_TRUE(data.Ok());
        EXPECT_EQ(data->ToVector(), leaf.data);
        EXPECT_EQ(0, std::memcmp(&sample.bytes[r->fileOffset], leaf.data.data(), leaf.data.size()));
    }
}

TEST(PeImage, FindsResourcesAsTheLoaderDoes)
{
    CPeImage image = OpenOrFail(BuildSampleImage().bytes);
    PeResourceId png = PeResourceId::Name("PNG");
    struct Case {
        PeResourceId type;
        PeResourceId name;
        std::optional<std::uint32_t> language;
        PeStatus status;
        std::size_t size;
    };
    const Case cases[] = {
        {png, PeResourceId::Name("F_0_0"), std::nullopt, PeStatus::Ok, 5},
        {PeResourceId::Name(u"png"), PeResourceId::Name(u"f_0_0"), std::nullopt, PeStatus::Ok, 5},
        {png, PeResourceId::Name("F_0_1"), 0x804u, PeStatus::Ok, 2},
        {png, PeResourceId::Name("F_0_1"), 0x409u, PeStatus::Ok, 1},
        {png, PeResourceId::Name("F_0_1"), 0x407u, PeStatus::NotFound, 0},
        {png, PeResourceId::Name("F_10_0"), std::nullopt, PeStatus::NotFound, 0},
        {png, PeResourceId::Name("F_0_6"), std::nullopt, PeStatus::NotFound, 0},
        {png, PeResourceId::Name("F_0_"), std::nullopt, PeStatus::NotFound, 0},
        {PeResourceId::Name("#3"), PeResourceId::Number(1), std::nullopt, PeStatus::NotFound, 0},
        {PeResourceId::Number(3), PeResourceId::Number(1), std::nullopt, PeStatus::Ok, 40},
        {PeResourceId::Number(3), PeResourceId::Number(2), std::nullopt, PeStatus::NotFound, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type.ToString() + "/" + c.name.ToString());
        PeResult<PeResource> r = image.Find(c.type, c.name, c.language);
        EXPECT_EQ(r.Status(), c.status);
        if (r) {
            EXPECT_EQ(r->size, c.size);
        }
    }
}

TEST(PeImage, RefusesDamagedResourceTrees)
{
    // Offsets inside the sample's resource section (see BuildResourceSection):
    // the root at 0, its first entry (type "PNG") at 16.
    struct Case {
        const char* what;
        void (*spoil)(Bytes& rsrc);
        PeStatus status;
    };
    const Case cases[] = {
        {"root claims more entries than fit", [](Bytes& r) { Put16(r, 14, 0xFFFF); }, PeStatus::Truncated},
        {"subdirectory outside", [](Bytes& r) { Put32(r, 20, 0x80000000u | 0x7FFFFFF0u); }, PeStatus::Truncated},
        {"type entry that is a leaf", [](Bytes& r) { Put32(r, 20, Get32(r, 20) & 0x7FFFFFFFu); },
         PeStatus::BadResourceTree},
        {"name string outside", [](Bytes& r) { Put32(r, 16, 0x80000000u | 0x00FFFFFFu); }, PeStatus::Truncated},
        {"name string longer than the section", [](Bytes& r) { Put16(r, Get32(r, 16) & 0x7FFFFFFFu, 0xFFFF); },
         PeStatus::Truncated},
        // The root's first entry pointing back at the root makes the third level a directory.
        {"a loop back to the root", [](Bytes& r) { Put32(r, 20, 0x80000000u); }, PeStatus::BadResourceTree},
    };
    SampleImage sample = BuildSampleImage();
    CPeImage good = OpenOrFail(sample.bytes);
    const std::size_t rsrcAt = good.Sections().back().rawOffset;
    const std::size_t rsrcSize = good.Sections().back().virtualSize;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = sample.bytes;
        Bytes rsrc(b.begin() + rsrcAt, b.begin() + rsrcAt + rsrcSize);
        c.spoil(rsrc);
        std::copy(rsrc.begin(), rsrc.end(), b.begin() + rsrcAt);
        CPeImage image = OpenOrFail(b);
        EXPECT_EQ(image.Resources().Status(), c.status);
        EXPECT_EQ(image.Find(PeResourceId::Name("PNG"), PeResourceId::Name("F_0_0")).Status(), c.status);
        EXPECT_TRUE(image.ReadExports().Ok()) << "the export table does not depend on the resources";
    }
}

TEST(PeImage, RefusesResourceDataOutsideTheFile)
{
    struct Case {
        const char* what;
        std::uint32_t rva;
        std::uint32_t size;
        PeStatus status;
    };
    const Case cases[] = {
        {"address in no section", 0x00900000u, 4, PeStatus::BadRva},
        {"size past the section", 0, 0x10000, PeStatus::Truncated},
        {"size that wraps", 0, 0xFFFFFFFFu, PeStatus::Truncated},
        {"in the headers", 0x10, 8, PeStatus::Ok},
    };
    SampleImage sample = BuildSampleImage();
    CPeImage good = OpenOrFail(sample.bytes);
    PeResult<PeResource> first = good.Find(PeResourceId::Name("PNG"), PeResourceId::Name("F_0_0"));
    ASSERT_TRUE(first.Ok());
    // The data entry of the first leaf sits just before its data's address field; find it by value.
    const std::uint64_t rsrcAt = good.Sections().back().rawOffset;
    std::size_t entryAt = 0;
    for (std::size_t at = rsrcAt; at + 8 <= sample.bytes.size(); at += 4)
        if (Get32(sample.bytes, at) == first->dataRva && Get32(sample.bytes, at + 4) == first->size) {
            entryAt = at;
            break;
        }
    ASSERT_NE(entryAt, 0u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = sample.bytes;
        Put32(b, entryAt, c.rva ? c.rva : first->dataRva);
        Put32(b, entryAt + 4, c.size);
        CPeImage image = OpenOrFail(b);
        EXPECT_EQ(image.Resources().Status(), c.status);
    }
}

TEST(PeImage, StopsCountingAtTheEntryLimit)
{
    // A type directory and a name directory shared by every entry above them, and a
    // language directory of leaves: 100 x 100 x 100 leaves from three small directories.
    const std::uint32_t n = 100;
    const std::uint32_t dirSize = 16 + 8 * n;
    const std::uint32_t typesAt = 0, namesAt = dirSize, languagesAt = 2 * dirSize, leafAt = 3 * dirSize;
    Bytes rsrc(leafAt + 16 + 4, 0);
    for (std::uint32_t at : {typesAt, namesAt, languagesAt})
        Put16(rsrc, at + 14, n);
    for (std::uint32_t i = 0; i < n; ++i) {
        Put32(rsrc, typesAt + 16 + 8 * i, i + 1);
        Put32(rsrc, typesAt + 20 + 8 * i, 0x80000000u | namesAt);
        Put32(rsrc, namesAt + 16 + 8 * i, i + 1);
        Put32(rsrc, namesAt + 20 + 8 * i, 0x80000000u | languagesAt);
        Put32(rsrc, languagesAt + 16 + 8 * i, i);
        Put32(rsrc, languagesAt + 20 + 8 * i, leafAt);
    }
    PeBuilder builder;
    std::uint32_t rva = builder.NextRva();
    Put32(rsrc, leafAt, rva + leafAt + 16);
    Put32(rsrc, leafAt + 4, 4);
    builder.AddSection(".rsrc", rsrc);
    builder.SetDirectory(PE_DIRECTORY_RESOURCE, rva, static_cast<std::uint32_t>(rsrc.size()));
    CPeImage image = OpenOrFail(builder.Build());
    EXPECT_EQ(image.Resources().Status(), PeStatus::TooManyEntries);
}

TEST(PeImage, ReadsTheExportTable)
{
    for (const std::vector<std::string>& names :
         {std::vector<std::string>{}, std::vector<std::string>{"DllCanUnloadNow"},
          std::vector<std::string>{"Alpha", "Beta", "Gamma"}}) {
        CPeImage image = OpenOrFail(BuildSampleImage(names).bytes);
        PeResult<PeExports> e = image.ReadExports();
        ASSERT_TRUE(e.Ok()) << PeStatusText(e.Status());
        EXPECT_EQ(e->name, "Sample.dll");
        EXPECT_EQ(e->ordinalBase, 1u);
        EXPECT_EQ(e->functionCount, names.size());
        EXPECT_EQ(e->names, names);
    }

    PeBuilder builder;
    builder.AddSection(".text", Bytes(4, 0xC3));
    EXPECT_EQ(OpenOrFail(builder.Build()).ReadExports().Status(), PeStatus::NotFound);
}

TEST(PeImage, RefusesDamagedExportTables)
{
    struct Case {
        const char* what;
        void (*spoil)(Bytes& table, std::uint32_t rva);
        PeStatus status;
    };
    const Case cases[] = {
        {"library name outside", [](Bytes& t, std::uint32_t) { Put32(t, 12, 0x00900000u); }, PeStatus::BadRva},
        {"library name without its zero", [](Bytes& t, std::uint32_t rva) {
             // Point the name at the section's last byte and make it non-zero.
             Put32(t, 12, rva + static_cast<std::uint32_t>(t.size()) - 1);
             t.back() = 'x';
         }, PeStatus::Truncated},
        {"function count past the section", [](Bytes& t, std::uint32_t) { Put32(t, 20, 5000); },
         PeStatus::BadExportTable},
        {"absurd counts", [](Bytes& t, std::uint32_t) { Put32(t, 24, 0x40000000u); }, PeStatus::TooManyEntries},
        {"name table outside", [](Bytes& t, std::uint32_t) { Put32(t, 32, 0x00900000u); }, PeStatus::BadExportTable},
        {"ordinal past the functions", [](Bytes& t, std::uint32_t rva) { Put16(t, Get32(t, 36) - rva + 2, 7); },
         PeStatus::BadExportTable},
        {"exported name outside", [](Bytes& t, std::uint32_t rva) { Put32(t, Get32(t, 32) - rva, 0x00900000u); },
         PeStatus::BadRva},
    };
    PeBuilder probe;
    probe.AddSection(".text", Bytes(4, 0xC3));
    const std::uint32_t rva = probe.NextRva();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes table = BuildExportSection(rva, "Sample.dll", {"Alpha", "Beta"});
        c.spoil(table, rva);
        PeBuilder builder;
        builder.AddSection(".text", Bytes(4, 0xC3));
        builder.AddSection(".edata", table);
        builder.SetDirectory(PE_DIRECTORY_EXPORT, rva, static_cast<std::uint32_t>(table.size()));
        EXPECT_EQ(OpenOrFail(builder.Build()).ReadExports().Status(), c.status);
    }
}

TEST(PeImage, ReadsTheFileVersion)
{
    PeResult<FileVersion> v = ReadFileVersion(BuildSampleImage().bytes);
    ASSERT_TRUE(v.Ok()) << PeStatusText(v.Status());
    EXPECT_EQ(v->ToString(), "1.2.3.4");

    PeBuilder builder;
    builder.AddSection(".text", Bytes(4, 0xC3));
    EXPECT_EQ(ReadFileVersion(builder.Build()).Status(), PeStatus::NotFound);
    EXPECT_EQ(ReadFileVersion(Bytes{'M', 'Z'}).Status(), PeStatus::Truncated);
    EXPECT_EQ(ReadFileVersion(Bytes{}).Status(), PeStatus::NotPe);
}

TEST(PeImage, TruncatedFilesGiveTheSameAnswersOrAFault)
{
    const Bytes full = BuildSampleImage().bytes;
    const Answers whole = Read(OpenOrFail(full), full.size());
    ASSERT_EQ(whole.resources, PeStatus::Ok);
    ASSERT_EQ(whole.version, PeStatus::Ok);
    ASSERT_EQ(whole.exports, PeStatus::Ok);

    std::size_t answered = 0;
    for (std::size_t length = 0; length < full.size(); ++length) {
        Bytes cut(full.begin(), full.begin() + length);
        PeResult<CPeImage> image = CPeImage::Open(cut);
        if (!image)
            continue;
        Answers a = Read(*image, cut.size());
        // The section data at the end may be padding only, so a cut there can leave every answer whole.
        if (a.resources == PeStatus::Ok) {
            EXPECT_EQ(a.leaves, whole.leaves) << length;
        }
        if (a.version == PeStatus::Ok) {
            EXPECT_EQ(a.fileVersion, whole.fileVersion) << length;
        }
        if (a.exports == PeStatus::Ok) {
            EXPECT_EQ(a.exportSummary, whole.exportSummary) << length;
        }
        answered += a == whole ? 1 : 0;
    }
    // Cuts inside the resource data must fail the resource walk.
    CPeImage image = OpenOrFail(full);
    const std::size_t rsrcEnd = image.Sections().back().rawOffset + image.Sections().back().virtualSize;
    EXPECT_LE(answered, full.size() - rsrcEnd);
}

TEST(PeImage, SurvivesCorruptedBytes)
{
    // A cheap, deterministic stand-in for a fuzzer: corrupt a few bytes of the
    // headers or the tables and run every reader. The sanitizers of the native
    // build report any read outside the bytes.
    const Bytes good = BuildSampleImage().bytes;
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> where(0, good.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    std::uniform_int_distribution<int> howMany(1, 4);
    std::size_t opened = 0;
    for (int round = 0; round < 4000; ++round) {
        Bytes b = good;
        for (int i = howMany(random); i > 0; --i) {
            std::size_t at = where(random);
            // Half the time, aim at the structures rather than the padding.
            if (round % 2 == 0)
                at = at % 0x400 + (round % 4 == 0 ? 0 : b.size() - 0x400);
            b[at] = static_cast<std::uint8_t>(value(random));
        }
        PeResult<CPeImage> image = CPeImage::Open(b);
        if (!image)
            continue;
        ++opened;
        Read(*image, b.size());
    }
    EXPECT_GT(opened, 1000u);
}
