// vexa-publish: writes, checks and verifies the update lists of a release, and
// explains what a client will fetch.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ClientPlan.h"
#include "Commands.h"
#include "FileList.h"
#include "HttpGet.h"
#include "PublishRules.h"
#include "QuilletList.h"
#include "ReleaseFolder.h"
#include "Report.h"
#include "UpdateRules.h"
#include "Url.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

const char* const USAGE =
    "usage:\n"
    "  vexa-publish publish zorvane RELEASE_DIR RULES_FILE [-o|--output Update.xml] [--previous OLD_Update.xml]\n"
    "  vexa-publish publish quillet RELEASE_DIR [-o|--output filelist.list] [--previous OLD_filelist.list]\n"
    "                               [--folder NAME] [--install-folder-length N]\n"
    "  vexa-publish copy quillet RELEASE_DIR SERVER_RELEASE_DIR\n"
    "                               (file times kept, names in GBK as Quillet asks for them)\n"
    "  vexa-publish check FILE [--folder NAME] [--install-folder-length N]\n"
    "                               (FILE: Update.xml, filelist.list or updatelist.ini)\n"
    "  vexa-publish verify Update.xml [LIST_ADDRESS] [--release DIR] [--timeout SECONDS]\n"
    "  vexa-publish verify filelist.list SERVER_ADDRESS|LIST_ADDRESS|updatelist.ini\n"
    "                               [--folder NAME] [--release DIR] [--timeout SECONDS]\n"
    "  vexa-publish plan CLIENT_DIR LIST_FILE|LIST_ADDRESS [--folder NAME] [--release DIR] [--timeout SECONDS]\n"
    "  vexa-publish --help\n"
    "exit codes: 0 ok; 1 problems found (plan: files would be fetched); 2 bad input;\n"
    "            3 verify failed or the server cannot be reached\n";

// The options each command takes, by their long names.
const std::map<std::string, std::set<std::string>> OPTIONS = {
    {"publish zorvane", {"--output", "--previous"}},
    {"publish quillet", {"--output", "--previous", "--folder", "--install-folder-length"}},
    {"copy quillet", {}},
    {"check", {"--folder", "--install-folder-length"}},
    {"verify", {"--folder", "--release", "--timeout"}},
    {"plan", {"--folder", "--release", "--timeout"}},
};

std::optional<Arguments> ParseArguments(int argc, char** argv, std::string& error)
{
    Arguments a;
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-o")
            arg = "--output";
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg.size() > 1 && arg[0] == '-') {
            if (a.given.count(arg)) {
                error = arg + " is given twice";
                return std::nullopt;
            }
            a.given.insert(arg);
        }
        if (arg == "--output" || arg == "--previous" || arg == "--release") {
            std::optional<std::string> v = value();
            if (!v)
                return std::nullopt;
            (arg == "--output" ? a.output : arg == "--previous" ? a.previous : a.release) = *v;
        } else if (arg == "--folder") {
            const auto v = value();
            if (!v || v->empty() || v->find_first_of(",/\\:") != std::string::npos) {
                error = "--folder needs a folder name without \",\", \"/\", \"\\\" or \":\"";
                return std::nullopt;
            }
            a.folder = *v;
        } else if (arg == "--install-folder-length" || arg == "--timeout") {
            const auto v = value();
            if (!v || v->empty() || v->size() > 4 || v->find_first_not_of("0123456789") != std::string::npos) {
                error = arg + " needs a number";
                return std::nullopt;
            }
            if (arg == "--timeout")
                a.timeoutSeconds = std::stoi(*v) > 0 ? std::stoi(*v) : 1;
            else
                a.installFolderLength = static_cast<std::size_t>(std::stoul(*v));
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            a.positional.push_back(arg);
        }
    }
    return a;
}

// An option that does not apply is refused rather than ignored.
bool OptionsApply(const Arguments& a, const std::string& command, std::string& error)
{
    const auto it = OPTIONS.find(command);
    for (const std::string& option : a.given) {
        if (it == OPTIONS.end() || !it->second.count(option)) {
            error = option + " does not apply to " + command;
            return false;
        }
    }
    return true;
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

int Finish(const CReport& report, bool withNotes)
{
    report.Print(std::cerr, withNotes);
    if (report.Count(Severity::Error) > 0)
        return EXIT_BAD_INPUT;
    return report.HasProblems() ? EXIT_PROBLEMS : EXIT_OK;
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
    if (a.positional.size() != 3)
        return BadUsage("publish zorvane needs RELEASE_DIR and RULES_FILE");
    const std::filesystem::path release = PathFromUtf8(a.positional[1]);
    const std::string rulesName = a.positional[2];
    CReport report;
    std::vector<std::uint8_t> rulesBytes;
    if (!ReadWholeFile(PathFromUtf8(rulesName), rulesBytes))
        return BadInput(rulesName, "cannot be read");
    std::optional<PublishRules> rules =
        ParsePublishRules(std::string_view(reinterpret_cast<const char*>(rulesBytes.data()), rulesBytes.size()),
                          rulesName, report);
    if (!rules)
        return Finish(report, false);
    std::vector<ReleaseFile> files;
    std::vector<std::string> folders;
    std::string error;
    const std::filesystem::path out = OutputPath(a, release, "Update.xml");
    if (!ReadRelease(release, out, false, files, folders, report, error)) {
        report.Print(std::cerr, false);
        return BadInput(a.positional[1], error);
    }
    std::vector<ListedFile> entries = PlanZorvaneList(files, *rules, report);
    std::optional<ReleaseChanges> changes;
    if (a.previous) {
        std::vector<XmlFileElement> elements;
        if (!ReadXmlList(PathFromUtf8(*a.previous), elements, error))
            return BadInput(*a.previous, error);
        changes = CompareZorvaneReleases(entries, ReadListedFiles(elements), *a.previous, report);
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
        std::cout << "Zorvane, against " << *a.previous << ": " << DescribeChanges(*changes) << "\n";
        if (!changes->fetchedNames.empty())
            std::cout << "  fetched: " << DescribeFetchedNames(*changes) << "\n";
    }
    return Finish(report, false);
}

int PublishQuillet(const Arguments& a)
{
    if (a.positional.size() != 2)
        return BadUsage("publish quillet needs RELEASE_DIR");
    const std::filesystem::path release = PathFromUtf8(a.positional[1]);
    CReport report;
    QuilletRelease r;
    std::string error;
    const std::filesystem::path out = OutputPath(a, release, "filelist.list");
    if (!ReadRelease(release, out, true, r.files, r.folders, report, error)) {
        report.Print(std::cerr, false);
        return BadInput(a.positional[1], error);
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
    return Finish(report, false);
}

// Quillet asks for a file by the GBK bytes of its name: a server on Linux must
// store that name. Copies what changed, keeping file times, each file written
// beside and renamed.
int CopyQuillet(const Arguments& a)
{
    if (a.positional.size() != 3)
        return BadUsage("copy quillet needs RELEASE_DIR and SERVER_RELEASE_DIR");
    const std::filesystem::path release = PathFromUtf8(a.positional[1]);
    const std::filesystem::path server = PathFromUtf8(a.positional[2]);
    FolderContents contents;
    std::string error;
    if (!ListReleaseFolder(release, contents, error))
        return BadInput(a.positional[1], error);
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

// Findings of the clients' 8-bit lists carry GBK text; the terminal wants UTF-8.
void ShowGbk(CReport& report)
{
    report.TransformTexts([](const std::string& text) { return Utf8FromGbk(text); });
}

int Check(const Arguments& a)
{
    if (a.positional.size() != 1)
        return BadUsage("check needs one FILE");
    const std::string file = a.positional[0];
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(PathFromUtf8(file), bytes))
        return BadInput(file, "cannot be read");
    CReport report;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    switch (KindOf(file, bytes)) {
    case ListKind::Zorvane: {
        std::vector<XmlFileElement> elements;
        std::string error;
        if (!ReadXmlList(PathFromUtf8(file), elements, error))
            return BadInput(file, error + ": clients read no entry and report that the list cannot be loaded");
        CheckZorvaneList(elements, file, report);
        break;
    }
    case ListKind::Quillet: {
        QuilletOptions options;
        options.folder = a.Folder();
        options.installFolderLength = a.installFolderLength;
        CheckQuilletList(text, options, file, report);
        ShowGbk(report);
        break;
    }
    case ListKind::Servers:
        CheckUpdateServers(text, file, report);
        ShowGbk(report);
        break;
    }
    const int rc = Finish(report, true);
    std::cout << file << ": " << report.Count(Severity::Error) << " errors, " << report.Count(Severity::Warning)
              << " warnings\n";
    return rc == EXIT_BAD_INPUT ? EXIT_PROBLEMS : rc;
}

} // namespace

int BadUsage(const std::string& why)
{
    std::cerr << "vexa-publish: " << why << "\n" << USAGE;
    return EXIT_BAD_INPUT;
}

int BadInput(const std::string& file, const std::string& why)
{
    std::cerr << file << ": error: " << why << "\n";
    return EXIT_BAD_INPUT;
}

ListKind KindOf(const std::string& file, const std::vector<std::uint8_t>& bytes)
{
    const std::wstring ext = WideFromUtf8(Utf8FromPath(PathFromUtf8(file).extension()));
    if (EqualsNoCaseAscii(ext, L".xml"))
        return ListKind::Zorvane;
    if (EqualsNoCaseAscii(ext, L".ini"))
        return ListKind::Servers;
    if (EqualsNoCaseAscii(ext, L".list"))
        return ListKind::Quillet;
    for (std::uint8_t b : bytes) {
        if (b == ' ' || b == '\t' || b == '\r' || b == '\n' || b == 0xEF || b == 0xBB || b == 0xBF)
            continue;
        return b == '<' ? ListKind::Zorvane : ListKind::Quillet;
    }
    return ListKind::Quillet;
}

std::optional<Target> TargetOfUrl(const std::string& url)
{
    const std::optional<ParsedUrl> parsed = ParseUrl(WideFromUtf8(url));
    if (!parsed || parsed->service != UrlService::Http)
        return std::nullopt;
    Target t;
    t.host = Utf8FromWide(parsed->server);
    t.port = parsed->port;
    t.object = Utf8FromWide(parsed->object);
    return t;
}

std::optional<QuilletSource> QuilletSourceOf(const std::string& address, const Arguments& a, std::string& error)
{
    const std::optional<Target> t = TargetOfUrl(address);
    if (!t) {
        error = address + " is no http:// address";
        return std::nullopt;
    }
    QuilletSource s;
    s.label = address;
    s.server = *t;
    std::optional<std::string> named; // the folder the address names
    const std::string prefix = "/Vexaupdate/";
    if (t->object.compare(0, prefix.size(), prefix) == 0) {
        const std::string rest = t->object.substr(prefix.size());
        const std::size_t slash = rest.find('/');
        if (slash != 0 && !rest.empty())
            named = rest.substr(0, slash);
        // The folder itself, with or without its "/".
        if (slash == std::string::npos || slash + 1 == rest.size())
            s.listPath.clear();
        else
            s.listPath = t->object;
    } else if (t->object != "/") {
        s.listPath = t->object; // a staged list anywhere on the server
    }
    if (named && a.folder && *named != *a.folder) {
        error = address + " names the folder " + *named + ", --folder says " + *a.folder;
        return std::nullopt;
    }
    s.folder = named.value_or(a.Folder());
    if (s.listPath.empty()) {
        const std::optional<EntryTarget> live = FileListTarget(s.folder);
        if (!live) {
            error = "the folder name " + s.folder + " is too long for the clients' paths";
            return std::nullopt;
        }
        s.listPath = live->urlPath;
    }
    return s;
}

std::string QuilletRequestTarget(const std::string& urlPath)
{
    std::string target;
    for (char c : urlPath) {
        if (c == '\\')
            target.push_back('/');
        else if (c == ' ')
            target += "%20";
        else
            target.push_back(c);
    }
    return target;
}

std::string ReleasePathOf(const FileEntry& e)
{
    std::string path = IsRootDirectory(e.directory) ? e.name : e.directory + "\\" + e.name;
    path = Utf8FromGbk(path);
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

bool FetchList(const Target& t, bool zorvaneHeaders, int timeoutSeconds, std::vector<std::uint8_t>& bytes,
               std::string& error)
{
    HttpGetOptions options;
    options.zorvaneHeaders = zorvaneHeaders;
    options.keepBody = true;
    options.timeoutMs = timeoutSeconds * 1000;
    HttpGetResult r = HttpGet(t.host, t.port, t.object, options);
    if (!r.ok && r.head.status == 0) {
        error = r.error;
        return false;
    }
    if (r.head.status != 200) {
        error = "status " + std::to_string(r.head.status) + " " + r.head.reason + " (clients take only 200)";
        return false;
    }
    if (!r.ok) {
        error = r.error;
        return false;
    }
    bytes = std::move(r.body);
    return true;
}

#ifdef _WIN32
// The arguments in UTF-8, whatever the console's code page.
std::vector<std::string> Utf8Arguments()
{
    std::vector<std::string> out;
    int n = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (!wide)
        return out;
    for (int i = 0; i < n; ++i)
        out.push_back(Utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return out;
}
#endif

int main(int argc, char** argv)
{
#ifdef _WIN32
    std::vector<std::string> utf8 = Utf8Arguments();
    std::vector<char*> pointers;
    for (std::string& s : utf8)
        pointers.push_back(&s[0]);
    if (!pointers.empty()) {
        argc = static_cast<int>(pointers.size());
        argv = pointers.data();
    }
#endif
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0 ||
            (i == 1 && std::strcmp(argv[i], "help") == 0)) {
            std::cout << USAGE;
            return EXIT_OK;
        }
    }
    if (argc < 2)
        return BadUsage("no command");
    std::string error;
    const std::optional<Arguments> a = ParseArguments(argc, argv, error);
    if (!a)
        return BadUsage(error);
    std::string command = a->command;
    if ((command == "publish" || command == "copy") && !a->positional.empty())
        command += " " + a->positional[0];
    if (!OPTIONS.count(command))
        return BadUsage(a->command == "publish" ? "publish zorvane or publish quillet"
                        : a->command == "copy"  ? "copy quillet"
                                                : "unknown command " + command);
    if (!OptionsApply(*a, command, error))
        return BadUsage(error);
    if (command == "publish zorvane")
        return PublishZorvane(*a);
    if (command == "publish quillet")
        return PublishQuillet(*a);
    if (command == "copy quillet")
        return CopyQuillet(*a);
    if (command == "check")
        return Check(*a);
    if (command == "verify")
        return Verify(*a);
    return Plan(*a);
}
