#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PeResult.h"
#include "VersionInfo.h"

constexpr std::uint16_t PE_MACHINE_I386 = 0x014C;
constexpr std::uint16_t PE_MACHINE_AMD64 = 0x8664;
constexpr std::uint16_t PE_FILE_DLL = 0x2000;
constexpr std::uint16_t PE_MAGIC_PE32 = 0x010B;
constexpr std::uint16_t PE_MAGIC_PE32_PLUS = 0x020B;
constexpr std::uint16_t PE_SUBSYSTEM_WINDOWS_GUI = 2;
constexpr std::uint16_t PE_SUBSYSTEM_WINDOWS_CUI = 3;

// Indexes of the optional header's data directories.
constexpr unsigned PE_DIRECTORY_EXPORT = 0;
constexpr unsigned PE_DIRECTORY_IMPORT = 1;
constexpr unsigned PE_DIRECTORY_RESOURCE = 2;

// Numbered resource types.
constexpr std::uint32_t PE_RESOURCE_VERSION = 16;

// What the file and optional headers say about the image.
struct PeHeaders {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint16_t magic = 0; // PE_MAGIC_PE32 or PE_MAGIC_PE32_PLUS
    std::uint32_t entryPointRva = 0;
    std::uint64_t imageBase = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint16_t subsystem = 0;
    std::uint16_t dllCharacteristics = 0;
};

struct PeSection {
    std::string name; // up to eight characters
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t characteristics = 0;
};

struct PeDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// A resource type, name or language key: a number or a UTF-16 name.
struct PeResourceId {
    bool isName = false;
    std::uint32_t number = 0;
    std::u16string name;

    static PeResourceId Number(std::uint32_t number);
    static PeResourceId Name(std::u16string_view name);
    static PeResourceId Name(std::string_view asciiName);

    // Names match without regard to ASCII case, as the loader's lookup does;
    // a name never matches a number.
    bool Matches(const PeResourceId& other) const;
    // "#16" for a number, the name in UTF-8 otherwise.
    std::string ToString() const;
};

// One leaf of the resource tree. The data have been checked to lie inside the file.
struct PeResource {
    PeResourceId type;
    PeResourceId name;
    std::uint32_t language = 0;
    std::uint32_t dataRva = 0;
    std::uint32_t size = 0;
    std::uint32_t codePage = 0;
    std::uint64_t fileOffset = 0;
};

struct PeExports {
    std::string name;               // the library name the table carries
    std::uint32_t ordinalBase = 0;
    std::uint32_t functionCount = 0; // entries of the export address table
    std::vector<std::string> names;  // exported names, in table order
};

// A PE file (.exe, .dll) read from its bytes. Opening checks the headers and the
// section table; each reader then checks what it touches, so a damaged resource
// tree does not keep the version block or the export table from being read.
class CPeImage {
public:
    static PeResult<CPeImage> Open(std::vector<std::uint8_t> bytes);

    const PeHeaders& Headers() const { return m_headers; }
    const std::vector<PeSection>& Sections() const { return m_sections; }
    bool IsDll() const { return (m_headers.characteristics & PE_FILE_DLL) != 0; }
    PeDirectory Directory(unsigned index) const;

    // The bytes at an address, checked to lie in one section's file data (or the headers).
    PeResult<PeBytes> BytesAt(std::uint32_t rva, std::uint32_t size) const;

    // Every leaf of the resource tree in directory order (type, name, language).
    PeResult<std::vector<PeResource>> Resources() const;
    // The first leaf with this type and name, and with this language when one is given.
    // (Not called FindResource: windows.h makes that name a macro.)
    PeResult<PeResource> Find(const PeResourceId& type, const PeResourceId& name,
                              std::optional<std::uint32_t> language = std::nullopt) const;
    PeResult<PeBytes> ResourceData(const PeResource& resource) const;

    // The first version resource of the file.
    PeResult<VersionInfo> ReadVersionInfo() const;
    // NotFound when the file has no export directory.
    PeResult<PeExports> ReadExports() const;
    // The names of the libraries the import table loads, in table order; none
    // when the file has no import directory.
    PeResult<std::vector<std::string>> ReadImportedLibraries() const;

private:
    CPeImage() = default;

    struct Span {
        std::uint64_t offset = 0;
        std::uint64_t available = 0; // bytes from offset to the end of the section's file data
    };
    std::optional<Span> Map(std::uint32_t rva) const;
    PeResult<std::string> AsciiAt(std::uint32_t rva) const;

    std::vector<std::uint8_t> m_bytes;
    PeHeaders m_headers;
    std::vector<PeSection> m_sections;
    std::vector<PeDirectory> m_directories;
};

// The file version of the fixed part of an .exe or .dll's version resource: what
// Explorer shows as the file version.
PeResult<FileVersion> ReadFileVersion(std::vector<std::uint8_t> bytes);
