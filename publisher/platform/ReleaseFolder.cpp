#include "ReleaseFolder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "ReleaseFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
        const bool isFolder = it->is_directory(ec);
        const bool isFile = !isFolder && it->is_regular_file(ec);
        if (!isFolder && !isFile)
            continue;
        if (NeverPublishedReason(it->path().filename().u8string(), isFolder)) {
            contents.ignored.push_back(rel);
            if (isFolder)
                it.disable_recursion_pending();
            continue;
        }
        (isFolder ? contents.folders : contents.files).push_back(rel);
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    std::sort(contents.files.begin(), contents.files.end());
    std::sort(contents.folders.begin(), contents.folders.end());
    std::sort(contents.ignored.begin(), contents.ignored.end());
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

namespace {

// Beside the file, named so that no release or server file is mistaken for it.
std::filesystem::path WritingPath(const std::filesystem::path& path)
{
    std::filesystem::path beside = path;
    beside += WRITING_SUFFIX;
    return beside;
}

bool WriteAndReplace(const std::filesystem::path& path, const std::filesystem::path& beside, std::string_view bytes,
                     std::string& error);

} // namespace

bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes, std::string* error)
{
    std::string why;
    const std::filesystem::path beside = WritingPath(path);
    const bool ok = WriteAndReplace(path, beside, bytes, why);
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(beside, ec);
    }
    if (error)
        *error = why;
    return ok;
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

namespace {

std::string LastErrorText(DWORD code)
{
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                     reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

bool WriteAndReplace(const std::filesystem::path& path, const std::filesystem::path& beside, std::string_view bytes,
                     std::string& error)
{
    HANDLE h = ::CreateFileW(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastErrorText(::GetLastError());
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = ::WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(h);
    const DWORD code = ::GetLastError();
    ::CloseHandle(h);
    if (!ok) {
        error = LastErrorText(code);
        return false;
    }
    if (!::MoveFileExW(beside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastErrorText(::GetLastError());
        return false;
    }
    return true;
}

} // namespace

bool SetLastWriteTime(const std::filesystem::path& path, FileTimeValue time)
{
    HANDLE h = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME ft{time.Low, time.High};
    const bool ok = ::SetFileTime(h, nullptr, nullptr, &ft) != 0;
    ::CloseHandle(h);
    return ok;
}

std::filesystem::path PathFromGbk(const std::string& gbk)
{
    return PathFromUtf8(Utf8FromGbk(gbk));
}

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

namespace {

bool WriteAndReplace(const std::filesystem::path& path, const std::filesystem::path& beside, std::string_view bytes,
                     std::string& error)
{
    const int fd = ::open(beside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    int code = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            code = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (code == 0 && ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0 && ::rename(beside.c_str(), path.c_str()) != 0)
        code = errno;
    if (code != 0) {
        error = std::strerror(code);
        return false;
    }
    return true;
}

} // namespace

bool SetLastWriteTime(const std::filesystem::path& path, FileTimeValue time)
{
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.High) << 32) | time.Low;
    const std::int64_t unix = static_cast<std::int64_t>(ticks / 10000000u) - 11644473600LL;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(unix);
    times[1].tv_nsec = static_cast<long>(ticks % 10000000u) * 100;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::filesystem::path PathFromGbk(const std::string& gbk)
{
    return std::filesystem::path(gbk);
}

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
