#include "ClientFolder.h"

#include <fstream>

#include "CodePageText.h"
#include "Crc32.h"
#include "ListRules.h"
#include "ReleaseFolder.h"
#include "Utf8.h"

std::filesystem::path NormalClientFolder(const std::filesystem::path& dir)
{
    std::filesystem::path p = std::filesystem::absolute(dir).lexically_normal();
    if (!p.has_filename() && p != p.root_path())
        p = p.parent_path();
    return p;
}

namespace {

#ifndef _WIN32
// A copy of a player's folder keeps its names' case, but the programs find
// files without regard to it, as their file system does.
std::filesystem::path ResolveNoCase(const std::filesystem::path& path)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || !path.has_relative_path())
        return path;
    const std::filesystem::path parent = ResolveNoCase(path.parent_path());
    const std::string name = path.filename().string();
    for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        if (EqualNoCase(it->path().filename().string(), name, CLeadBytes()))
            return it->path();
    }
    return parent / path.filename();
}
#endif

} // namespace

std::filesystem::path NativeClientPath(std::string utf8)
{
#ifndef _WIN32
    for (char& c : utf8) {
        if (c == '\\')
            c = '/';
    }
#endif
    return PathFromUtf8(utf8);
}

LocalFileState ZorvaneStateIn(const std::filesystem::path& client, const ListedFile& entry)
{
    const std::wstring base = WideFromUtf8(Utf8FromPath(client));
    const std::wstring joined = JoinFullPath(base, entry.LocalPath, entry.FileName);
    std::filesystem::path path = NativeClientPath(Utf8FromWide(joined));
#ifndef _WIN32
    path = ResolveNoCase(path.lexically_normal());
#endif
    return ReadLocalFileState(path, !entry.FileVersion.empty());
}

std::int32_t FileChecksum(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    std::uint32_t crc = CRC32_START;
    char block[65536];
    while (in) {
        in.read(block, sizeof block);
        const std::streamsize n = in.gcount();
        if (n <= 0)
            break;
        crc = Crc32(crc, block, static_cast<std::size_t>(n));
    }
    return static_cast<std::int32_t>(crc);
}

QuilletFolderView QuilletViewOf(const std::filesystem::path& client)
{
    QuilletFolderView view;
    const std::string text = Utf8FromPath(client);
    view.programFolder = GbkFromUtf8(text).value_or(text) + "\\";
    const std::string prefix = view.programFolder;
    view.probe = [client, prefix](const std::string& path, bool wantChecksum) {
        LocalPathState state;
        if (path.compare(0, prefix.size(), prefix) != 0)
            return state;
        // The root's "\" doubles the separator after the folder, as in the updater's own paths.
        std::string rest = Utf8FromGbk(path.substr(prefix.size()));
        rest.erase(0, rest.find_first_not_of("\\/"));
        std::filesystem::path full = client / NativeClientPath(rest);
#ifndef _WIN32
        full = ResolveNoCase(full.lexically_normal());
#endif
        std::error_code ec;
        state.exists = std::filesystem::exists(full, ec);
        if (state.exists && wantChecksum)
            state.checksum = FileChecksum(full);
        return state;
    };
    return view;
}
