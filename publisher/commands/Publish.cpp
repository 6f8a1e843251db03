// publish zorvane, publish quillet: the clients' lists of a release folder,
// written beside their names and renamed once whole.
#include <CLI/CLI.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ClientPlan.h"
#include "Commands.h"
#include "FileList.h"
#include "GoLive.h"
#include "PublishRules.h"
#include "QuilletList.h"
#include "ReleaseFolder.h"
#include "Report.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"

namespace {

// Whether a release file holds the bytes of a file the previous list names,
// where that file is at hand: below a folder above the previous list, at the
// path of its address (the fleet's tree, served as it lies).
std::optional<bool> SameBytes(const std::filesystem::path& file, const std::filesystem::path& previousList,
                              const ListedFile& before)
{
    const std::optional<Target> t = TargetOfUrl(Utf8FromWide(before.URL));
    if (!t || t->object.size() < 2 || t->object.find("/../") != std::string::npos)
        return std::nullopt;
    const std::filesystem::path tail = PathFromUtf8(DecodeUrlPath(t->object.substr(1)));
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(previousList, ec).parent_path();
    for (int up = 0; up < 4 && !folder.empty(); ++up, folder = folder.parent_path()) {
        std::vector<std::uint8_t> a;
        std::vector<std::uint8_t> b;
        if (std::filesystem::is_regular_file(folder / tail, ec))
            return ReadWholeFile(folder / tail, a) && ReadWholeFile(file, b) ? std::optional<bool>(a == b)
                                                                            : std::nullopt;
        if (folder == folder.parent_path())
            break;
    }
    return std::nullopt;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < 20; ++i)
        out += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > 20)
        out += " and " + std::to_string(names.size() - 20) + " more";
    return out;
}

// The list is written beside the release folder unless -o names a file.
std::filesystem::path OutputPath(const Arguments& a, const std::filesystem::path& release, const char* name)
{
    if (a.output)
        return PathFromUtf8(*a.output);
    std::filesystem::path parent = std::filesystem::absolute(release).lexically_normal();
    if (!parent.has_filename())
        parent = parent.parent_path();
    return parent.parent_path() / name;
}

// The files of a release, less the list being written (when it is written into
// the release) and what is never published.
bool ReadRelease(const std::filesystem::path& root, const std::filesystem::path& output, bool gbkNames,
                 std::vector<ReleaseFile>& files, std::vector<std::string>& folders, CReport& report,
                 std::string& error)
{
    FolderContents contents;
    if (!ListReleaseFolder(root, contents, error))
        return false;
    for (const std::string& rel : contents.ignored) {
        const std::string name = Utf8FromPath(PathFromUtf8(rel).filename());
        const bool isFolder = std::filesystem::is_directory(root / PathFromUtf8(rel));
        report.Note(rel, 0, std::string("not published: ") + NeverPublishedReason(name, isFolder));
    }
    if (!contents.ignored.empty()) {
        std::string names;
        for (const std::string& rel : contents.ignored)
            names += (names.empty() ? "" : ", ") + rel;
        std::cout << "left out " << names << " (never published)\n";
    }
    std::error_code ec;
    const std::filesystem::path outputFull = std::filesystem::weakly_canonical(output, ec);
    bool ok = true;
    for (const std::string& rel : contents.files) {
        const std::filesystem::path full = root / PathFromUtf8(rel);
        if (std::filesystem::weakly_canonical(full, ec) == outputFull) {
            report.Note(rel, 0, "the list itself: not listed");
            continue;
        }
        std::vector<std::uint8_t> bytes;
        const std::optional<FileTimeValue> time = LastWriteTime(full);
        if (!time || !ReadWholeFile(full, bytes)) {
            report.Error(Utf8FromPath(full), 0, "cannot be read");
            ok = false;
            continue;
        }
        std::string name = rel;
        if (gbkNames) {
            const std::optional<std::string> gbk = GbkFromUtf8(rel);
            if (!gbk) {
                report.Error(rel, 0, "has a name with characters that GBK, the clients' text, cannot hold");
                ok = false;
                continue;
            }
            name = *gbk;
        }
        files.push_back(DescribeReleaseFile(name, bytes, *time));
    }
    for (const std::string& rel : contents.folders) {
        if (!gbkNames) {
            folders.push_back(rel);
            continue;
        }
        const std::optional<std::string> gbk = GbkFromUtf8(rel);
        if (!gbk) {
            report.Error(rel, 0, "has a name with characters that GBK, the clients' text, cannot hold");
            ok = false;
            continue;
        }
        folders.push_back(*gbk);
    }
    if (!ok)
        error = "some files of the release cannot be published";
    else if (files.empty())
        report.Warn(Utf8FromPath(root), 0, "the release holds no file: the list names nothing");
    return ok;
}

// Writes the list; false (and the reason on the error stream) when the old list stays.
bool WriteList(const std::filesystem::path& out, const std::string& bytes)
{
    std::string why;
    if (WriteWholeFile(out, bytes, &why))
        return true;
    std::cerr << Utf8FromPath(out) << ": error: cannot be written (" << why << "); nothing written, the list there "
              << "is as it was\n";
    return false;
}

int PublishZorvane(const Arguments& a)
{
    if (a.positional.size() != 2)
        return BadUsage("publish zorvane needs RELEASE_DIR and RULES_FILE");
    const std::filesystem::path release = PathFromUtf8(a.positional[0]);
    const std::string rulesName = a.positional[1];
    CReport report;
    std::vector<std::uint8_t> rulesBytes;
    if (!ReadWholeFile(PathFromUtf8(rulesName), rulesBytes))
        return BadInput(rulesName, "cannot be read");
    std::optional<PublishRules> rules =
        ParsePublishRules(std::string_view(reinterpret_cast<const char*>(rulesBytes.data()), rulesBytes.size()),
                          rulesName, report);
    if (!rules)
        return FinishReport(report, false);
    std::vector<ReleaseFile> files;
    std::vector<std::string> folders;
    std::string error;
    const std::filesystem::path out = OutputPath(a, release, "Update.xml");
    if (!ReadRelease(release, out, false, files, folders, report, error)) {
        report.Print(std::cerr, false);
        return BadInput(a.positional[0], error);
    }
    std::vector<ListedFile> entries = PlanZorvaneList(files, *rules, report);
    std::optional<ReleaseChanges> changes;
    GoLiveResult live;
    if (a.previous) {
        std::vector<XmlFileElement> elements;
        if (!ReadXmlList(PathFromUtf8(*a.previous), elements, error))
            return BadInput(*a.previous, error);
        // What the players of the previous release fetch once this one goes
        // live for them: the rollout lists what changed by the go-live time.
        const std::vector<ListedFile> previous = ReadListedFiles(elements);
        GoLiveInput input;
        input.next = &entries;
        input.servedPublished = &previous;
        input.served = &previous;
        input.sameBytes = [&](const ListedFile& next, const ListedFile& before) {
            return SameBytes(release / PathFromUtf8(next.sourcePath), PathFromUtf8(*a.previous), before);
        };
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        input.when = FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(now).count(), 0);
        live = GoLiveList(input);
        changes = CompareZorvaneReleases(live.entries, previous, *a.previous, report);
    }
    if (report.Count(Severity::Error) > 0) {
        report.Print(std::cerr, false);
        std::cerr << "vexa-publish: nothing written\n";
        return EXIT_BAD_INPUT;
    }
    if (!WriteList(out, WriteZorvaneList(entries)))
        return EXIT_BAD_INPUT;
    std::size_t byVersion = 0;
    for (const ListedFile& e : entries)
        byVersion += e.FileVersion.empty() ? 0 : 1;
    std::cout << "wrote " << Utf8FromPath(out) << ": " << entries.size() << " files, " << byVersion
              << " compared by version, " << entries.size() - byVersion << " by file time\n";
    if (changes) {
        std::cout << "Zorvane, against " << *a.previous << ", once it goes live: " << DescribeChanges(*changes) << "\n";
        if (!changes->fetchedNames.empty())
            std::cout << "  fetched: " << DescribeFetchedNames(*changes) << "\n";
        if (!live.newTime.empty())
            std::cout << "  listed by the go-live time (changed, compared by time): " << Joined(live.newTime) << "\n";
        if (!live.rolledBack.empty())
            std::cout << "  listed by the go-live time instead of a version that does not rise: "
                      << Joined(live.rolledBack) << "\n";
    }
    return FinishReport(report, false);
}

int PublishQuillet(const Arguments& a)
{
    if (a.positional.size() != 1)
        return BadUsage("publish quillet needs RELEASE_DIR");
    const std::filesystem::path release = PathFromUtf8(a.positional[0]);
    CReport report;
    QuilletRelease r;
    std::string error;
    const std::filesystem::path out = OutputPath(a, release, "filelist.list");
    if (!ReadRelease(release, out, true, r.files, r.folders, report, error)) {
        report.Print(std::cerr, false);
        return BadInput(a.positional[0], error);
    }
    QuilletOptions options;
    options.folder = a.Folder();
    options.installFolderLength = a.installFolderLength;
    const std::vector<FileEntry> entries = PlanQuilletList(r, options, report);
    if (report.Count(Severity::Error) > 0) {
        report.Print(std::cerr, false);
        std::cerr << "vexa-publish: nothing written: rename what is refused above\n";
        return EXIT_BAD_INPUT;
    }
    std::optional<ReleaseChanges> changes;
    if (a.previous) {
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(PathFromUtf8(*a.previous), bytes))
            return BadInput(*a.previous, "cannot be read");
        // Sizes by record ("directory:name"), as the list names the files.
        std::map<std::string, std::uint64_t> sizes;
        for (const ReleaseFile& f : r.files) {
            const std::size_t slash = f.path.rfind('/');
            std::string directory = slash == std::string::npos ? "\\" : f.path.substr(0, slash);
            for (char& c : directory) {
                if (c == '/')
                    c = '\\';
            }
            sizes[directory + ":" + f.path.substr(slash == std::string::npos ? 0 : slash + 1)] = f.size;
        }
        changes = CompareQuilletReleases(
            entries, ParseFileList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())),
            [&sizes](const FileEntry& e) {
                const auto it = sizes.find(e.directory + ":" + e.name);
                return it == sizes.end() ? std::uint64_t{0} : it->second;
            });
    }
    if (!WriteList(out, WriteQuilletList(entries)))
        return EXIT_BAD_INPUT;
    std::cout << "wrote " << Utf8FromPath(out) << ": " << r.files.size() << " files, " << r.folders.size()
              << " folders\n";
    if (changes) {
        std::cout << "Quillet, against " << *a.previous << ": " << DescribeChanges(*changes) << "\n";
        if (!changes->fetchedNames.empty())
            std::cout << "  fetched: " << Utf8FromGbk(DescribeFetchedNames(*changes)) << "\n";
    }
    return FinishReport(report, false);
}

} // namespace

void AddPublishCommands(CLI::App& app, std::vector<Command>& commands)
{
    CLI::App* publish = app.add_subcommand("publish", "write a client's list from a release folder");
    auto zorvane = std::make_shared<Arguments>();
    CLI::App* z = publish->add_subcommand("zorvane", "Update.xml from a release folder and its rules");
    AddPositionals(*z, *zorvane, "RELEASE_DIR RULES_FILE");
    AddOutputOption(*z, *zorvane);
    AddPreviousOption(*z, *zorvane);
    commands.push_back({"publish zorvane",
                        "vexa-publish publish zorvane RELEASE_DIR RULES_FILE [-o|--output Update.xml] "
                        "[--previous OLD_Update.xml]",
                        z, [zorvane] { return PublishZorvane(*zorvane); }});

    auto quillet = std::make_shared<Arguments>();
    CLI::App* q = publish->add_subcommand("quillet", "filelist.list from a release folder");
    AddPositionals(*q, *quillet, "RELEASE_DIR");
    AddOutputOption(*q, *quillet);
    AddPreviousOption(*q, *quillet);
    AddFolderOption(*q, *quillet);
    AddInstallFolderLengthOption(*q, *quillet);
    commands.push_back({"publish quillet",
                        "vexa-publish publish quillet RELEASE_DIR [-o|--output filelist.list] "
                        "[--previous OLD_filelist.list]\n"
                        "                               [--folder NAME] [--install-folder-length N]",
                        q, [quillet] { return PublishQuillet(*quillet); }});
}
