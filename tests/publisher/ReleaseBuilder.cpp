#include "ReleaseBuilder.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "PeBuilder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>
#endif

TempDir::TempDir()
{
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::mt19937_64 random(static_cast<std::uint64_t>(stamp));
    m_path = std::filesystem::temp_directory_path() / ("vexa-tools-" + std::to_string(random() % 1000000000u));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path TempDir::operator/(const std::string& rel) const
{
    return m_path / std::filesystem::u8path(rel);
}

std::vector<std::uint8_t> VersionedImage(FileVersion version)
{
    PeBuilder builder;
    builder.AddSection(".text", Bytes{0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x0C, 0x00});
    std::vector<ResourceLeaf> leaves = {
        {PeResourceId::Number(PE_RESOURCE_VERSION), PeResourceId::Number(1), 0x804,
         SampleVersionBlock(version, u"080403a8", {{u"FileVersion", u"x"}}, 0x804, 936)},
    };
    const std::uint32_t rva = builder.NextRva();
    const Bytes resources = BuildResourceSection(rva, leaves);
    builder.AddSection(".rsrc", resources);
    builder.SetDirectory(PE_DIRECTORY_RESOURCE, rva, static_cast<std::uint32_t>(resources.size()));
    return builder.Build();
}

std::vector<std::uint8_t> UnversionedImage()
{
    PeBuilder builder;
    builder.AddSection(".text", Bytes{0xC3});
    return builder.Build();
}

std::vector<std::uint8_t> SomeBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

void WriteFileAt(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes, std::int64_t unixTime)
{
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
#ifdef _WIN32
    const FileTimeValue t = FileTimeFromUnix(unixTime, 0);
    FILETIME ft{t.Low, t.High};
    HANDLE h = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::SetFileTime(h, nullptr, nullptr, &ft);
        ::CloseHandle(h);
    }
#else
    utimbuf t{};
    t.actime = static_cast<time_t>(unixTime);
    t.modtime = static_cast<time_t>(unixTime);
    ::utime(path.c_str(), &t);
#endif
}

ReleaseFile Described(const std::string& path, const std::vector<std::uint8_t>& bytes, std::int64_t unixTime)
{
    return DescribeReleaseFile(path, bytes, FileTimeFromUnix(unixTime, 0));
}

std::string ToolPath()
{
#ifdef VEXA_PUBLISH_PATH
    return VEXA_PUBLISH_PATH;
#else
    return "vexa-publish";
#endif
}

int RunTool(const std::string& arguments, std::string& output)
{
    return RunCommand("\"" + ToolPath() + "\" " + arguments, output);
}

int RunCommand(const std::string& commandLine, std::string& output)
{
    output.clear();
#ifdef _WIN32
    const std::string command = commandLine + " 2>&1";
    FILE* pipe = ::_popen(command.c_str(), "r");
#else
    const std::string command = "{ " + commandLine + "; } 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
#endif
    if (!pipe)
        return -1;
    char block[4096];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, pipe)) > 0)
        output.append(block, n);
#ifdef _WIN32
    return ::_pclose(pipe);
#else
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}
