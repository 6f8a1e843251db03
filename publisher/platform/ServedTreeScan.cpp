#include "ServedTreeScan.h"

#include "ReleaseFolder.h"

namespace fs = std::filesystem;

namespace {

// Each regular file below the folder with its path below it ("/" between
// folders) and length.
template <typename F>
void EachFile(const fs::path& folder, F f)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        const std::uint64_t length = it->file_size(ec);
        if (!ec)
            f(it->path().lexically_relative(folder), length);
    }
}

// Quillet's names as it asks for them: GBK bytes. Natively the tree keeps the
// bytes themselves; on Windows the file system holds the characters.
std::string GbkOf(const fs::path& rel)
{
#ifdef _WIN32
    return GbkFromUtf8(Utf8FromPath(rel.generic_wstring())).value_or(std::string());
#else
    return rel.generic_string();
#endif
}

} // namespace

bool ScanServedTree(const fs::path& root, CServedTree& tree, std::string& error)
{
    std::error_code ec;
    const fs::path releases = root / "releases";
    if (!fs::is_directory(releases, ec)) {
        error = "holds no releases/ folder: not the server's tree";
        return false;
    }
    for (const fs::directory_entry& r : fs::directory_iterator(releases, ec)) {
        if (!r.is_directory(ec))
            continue;
        const std::string name = Utf8FromPath(r.path().filename());
        tree.Release(name);
        const std::string base = "/releases/" + name + "/";
        const fs::path own = r.path() / "Update.xml";
        if (fs::is_regular_file(own, ec))
            tree.AddZorvaneList(name, base + "Update.xml", fs::file_size(own, ec));
        EachFile(r.path() / "lists", [&](const fs::path& rel, std::uint64_t length) {
            tree.AddZorvaneList(name, base + "lists/" + Utf8FromPath(rel.generic_string()), length);
        });
        EachFile(r.path() / "files", [&](const fs::path& rel, std::uint64_t length) {
            tree.AddZorvaneFile(name, Utf8FromPath(rel.generic_string()), length);
        });
        const fs::path quillet = r.path() / "Vexaupdate";
        if (!fs::is_directory(quillet, ec))
            continue;
        for (const fs::directory_entry& folder : fs::directory_iterator(quillet, ec)) {
            if (!folder.is_directory(ec))
                continue;
            const std::string folderName = Utf8FromPath(folder.path().filename());
            const fs::path list = folder.path() / "filelist.list";
            if (fs::is_regular_file(list, ec))
                tree.AddQuilletList(name, folderName, fs::file_size(list, ec));
            EachFile(folder.path() / "release", [&](const fs::path& rel, std::uint64_t length) {
                const std::string gbk = GbkOf(rel);
                tree.AddQuilletFile(name, folderName, gbk, Utf8FromGbk(gbk), length);
            });
        }
    }
    return true;
}
