#include "PeBuilder.h"

#include <cstring>
#include <map>

namespace {

std::uint32_t AlignUp(std::uint32_t n, std::uint32_t a) { return (n + a - 1) / a * a; }

void Pad(Bytes& b, std::size_t alignment)
{
    while (b.size() % alignment)
        b.push_back(0);
}

void Append16(Bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Append32(Bytes& b, std::uint32_t v)
{
    Append16(b, static_cast<std::uint16_t>(v));
    Append16(b, static_cast<std::uint16_t>(v >> 16));
}

// Resource directories list named entries first (by name), then numbered ones (by number).
struct IdOrder {
    bool operator()(const PeResourceId& a, const PeResourceId& b) const
    {
        if (a.isName != b.isName)
            return a.isName;
        return a.isName ? a.name < b.name : a.number < b.number;
    }
};

} // namespace

void Put16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    Put16(b, at, static_cast<std::uint16_t>(v));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

std::uint32_t Get32(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b[at]) | (std::uint32_t(b[at + 1]) << 8) | (std::uint32_t(b[at + 2]) << 16) |
           (std::uint32_t(b[at + 3]) << 24);
}

std::uint32_t PeBuilder::NextRva() const
{
    if (m_sections.empty())
        return SECTION_ALIGNMENT;
    const Section& last = m_sections.back();
    return last.rva + AlignUp(static_cast<std::uint32_t>(std::max<std::size_t>(last.data.size(), 1)), SECTION_ALIGNMENT);
}

std::uint32_t PeBuilder::AddSection(const std::string& name, const Bytes& data)
{
    std::uint32_t rva = NextRva();
    m_sections.push_back(Section{name, rva, data});
    return rva;
}

void PeBuilder::SetDirectory(unsigned index, std::uint32_t rva, std::uint32_t size)
{
    m_directories[index][0] = rva;
    m_directories[index][1] = size;
}

Bytes PeBuilder::Build() const
{
    const std::uint32_t peAt = 0x80;
    const std::uint32_t optionalSize = pe32Plus ? 240 : 224;
    const std::uint32_t tableAt = peAt + 24 + optionalSize;
    const std::uint32_t headersSize = AlignUp(tableAt + 40 * static_cast<std::uint32_t>(m_sections.size()), FILE_ALIGNMENT);

    Bytes b(headersSize, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, peAt);
    std::memcpy(&b[peAt], "PE\0\0", 4);
    Put16(b, peAt + 4, machine);
    Put16(b, peAt + 6, static_cast<std::uint16_t>(m_sections.size()));
    Put16(b, peAt + 20, static_cast<std::uint16_t>(optionalSize));
    Put16(b, peAt + 22, characteristics);

    const std::size_t o = peAt + 24;
    Put16(b, o, pe32Plus ? PE_MAGIC_PE32_PLUS : PE_MAGIC_PE32);
    Put32(b, o + 16, entryPoint);
    if (pe32Plus) {
        Put32(b, o + 24, 0x80000000u);
        Put32(b, o + 28, 0x1);
    } else {
        Put32(b, o + 28, 0x10000000u);
    }
    Put32(b, o + 32, SECTION_ALIGNMENT);
    Put32(b, o + 36, FILE_ALIGNMENT);
    Put32(b, o + 56, NextRva());
    Put32(b, o + 60, headersSize);
    Put16(b, o + 68, subsystem);
    const std::size_t countAt = o + (pe32Plus ? 108 : 92);
    Put32(b, countAt, 16);
    for (unsigned i = 0; i < 16; ++i) {
        Put32(b, countAt + 4 + i * 8, m_directories[i][0]);
        Put32(b, countAt + 8 + i * 8, m_directories[i][1]);
    }

    for (std::size_t i = 0; i < m_sections.size(); ++i) {
        const Section& s = m_sections[i];
        const std::size_t at = tableAt + i * 40;
        std::memcpy(&b[at], s.name.data(), std::min<std::size_t>(s.name.size(), 8));
        const std::uint32_t rawOffset = static_cast<std::uint32_t>(b.size());
        const std::uint32_t rawSize = AlignUp(static_cast<std::uint32_t>(s.data.size()), FILE_ALIGNMENT);
        Put32(b, at + 8, static_cast<std::uint32_t>(s.data.size()));
        Put32(b, at + 12, s.rva);
        Put32(b, at + 16, rawSize);
        Put32(b, at + 20, rawOffset);
        Put32(b, at + 36, 0x40000040u); // initialised data, readable
        b.insert(b.end(), s.data.begin(), s.data.end());
        b.resize(rawOffset + rawSize, 0);
    }
    return b;
}

Bytes BuildResourceSection(std::uint32_t rva, const std::vector<ResourceLeaf>& leaves)
{
    using Languages = std::map<std::uint16_t, const ResourceLeaf*>;
    using Names = std::map<PeResourceId, Languages, IdOrder>;
    std::map<PeResourceId, Names, IdOrder> tree;
    for (const ResourceLeaf& leaf : leaves)
        tree[leaf.type][leaf.name][leaf.language] = &leaf;

    // Pass one: where every directory, data entry, string and datum goes.
    std::uint32_t size = 16 + 8 * static_cast<std::uint32_t>(tree.size());
    std::map<const void*, std::uint32_t> directoryAt;
    for (const auto& [type, names] : tree) {
        directoryAt[&names] = size;
        size += 16 + 8 * static_cast<std::uint32_t>(names.size());
        for (const auto& [name, languages] : names) {
            directoryAt[&languages] = size;
            size += 16 + 8 * static_cast<std::uint32_t>(languages.size());
        }
    }
    std::map<const ResourceLeaf*, std::uint32_t> entryAt;
    for (const ResourceLeaf& leaf : leaves) {
        entryAt[&leaf] = size;
        size += 16;
    }
    std::map<std::u16string, std::uint32_t> stringAt;
    auto placeString = [&](const PeResourceId& id) {
        if (id.isName && !stringAt.count(id.name)) {
            stringAt[id.name] = size;
            size += 2 + 2 * static_cast<std::uint32_t>(id.name.size());
        }
    };
    for (const auto& [type, names] : tree) {
        placeString(type);
        for (const auto& [name, languages] : names)
            placeString(name);
    }
    std::map<const ResourceLeaf*, std::uint32_t> dataAt;
    for (const ResourceLeaf& leaf : leaves) {
        size = AlignUp(size, 8);
        dataAt[&leaf] = size;
        size += static_cast<std::uint32_t>(leaf.data.size());
    }

    // Pass two: write them.
    Bytes b(size, 0);
    auto keyOf = [&](const PeResourceId& id) { return id.isName ? (0x80000000u | stringAt[id.name]) : id.number; };
    auto writeDirectory = [&](std::uint32_t at, std::uint16_t named, std::uint16_t numbered) {
        Put16(b, at + 12, named);
        Put16(b, at + 14, numbered);
    };
    auto counts = [](const auto& level) {
        std::uint16_t named = 0;
        for (const auto& entry : level)
            named += entry.first.isName ? 1 : 0;
        return std::pair<std::uint16_t, std::uint16_t>(named, static_cast<std::uint16_t>(level.size() - named));
    };
    auto [typesNamed, typesNumbered] = counts(tree);
    writeDirectory(0, typesNamed, typesNumbered);
    std::uint32_t typeEntry = 16;
    for (const auto& [type, names] : tree) {
        std::uint32_t namesAt = directoryAt[&names];
        Put32(b, typeEntry, keyOf(type));
        Put32(b, typeEntry + 4, 0x80000000u | namesAt);
        typeEntry += 8;
        auto [named, numbered] = counts(names);
        writeDirectory(namesAt, named, numbered);
        std::uint32_t nameEntry = namesAt + 16;
        for (const auto& [name, languages] : names) {
            std::uint32_t languagesAt = directoryAt[&languages];
            Put32(b, nameEntry, keyOf(name));
            Put32(b, nameEntry + 4, 0x80000000u | languagesAt);
            nameEntry += 8;
            writeDirectory(languagesAt, 0, static_cast<std::uint16_t>(languages.size()));
            std::uint32_t languageEntry = languagesAt + 16;
            for (const auto& [language, leaf] : languages) {
                Put32(b, languageEntry, language);
                Put32(b, languageEntry + 4, entryAt[leaf]);
                languageEntry += 8;
            }
        }
    }
    for (const ResourceLeaf& leaf : leaves) {
        Put32(b, entryAt[&leaf], rva + dataAt[&leaf]);
        Put32(b, entryAt[&leaf] + 4, static_cast<std::uint32_t>(leaf.data.size()));
        std::copy(leaf.data.begin(), leaf.data.end(), b.begin() + dataAt[&leaf]);
    }
    for (const auto& [name, at] : stringAt) {
        Put16(b, at, static_cast<std::uint16_t>(name.size()));
        for (std::size_t i = 0; i < name.size(); ++i)
            Put16(b, at + 2 + 2 * i, name[i]);
    }
    return b;
}

Bytes BuildExportSection(std::uint32_t rva, const std::string& library, const std::vector<std::string>& names,
                         std::uint32_t functionRva)
{
    const std::uint32_t n = static_cast<std::uint32_t>(names.size());
    const std::uint32_t functionsAt = 40;
    const std::uint32_t namesAt = functionsAt + 4 * n;
    const std::uint32_t ordinalsAt = namesAt + 4 * n;
    std::uint32_t stringsAt = ordinalsAt + 2 * n;

    Bytes b(stringsAt, 0);
    auto appendString = [&](const std::string& s) {
        std::uint32_t at = static_cast<std::uint32_t>(b.size());
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return rva + at;
    };
    Put32(b, 12, appendString(library));
    Put32(b, 16, 1);
    Put32(b, 20, n);
    Put32(b, 24, n);
    Put32(b, 28, rva + functionsAt);
    Put32(b, 32, rva + namesAt);
    Put32(b, 36, rva + ordinalsAt);
    for (std::uint32_t i = 0; i < n; ++i) {
        Put32(b, functionsAt + 4 * i, functionRva);
        Put32(b, namesAt + 4 * i, appendString(names[i]));
        Put16(b, ordinalsAt + 2 * i, static_cast<std::uint16_t>(i));
    }
    return b;
}

Bytes EncodeVersionNode(const VersionNode& node)
{
    Bytes b(6, 0);
    for (char16_t c : node.key)
        Append16(b, c);
    Append16(b, 0);
    Pad(b, 4);
    b.insert(b.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        Pad(b, 4);
        Bytes encoded = EncodeVersionNode(child);
        b.insert(b.end(), encoded.begin(), encoded.end());
    }
    Put16(b, 0, static_cast<std::uint16_t>(b.size()));
    std::size_t valueLength = node.type == 1 ? node.value.size() / 2 : node.value.size();
    if (node.valueLengthOverride >= 0)
        valueLength = static_cast<std::size_t>(node.valueLengthOverride);
    Put16(b, 2, static_cast<std::uint16_t>(valueLength));
    Put16(b, 4, node.type);
    return b;
}

VersionNode TextNode(const std::u16string& key, const std::u16string& value)
{
    VersionNode n;
    n.key = key;
    for (char16_t c : value)
        Append16(n.value, c);
    Append16(n.value, 0);
    return n;
}

Bytes FixedInfoBytes(const FixedFileInfo& f)
{
    Bytes b;
    for (std::uint32_t v : {f.signature, f.strucVersion, f.fileVersionMS, f.fileVersionLS, f.productVersionMS,
                            f.productVersionLS, f.fileFlagsMask, f.fileFlags, f.fileOS, f.fileType, f.fileSubtype,
                            f.fileDateMS, f.fileDateLS})
        Append32(b, v);
    return b;
}

Bytes SampleVersionBlock(FileVersion version, const std::u16string& tableKey,
                         const std::vector<std::pair<std::u16string, std::u16string>>& strings,
                         std::uint16_t language, std::uint16_t codePage)
{
    FixedFileInfo f;
    f.signature = VS_FIXED_SIGNATURE;
    f.strucVersion = 0x00010000;
    f.fileVersionMS = (std::uint32_t(version.major) << 16) | version.minor;
    f.fileVersionLS = (std::uint32_t(version.build) << 16) | version.revision;
    f.productVersionMS = f.fileVersionMS;
    f.productVersionLS = f.fileVersionLS;
    f.fileFlagsMask = 0x3F;
    f.fileOS = VS_OS_WINDOWS32;
    f.fileType = VS_TYPE_DLL;

    VersionNode root;
    root.key = u"VS_VERSION_INFO";
    root.type = 0;
    root.value = FixedInfoBytes(f);

    VersionNode table;
    table.key = tableKey;
    for (const auto& [key, value] : strings)
        table.children.push_back(TextNode(key, value));
    VersionNode stringInfo;
    stringInfo.key = u"StringFileInfo";
    stringInfo.children.push_back(table);

    VersionNode translation;
    translation.key = u"Translation";
    translation.type = 0;
    Append16(translation.value, language);
    Append16(translation.value, codePage);
    VersionNode varInfo;
    varInfo.key = u"VarFileInfo";
    varInfo.children.push_back(translation);

    root.children = {stringInfo, varInfo};
    return EncodeVersionNode(root);
}

SampleImage BuildSampleImage(const std::vector<std::string>& exportNames)
{
    SampleImage sample;
    PeBuilder builder;
    builder.AddSection(".text", Bytes{0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x0C, 0x00});

    std::uint32_t exportRva = builder.NextRva();
    Bytes exports = BuildExportSection(exportRva, "Sample.dll", exportNames);
    builder.AddSection(".edata", exports);
    builder.SetDirectory(PE_DIRECTORY_EXPORT, exportRva, static_cast<std::uint32_t>(exports.size()));

    sample.leaves = {
        {PeResourceId::Name("PNG"), PeResourceId::Name("F_0_0"), 0x804, Bytes{1, 2, 3, 4, 5}},
        {PeResourceId::Name("PNG"), PeResourceId::Name("F_0_1"), 0x804, Bytes{6, 7}},
        {PeResourceId::Name("PNG"), PeResourceId::Name("F_0_1"), 0x409, Bytes{8}},
        {PeResourceId::Number(3), PeResourceId::Number(1), 0, Bytes(40, 0x33)},
        {PeResourceId::Number(PE_RESOURCE_VERSION), PeResourceId::Number(1), 0x409,
         SampleVersionBlock(FileVersion{1, 2, 3, 4}, u"040904b0",
                            {{u"FileDescription", u"Sample"}, {u"FileVersion", u"1.2.3.4"}}, 0x409, 1200)},
    };
    std::uint32_t resourceRva = builder.NextRva();
    Bytes resources = BuildResourceSection(resourceRva, sample.leaves);
    builder.AddSection(".rsrc", resources);
    builder.SetDirectory(PE_DIRECTORY_RESOURCE, resourceRva, static_cast<std::uint32_t>(resources.size()));
    sample.bytes = builder.Build();
    return sample;
}
