#include "PeImage.h"

#include <algorithm>
#include <cstring>

namespace {

// Limits no real file comes near; they bound the work a crafted file can cause
// (resource directories that share subdirectories multiply their entries).
constexpr std::uint64_t MAX_RESOURCE_ENTRIES = 1u << 18;
constexpr std::uint32_t MAX_EXPORTS = 1u << 16;
constexpr std::uint32_t MAX_IMPORTED_LIBRARIES = 1024;
constexpr std::uint64_t MAX_EXPORT_NAME = 4096;
constexpr unsigned MAX_DIRECTORIES = 16;

constexpr std::uint32_t RESOURCE_SUBDIRECTORY = 0x80000000u;
constexpr std::uint32_t RESOURCE_NAMED = 0x80000000u;

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Dword(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

std::uint64_t Qword(const std::uint8_t* p) { return Dword(p) | (std::uint64_t(Dword(p + 4)) << 32); }

PeError Fault(PeStatus status, std::uint64_t at) { return PeError{status, at}; }

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

// Walks the three levels of the resource tree (type, name, language). All
// offsets inside the tree are relative to its root and checked against the end
// of the section's file data.
class CResourceWalk {
public:
    CResourceWalk(const CPeImage& image, PeBytes tree, std::uint64_t treeOffset)
        : m_image(image), m_tree(tree), m_treeOffset(treeOffset)
    {
    }

    PeError Walk(std::vector<PeResource>& out)
    {
        PeResource path;
        return WalkDirectory(0, 0, path, out);
    }

private:
    PeError WalkDirectory(std::uint64_t at, int level, PeResource& path, std::vector<PeResource>& out)
    {
        if (at > m_tree.size || m_tree.size - at < 16)
            return Fault(PeStatus::Truncated, m_treeOffset + at);
        const std::uint8_t* header = m_tree.data + at;
        std::uint64_t count = std::uint64_t(Word(header + 12)) + Word(header + 14);
        if ((m_tree.size - at - 16) / 8 < count)
            return Fault(PeStatus::Truncated, m_treeOffset + at);

        for (std::uint64_t i = 0; i < count; ++i) {
            if (++m_entries > MAX_RESOURCE_ENTRIES)
                return Fault(PeStatus::TooManyEntries, m_treeOffset + at);
            std::uint64_t entry = at + 16 + i * 8;
            std::uint32_t key = Dword(m_tree.data + entry);
            std::uint32_t target = Dword(m_tree.data + entry + 4);

            PeResult<PeResourceId> id = ReadId(key);
            if (!id)
                return id.Error();
            bool isDirectory = (target & RESOURCE_SUBDIRECTORY) != 0;
            std::uint64_t next = target & ~RESOURCE_SUBDIRECTORY;

            if (level < 2) {
                if (!isDirectory)
                    return Fault(PeStatus::BadResourceTree, m_treeOffset + entry);
                (level == 0 ? path.type : path.name) = std::move(*id);
                PeError e = WalkDirectory(next, level + 1, path, out);
                if (e.status != PeStatus::Ok)
                    return e;
                continue;
            }

            // Languages are numbers, and the third level holds data entries only.
            if (id->isName || isDirectory)
                return Fault(PeStatus::BadResourceTree, m_treeOffset + entry);
            if (next > m_tree.size || m_tree.size - next < 16)
                return Fault(PeStatus::Truncated, m_treeOffset + next);
            const std::uint8_t* leaf = m_tree.data + next;
            PeResource r = path;
            r.language = id->number;
            r.dataRva = Dword(leaf);
            r.size = Dword(leaf + 4);
            r.codePage = Dword(leaf + 8);
            PeResult<PeBytes> data = m_image.BytesAt(r.dataRva, r.size);
            if (!data)
                return data.Error();
            // The data may lie in another section; measure from the start of the file.
            r.fileOffset = static_cast<std::uint64_t>(data->data - (m_tree.data - m_treeOffset));
            out.push_back(std::move(r));
        }
        return PeError{};
    }

    PeResult<PeResourceId> ReadId(std::uint32_t key) const
    {
        if ((key & RESOURCE_NAMED) == 0)
            return PeResourceId::Number(key);
        std::uint64_t at = key & ~RESOURCE_NAMED;
        if (at > m_tree.size || m_tree.size - at < 2)
            return Fault(PeStatus::Truncated, m_treeOffset + at);
        std::uint64_t length = Word(m_tree.data + at);
        if ((m_tree.size - at - 2) / 2 < length)
            return Fault(PeStatus::Truncated, m_treeOffset + at);
        PeResourceId id;
        id.isName = true;
        id.name.reserve(length);
        for (std::uint64_t i = 0; i < length; ++i)
            id.name += static_cast<char16_t>(Word(m_tree.data + at + 2 + i * 2));
        return id;
    }

    const CPeImage& m_image;
    PeBytes m_tree;
    std::uint64_t m_treeOffset;
    std::uint64_t m_entries = 0;
};

} // namespace

const char* PeStatusText(PeStatus status)
{
    switch (status) {
    case PeStatus::Ok: return "ok";
    case PeStatus::Truncated: return "a structure runs past the end of its data";
    case PeStatus::NotPe: return "not a PE file";
    case PeStatus::UnsupportedFormat: return "unsupported optional header";
    case PeStatus::BadRva: return "an address outside the file's sections";
    case PeStatus::BadResourceTree: return "malformed resource directory";
    case PeStatus::TooManyEntries: return "too many entries";
    case PeStatus::BadVersionBlock: return "malformed version resource";
    case PeStatus::BadExportTable: return "malformed export table";
    case PeStatus::BadImportTable: return "malformed import table";
    case PeStatus::NotFound: return "not found";
    }
    return "unknown status";
}

PeResourceId PeResourceId::Number(std::uint32_t number)
{
    PeResourceId id;
    id.number = number;
    return id;
}

PeResourceId PeResourceId::Name(std::u16string_view name)
{
    PeResourceId id;
    id.isName = true;
    id.name = name;
    return id;
}

PeResourceId PeResourceId::Name(std::string_view asciiName)
{
    PeResourceId id;
    id.isName = true;
    for (char c : asciiName)
        id.name += static_cast<char16_t>(static_cast<unsigned char>(c));
    return id;
}

bool PeResourceId::Matches(const PeResourceId& other) const
{
    if (isName != other.isName)
        return false;
    if (!isName)
        return number == other.number;
    if (name.size() != other.name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (FoldAscii(name[i]) != FoldAscii(other.name[i]))
            return false;
    return true;
}

std::string PeResourceId::ToString() const
{
    return isName ? Utf16ToUtf8(name) : "#" + std::to_string(number);
}

PeResult<CPeImage> CPeImage::Open(std::vector<std::uint8_t> bytes)
{
    const std::uint64_t size = bytes.size();
    const std::uint8_t* b = bytes.data();
    if (size < 2 || b[0] != 'M' || b[1] != 'Z')
        return Fault(PeStatus::NotPe, 0);
    if (size < 0x40)
        return Fault(PeStatus::Truncated, 0);
    std::uint64_t pe = Dword(b + 0x3C);
    if (pe > size || size - pe < 24)
        return Fault(PeStatus::Truncated, pe);
    if (std::memcmp(b + pe, "PE\0\0", 4) != 0)
        return Fault(PeStatus::NotPe, pe);

    CPeImage image;
    PeHeaders& h = image.m_headers;
    const std::uint8_t* coff = b + pe + 4;
    h.machine = Word(coff);
    std::uint64_t sectionCount = Word(coff + 2);
    h.timeDateStamp = Dword(coff + 4);
    std::uint64_t optionalSize = Word(coff + 16);
    h.characteristics = Word(coff + 18);

    std::uint64_t optional = pe + 24;
    if (size - optional < optionalSize)
        return Fault(PeStatus::Truncated, optional);
    if (optionalSize < 2)
        return Fault(PeStatus::UnsupportedFormat, optional);
    const std::uint8_t* o = b + optional;
    h.magic = Word(o);
    std::uint64_t directoryCountAt = 0;
    if (h.magic == PE_MAGIC_PE32 && optionalSize >= 96) {
        h.imageBase = Dword(o + 28);
        directoryCountAt = 92;
    } else if (h.magic == PE_MAGIC_PE32_PLUS && optionalSize >= 112) {
        h.imageBase = Qword(o + 24);
        directoryCountAt = 108;
    } else {
        return Fault(PeStatus::UnsupportedFormat, optional);
    }
    h.entryPointRva = Dword(o + 16);
    h.sizeOfImage = Dword(o + 56);
    h.sizeOfHeaders = Dword(o + 60);
    h.subsystem = Word(o + 68);
    h.dllCharacteristics = Word(o + 70);

    std::uint64_t directoriesAt = directoryCountAt + 4;
    std::uint64_t directoryCount = std::min<std::uint64_t>(
        {Dword(o + directoryCountAt), MAX_DIRECTORIES, (optionalSize - directoriesAt) / 8});
    for (std::uint64_t i = 0; i < directoryCount; ++i)
        image.m_directories.push_back(PeDirectory{Dword(o + directoriesAt + i * 8), Dword(o + directoriesAt + i * 8 + 4)});

    std::uint64_t table = optional + optionalSize;
    if ((size - table) / 40 < sectionCount)
        return Fault(PeStatus::Truncated, table);
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* s = b + table + i * 40;
        PeSection section;
        section.name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
        section.virtualSize = Dword(s + 8);
        section.virtualAddress = Dword(s + 12);
        section.rawSize = Dword(s + 16);
        section.rawOffset = Dword(s + 20);
        section.characteristics = Dword(s + 36);
        image.m_sections.push_back(std::move(section));
    }

    image.m_bytes = std::move(bytes);
    return image;
}

PeDirectory CPeImage::Directory(unsigned index) const
{
    return index < m_directories.size() ? m_directories[index] : PeDirectory{};
}

std::optional<CPeImage::Span> CPeImage::Map(std::uint32_t rva) const
{
    const std::uint64_t fileSize = m_bytes.size();
    for (const PeSection& s : m_sections) {
        // The loader maps at most the raw data; past the virtual size there is only padding.
        std::uint64_t span = s.rawSize;
        if (s.virtualSize != 0 && s.virtualSize < span)
            span = s.virtualSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= span)
            continue;
        std::uint64_t into = rva - s.virtualAddress;
        std::uint64_t offset = std::uint64_t(s.rawOffset) + into;
        if (offset >= fileSize)
            return std::nullopt;
        return Span{offset, std::min(span - into, fileSize - offset)};
    }
    std::uint64_t headers = std::min<std::uint64_t>(m_headers.sizeOfHeaders, fileSize);
    if (rva < headers)
        return Span{rva, headers - rva};
    return std::nullopt;
}

PeResult<PeBytes> CPeImage::BytesAt(std::uint32_t rva, std::uint32_t size) const
{
    std::optional<Span> span = Map(rva);
    if (!span)
        return Fault(PeStatus::BadRva, rva);
    if (size > span->available)
        return Fault(PeStatus::Truncated, span->offset);
    return PeBytes{m_bytes.data() + span->offset, size};
}

PeResult<std::string> CPeImage::AsciiAt(std::uint32_t rva) const
{
    std::optional<Span> span = Map(rva);
    if (!span)
        return Fault(PeStatus::BadRva, rva);
    const char* p = reinterpret_cast<const char*>(m_bytes.data() + span->offset);
    std::size_t room = static_cast<std::size_t>(std::min(span->available, MAX_EXPORT_NAME));
    const void* end = std::memchr(p, 0, room);
    if (!end)
        return Fault(PeStatus::Truncated, span->offset);
    return std::string(p, static_cast<const char*>(end));
}

PeResult<std::vector<PeResource>> CPeImage::Resources() const
{
    PeDirectory d = Directory(PE_DIRECTORY_RESOURCE);
    if (d.rva == 0)
        return Fault(PeStatus::NotFound, 0);
    std::optional<Span> root = Map(d.rva);
    if (!root)
        return Fault(PeStatus::BadRva, d.rva);
    PeBytes tree{m_bytes.data() + root->offset, static_cast<std::size_t>(root->available)};
    std::vector<PeResource> out;
    PeError e = CResourceWalk(*this, tree, root->offset).Walk(out);
    if (e.status != PeStatus::Ok)
        return e;
    return out;
}

PeResult<PeResource> CPeImage::Find(const PeResourceId& type, const PeResourceId& name,
                                    std::optional<std::uint32_t> language) const
{
    PeResult<std::vector<PeResource>> all = Resources();
    if (!all)
        return all.Error();
    for (const PeResource& r : *all)
        if (r.type.Matches(type) && r.name.Matches(name) && (!language || r.language == *language))
            return r;
    return Fault(PeStatus::NotFound, 0);
}

PeResult<PeBytes> CPeImage::ResourceData(const PeResource& resource) const
{
    return BytesAt(resource.dataRva, resource.size);
}

PeResult<VersionInfo> CPeImage::ReadVersionInfo() const
{
    PeResult<std::vector<PeResource>> all = Resources();
    if (!all)
        return all.Error();
    for (const PeResource& r : *all) {
        if (r.type.isName || r.type.number != PE_RESOURCE_VERSION)
            continue;
        PeResult<PeBytes> data = ResourceData(r);
        if (!data)
            return data.Error();
        PeResult<VersionInfo> info = ParseVersionInfo(*data);
        if (!info)
            return PeError{info.Status(), r.fileOffset + info.Error().offset};
        return info;
    }
    return Fault(PeStatus::NotFound, 0);
}

PeResult<PeExports> CPeImage::ReadExports() const
{
    PeDirectory d = Directory(PE_DIRECTORY_EXPORT);
    if (d.rva == 0)
        return Fault(PeStatus::NotFound, 0);
    PeResult<PeBytes> table = BytesAt(d.rva, 40);
    if (!table)
        return table.Error();
    const std::uint8_t* t = table->data;
    std::uint32_t nameRva = Dword(t + 12);
    std::uint32_t functionCount = Dword(t + 20);
    std::uint32_t nameCount = Dword(t + 24);
    std::uint32_t functionsRva = Dword(t + 28);
    std::uint32_t namesRva = Dword(t + 32);
    std::uint32_t ordinalsRva = Dword(t + 36);

    PeExports exports;
    exports.ordinalBase = Dword(t + 16);
    exports.functionCount = functionCount;
    PeResult<std::string> name = AsciiAt(nameRva);
    if (!name)
        return name.Error();
    exports.name = std::move(*name);

    if (functionCount > MAX_EXPORTS || nameCount > MAX_EXPORTS)
        return Fault(PeStatus::TooManyEntries, table->data - m_bytes.data());
    if (functionCount != 0 && !BytesAt(functionsRva, functionCount * 4))
        return Fault(PeStatus::BadExportTable, functionsRva);
    if (nameCount == 0)
        return exports;
    PeResult<PeBytes> names = BytesAt(namesRva, nameCount * 4);
    PeResult<PeBytes> ordinals = BytesAt(ordinalsRva, nameCount * 2);
    if (!names || !ordinals)
        return Fault(PeStatus::BadExportTable, names ? ordinalsRva : namesRva);
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        if (Word(ordinals->data + i * 2) >= functionCount)
            return Fault(PeStatus::BadExportTable, ordinalsRva);
        PeResult<std::string> exported = AsciiAt(Dword(names->data + i * 4));
        if (!exported)
            return exported.Error();
        exports.names.push_back(std::move(*exported));
    }
    return exports;
}

PeResult<std::vector<std::string>> CPeImage::ReadImportedLibraries() const
{
    PeDirectory d = Directory(PE_DIRECTORY_IMPORT);
    std::vector<std::string> libraries;
    if (d.rva == 0)
        return libraries;
    // Descriptors of 20 bytes each, up to one whose fields are all zero.
    constexpr std::uint32_t DESCRIPTOR = 20;
    for (std::uint32_t i = 0;; ++i) {
        if (i > MAX_IMPORTED_LIBRARIES)
            return Fault(PeStatus::TooManyEntries, d.rva);
        PeResult<PeBytes> descriptor = BytesAt(d.rva + i * DESCRIPTOR, DESCRIPTOR);
        if (!descriptor)
            return Fault(PeStatus::BadImportTable, d.rva);
        const std::uint8_t* p = descriptor->data;
        if (std::all_of(p, p + DESCRIPTOR, [](std::uint8_t b) { return b == 0; }))
            return libraries;
        PeResult<std::string> name = AsciiAt(Dword(p + 12));
        if (!name)
            return name.Error();
        libraries.push_back(std::move(*name));
    }
}

PeResult<FileVersion> ReadFileVersion(std::vector<std::uint8_t> bytes)
{
    PeResult<CPeImage> image = CPeImage::Open(std::move(bytes));
    if (!image)
        return image.Error();
    PeResult<VersionInfo> info = image->ReadVersionInfo();
    if (!info)
        return info.Error();
    if (!info->fixed)
        return Fault(PeStatus::NotFound, 0);
    return info->fixed->FileVersionNumber();
}
