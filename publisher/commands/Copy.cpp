// copy quillet: a release folder onto the server with its names in GBK.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "ReleaseFolder.h"
#include "Utf8.h"

namespace {

// Quillet asks for a file by the GBK bytes of its name: a server on Linux must
// store that name. Copies what changed, keeping file times, each file written
// beside and renamed.
int CopyQuillet(const Arguments& a)
{
    if (a.positional.size() != 2)
        return BadUsage("copy quillet needs RELEASE_DIR and SERVER_RELEASE_DIR");
    const std::filesystem::path release = PathFromUtf8(a.positional[0]);
    const std::filesystem::path server = PathFromUtf8(a.positional[1]);
    FolderContents contents;
    std::string error;
    if (!ListReleaseFolder(release, contents, error))
        return BadInput(a.positional[0], error);
    std::vector<std::pair<std::string, std::string>> files; // UTF-8 path, GBK path
    std::vector<std::string> folders;
    bool refused = false;
    auto gbkName = [&refused](const std::string& rel) {
        std::optional<std::string> gbk = GbkFromUtf8(rel);
        if (!gbk) {
            std::cerr << rel << ": error: has a name with characters that GBK, the clients' text, cannot hold\n";
            refused = true;
        }
        return gbk;
    };
    for (const std::string& rel : contents.folders) {
        if (const std::optional<std::string> gbk = gbkName(rel))
            folders.push_back(*gbk);
    }
    for (const std::string& rel : contents.files) {
        if (const std::optional<std::string> gbk = gbkName(rel))
            files.emplace_back(rel, *gbk);
    }
    if (refused) {
        std::cerr << "vexa-publish: nothing copied\n";
        return EXIT_BAD_INPUT;
    }
    std::error_code ec;
    for (const std::string& folder : folders) {
        std::filesystem::create_directories(server / PathFromGbk(folder), ec);
        if (ec)
            return BadInput(Utf8FromPath(server / PathFromUtf8(Utf8FromGbk(folder))), ec.message());
    }
    std::size_t copied = 0;
    std::size_t gbkNames = 0;
    for (const auto& [rel, gbk] : files) {
        const std::filesystem::path from = release / PathFromUtf8(rel);
        const std::filesystem::path to = server / PathFromGbk(gbk);
        gbkNames += rel == gbk ? 0 : 1;
        const std::optional<FileTimeValue> time = LastWriteTime(from);
        const std::optional<FileTimeValue> there = LastWriteTime(to);
        if (time && there && there->Low == time->Low && there->High == time->High &&
            std::filesystem::file_size(from, ec) == std::filesystem::file_size(to, ec))
            continue; // the same file, by length and time
        std::vector<std::uint8_t> bytes;
        if (!time || !ReadWholeFile(from, bytes))
            return BadInput(Utf8FromPath(from), "cannot be read");
        std::string why;
        if (!WriteWholeFile(to, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &why) ||
            !SetLastWriteTime(to, *time))
            return BadInput(rel, "cannot be copied to " + Utf8FromPath(server) + (why.empty() ? "" : " (" + why + ")"));
        ++copied;
    }
    std::cout << "copied " << copied << " of " << files.size() << " files into " << Utf8FromPath(server) << " ("
              << gbkNames << " named in GBK)\n";
    return EXIT_OK;
}

} // namespace

void AddCopyCommand(CLI::App& app, std::vector<Command>& commands)
{
    CLI::App* copy = app.add_subcommand("copy", "copy a release folder onto the server");
    auto a = std::make_shared<Arguments>();
    CLI::App* q = copy->add_subcommand("quillet", "file times kept, names in GBK as Quillet asks for them");
    AddPositionals(*q, *a, "RELEASE_DIR SERVER_RELEASE_DIR");
    commands.push_back({"copy quillet",
                        "vexa-publish copy quillet RELEASE_DIR SERVER_RELEASE_DIR\n"
                        "                               (file times kept, names in GBK as Quillet asks for them)",
                        q, [a] { return CopyQuillet(*a); }});
}
