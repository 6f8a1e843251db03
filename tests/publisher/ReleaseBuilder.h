#pragma once

// Generated release folders and client folders for the tools' tests.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ReleaseFile.h"
#include "pe/VersionInfo.h"

// A folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& rel) const;

private:
    std::filesystem::path m_path;
};

// A DLL image whose version resource says version.
std::vector<std::uint8_t> VersionedImage(FileVersion version);
// A DLL image with no resources at all.
std::vector<std::uint8_t> UnversionedImage();
// Bytes that differ for different seeds.
std::vector<std::uint8_t> SomeBytes(std::size_t size, unsigned seed);

// Writes a file (creating its folders), with its last-write time set to the Unix time.
void WriteFileAt(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes, std::int64_t unixTime);

// A release file as the tools describe it, without touching the disk.
ReleaseFile Described(const std::string& path, const std::vector<std::uint8_t>& bytes, std::int64_t unixTime);

// The path of the tool built beside the tests.
std::string ToolPath();

// Runs the tool with the arguments, answers its exit status and what it wrote
// (stdout and stderr).
int RunTool(const std::string& arguments, std::string& output);
// The same for a shell command line.
int RunCommand(const std::string& commandLine, std::string& output);
