#include "ReleaseFolder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "ReleaseFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#endif

std::filesystem::path PathFromUtf8(const std::string& text)
{
    return std::filesystem::u8path(text);
}

std::string Utf8FromPath(const std::filesystem::path& path)
{
    return path.u8string();
}

bool ListReleaseFolder(const std::filesystem::path& root, FolderContents& contents, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) {
        error = "no such folder";
        return false;
    }
    std::filesystem::recursive_directory_iterator it(root, ec), end;
    if (ec) {
        error = ec.message();
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            error = ec.message();
            return false;
        }
        std::string rel = it->path().lexically_relative(root).generic_u8string();
        std::replace(rel.begin(), rel.end(), '\\', '/');
        if (it->is_directory(ec))
            contents.folders.push_back(rel);
        else if (it->is_regular_file(ec))
            contents.files.push_back(rel);
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    std::sort(contents.files.begin(), contents.files.end());
    std::sort(contents.folders.begin(), contents.folders.end());
    return true;
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    in.seekg(0, std::ios::beg);
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
        return false;
    return true;
}

bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

namespace {

// Text that is no valid GBK, shown with its ASCII bytes as they are and the others
// as \xHH.
std::string ShownWithEscapes(std::string_view text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x80) {
            shown.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    return shown;
}

} // namespace

#ifdef _WIN32

std::optional<FileTimeValue> LastWriteTime(const std::filesystem::path& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    FileTimeValue t;
    t.Low = data.ftLastWriteTime.dwLowDateTime;
    t.High = data.ftLastWriteTime.dwHighDateTime;
    return t;
}

namespace {

std::wstring WideFrom(UINT codePage, std::string_view text, DWORD flags)
{
    if (text.empty())
        return std::wstring();
    const int n = ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

} // namespace

std::optional<std::string> GbkFromUtf8(std::string_view text)
{
    if (text.empty())
        return std::string();
    const std::wstring wide = WideFrom(CP_UTF8, text, MB_ERR_INVALID_CHARS);
    if (wide.empty())
        return std::nullopt;
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &out[0], n,
                          nullptr, &lossy);
    return out;
}

std::string Utf8FromGbk(std::string_view text)
{
    if (text.empty())
        return std::string();
    const std::wstring wide = WideFrom(936, text, MB_ERR_INVALID_CHARS);
    if (wide.empty()) {
        return ShownWithEscapes(text);
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

#else

std::optional<FileTimeValue> LastWriteTime(const std::filesystem::path& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec));
}

namespace {

// All of text through iconv, or nothing when a byte sequence does not convert.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view text)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(text);
    std::string out(text.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0 || rc != 0)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::optional<std::string> GbkFromUtf8(std::string_view text)
{
    return Convert("GBK", "UTF-8", text);
}

std::string Utf8FromGbk(std::string_view text)
{
    if (std::optional<std::string> utf8 = Convert("UTF-8", "GBK", text))
        return *utf8;
    return ShownWithEscapes(text);
}

#endif
