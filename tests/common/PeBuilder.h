#pragma once

// Small, well-formed PE images built in memory for the reader's tests, laid out
// the way linkers and resource compilers lay them out.

#include <cstdint>
#include <string>
#include <vector>

#include "pe/PeImage.h"

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::size_t at, std::uint16_t v);
void Put32(Bytes& b, std::size_t at, std::uint32_t v);
std::uint32_t Get32(const Bytes& b, std::size_t at);

class PeBuilder {
public:
    std::uint16_t machine = PE_MACHINE_I386;
    std::uint16_t characteristics = 0x2102; // executable, 32-bit words, DLL
    bool pe32Plus = false;
    std::uint16_t subsystem = PE_SUBSYSTEM_WINDOWS_GUI;
    std::uint32_t entryPoint = 0x1000;

    // The address the next section will get.
    std::uint32_t NextRva() const;
    std::uint32_t AddSection(const std::string& name, const Bytes& data);
    void SetDirectory(unsigned index, std::uint32_t rva, std::uint32_t size);
    Bytes Build() const;

    static constexpr std::uint32_t SECTION_ALIGNMENT = 0x1000;
    static constexpr std::uint32_t FILE_ALIGNMENT = 0x200;

private:
    struct Section {
        std::string name;
        std::uint32_t rva;
        Bytes data;
    };
    std::vector<Section> m_sections;
    std::uint32_t m_directories[16][2] = {};
};

struct ResourceLeaf {
    PeResourceId type;
    PeResourceId name;
    std::uint16_t language = 0;
    Bytes data;
};

// A resource section at rva: named entries before numbered ones at each level,
// then the data entries, the name strings and the data.
Bytes BuildResourceSection(std::uint32_t rva, const std::vector<ResourceLeaf>& leaves);

// An export section at rva naming the library and the given functions (all at functionRva).
Bytes BuildExportSection(std::uint32_t rva, const std::string& library, const std::vector<std::string>& names,
                         std::uint32_t functionRva = 0x1000);

// One node of a version block, encoded as the resource compiler does.
struct VersionNode {
    std::u16string key;
    std::uint16_t type = 1; // 1 text, 0 binary
    Bytes value;            // for text: UTF-16LE with its terminating zero
    std::vector<VersionNode> children;
    // When set, wValueLength is written as this instead of the computed length.
    int valueLengthOverride = -1;
};
Bytes EncodeVersionNode(const VersionNode& node);
VersionNode TextNode(const std::u16string& key, const std::u16string& value);
Bytes FixedInfoBytes(const FixedFileInfo& f);

// A typical version block: the fixed part, one string table and one translation.
Bytes SampleVersionBlock(FileVersion version, const std::u16string& tableKey,
                         const std::vector<std::pair<std::u16string, std::u16string>>& strings,
                         std::uint16_t language, std::uint16_t codePage);

// An image with a text section, an export section and a resource section holding
// leaves plus a version block (1.2.3.4, "040904b0"), as most DLLs carry.
struct SampleImage {
    Bytes bytes;
    std::vector<ResourceLeaf> leaves;
};
SampleImage BuildSampleImage(const std::vector<std::string>& exportNames = {"Alpha", "Beta"});
