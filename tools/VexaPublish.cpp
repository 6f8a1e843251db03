// vexa-publish: writes, checks and verifies the update lists of a release.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

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
#include "pe/PeImage.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

// Exit codes, documented in docs/publishing.md.
constexpr int EXIT_OK = 0;
constexpr int EXIT_PROBLEMS = 1;  // the list was written or read, but something in it needs a look
constexpr int EXIT_BAD_INPUT = 2; // bad command line, missing folder, unreadable or malformed input
constexpr int EXIT_VERIFY = 3;    // the server does not serve what the list says, or cannot be reached

const char* const USAGE =
    "usage:\n"
    "  vexa-publish publish zorvane RELEASE_DIR RULES_FILE [-o Update.xml] [--previous OLD_Update.xml]\n"
    "  vexa-publish publish quillet RELEASE_DIR [-o filelist.list] [--folder NAME] [--install-folder-length N]\n"
    "  vexa-publish check FILE [--folder NAME] [--install-folder-length N]\n"
    "                                  (Update.xml, filelist.list or updatelist.ini)\n"
    "  vexa-publish verify Update.xml [LIST_URL]\n"
    "  vexa-publish verify filelist.list SERVER_URL [--folder NAME]\n"
    "exit codes: 0 ok, 1 problems found, 2 bad input, 3 verify failed\n";

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

struct Arguments {
    std::vector<std::string> positional;
    std::optional<std::string> output;
    std::optional<std::string> previous;
    std::string folder = "plat";
    std::size_t installFolderLength = QuilletOptions{}.installFolderLength;
    int timeoutSeconds = 30;
};

std::optional<Arguments> ParseArguments(int argc, char** argv, int first, std::string& error)
{
    Arguments a;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "-o" || arg == "--output") {
            a.output = value("-o");
            if (!a.output)
                return std::nullopt;
        } else if (arg == "--previous") {
            a.previous = value("--previous");
            if (!a.previous)
                return std::nullopt;
        } else if (arg == "--folder") {
            const auto v = value("--folder");
            if (!v || v->empty() || v->find_first_of(",/\\:") != std::string::npos) {
                error = "--folder needs a folder name without \",\", \"/\", \"\\\" or \":\"";
                return std::nullopt;
            }
            a.folder = *v;
        } else if (arg == "--install-folder-length" || arg == "--timeout") {
            const auto v = value(arg.c_str());
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

// The files of a release, less the list being written (when it is written into the release).
bool ReadRelease(const std::filesystem::path& root, const std::filesystem::path& output, bool gbkNames,
                 std::vector<ReleaseFile>& files, std::vector<std::string>& folders, CReport& report,
                 std::string& error)
{
    FolderContents contents;
    if (!ListReleaseFolder(root, contents, error))
        return false;
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

int PublishZorvane(const Arguments& a)
{
    if (a.positional.size() != 4)
        return BadUsage("publish zorvane needs RELEASE_DIR and RULES_FILE");
    const std::filesystem::path release = PathFromUtf8(a.positional[2]);
    const std::string rulesName = a.positional[3];
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
        return BadInput(a.positional[2], error);
    }
    std::vector<ListedFile> entries = PlanZorvaneList(files, *rules, report);
    if (a.previous) {
        std::vector<XmlFileElement> elements;
        if (!ReadXmlList(PathFromUtf8(*a.previous), elements, error))
            return BadInput(*a.previous, error);
        ComparePrevious(entries, ReadListedFiles(elements), *a.previous, report);
    }
    if (report.Count(Severity::Error) > 0)
        return Finish(report, false);
    if (!WriteWholeFile(out, WriteZorvaneList(entries)))
        return BadInput(Utf8FromPath(out), "cannot be written");
    std::size_t byVersion = 0;
    for (const ListedFile& e : entries)
        byVersion += e.FileVersion.empty() ? 0 : 1;
    std::cout << "wrote " << Utf8FromPath(out) << ": " << entries.size() << " files, " << byVersion
              << " compared by version, " << entries.size() - byVersion << " by file time\n";
    return Finish(report, false);
}

int PublishQuillet(const Arguments& a)
{
    if (a.positional.size() != 3)
        return BadUsage("publish quillet needs RELEASE_DIR");
    const std::filesystem::path release = PathFromUtf8(a.positional[2]);
    CReport report;
    QuilletRelease r;
    std::string error;
    const std::filesystem::path out = OutputPath(a, release, "filelist.list");
    if (!ReadRelease(release, out, true, r.files, r.folders, report, error)) {
        report.Print(std::cerr, false);
        return BadInput(a.positional[2], error);
    }
    QuilletOptions options;
    options.folder = a.folder;
    options.installFolderLength = a.installFolderLength;
    const std::vector<FileEntry> entries = PlanQuilletList(r, options, report);
    if (report.Count(Severity::Error) > 0) {
        report.Print(std::cerr, false);
        std::cerr << "vexa-publish: nothing written: rename what is refused above\n";
        return EXIT_BAD_INPUT;
    }
    if (!WriteWholeFile(out, WriteQuilletList(entries)))
        return BadInput(Utf8FromPath(out), "cannot be written");
    std::cout << "wrote " << Utf8FromPath(out) << ": " << r.files.size() << " files, " << r.folders.size()
              << " folders\n";
    return Finish(report, false);
}

enum class ListKind { Zorvane, Quillet, Servers };

ListKind KindOf(const std::string& file, const std::vector<std::uint8_t>& bytes)
{
    const std::filesystem::path p = PathFromUtf8(file);
    const std::string ext = Utf8FromPath(p.extension());
    if (EqualsNoCaseAscii(WideFromUtf8(ext), L".xml"))
        return ListKind::Zorvane;
    if (EqualsNoCaseAscii(WideFromUtf8(ext), L".ini"))
        return ListKind::Servers;
    if (EqualsNoCaseAscii(WideFromUtf8(ext), L".list"))
        return ListKind::Quillet;
    for (std::uint8_t b : bytes) {
        if (b == ' ' || b == '\t' || b == '\r' || b == '\n' || b == 0xEF || b == 0xBB || b == 0xBF)
            continue;
        return b == '<' ? ListKind::Zorvane : ListKind::Quillet;
    }
    return ListKind::Quillet;
}

// Findings of the clients' 8-bit lists carry GBK text; the terminal wants UTF-8.
void ShowGbk(CReport& report)
{
    report.TransformTexts([](const std::string& text) { return Utf8FromGbk(text); });
}

int Check(const Arguments& a)
{
    if (a.positional.size() != 2)
        return BadUsage("check needs one FILE");
    const std::string file = a.positional[1];
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
        options.folder = a.folder;
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

struct Target {
    std::string host;
    std::uint16_t port = 80;
    std::string object;
};

std::optional<Target> TargetOfUrl(const std::wstring& url)
{
    const std::optional<ParsedUrl> parsed = ParseUrl(url);
    if (!parsed || parsed->service != UrlService::Http)
        return std::nullopt;
    Target t;
    t.host = Utf8FromWide(parsed->server);
    t.port = parsed->port;
    t.object = Utf8FromWide(parsed->object);
    return t;
}

struct VerifyTally {
    std::size_t ok = 0;
    std::size_t failed = 0;
    std::uint64_t bytes = 0;
};

// One line of progress per fetch; the failures again in the summary.
void Progress(std::size_t index, std::size_t count, const std::string& what)
{
    std::printf("[%*zu/%zu] %s ... ", static_cast<int>(std::to_string(count).size()), index, count, what.c_str());
    std::fflush(stdout);
}

void Outcome(VerifyTally& tally, std::vector<std::string>& failures, const std::string& what,
             const std::string& problem, std::uint64_t bytes)
{
    if (problem.empty()) {
        ++tally.ok;
        tally.bytes += bytes;
        std::printf("ok (%llu bytes)\n", static_cast<unsigned long long>(bytes));
    } else {
        ++tally.failed;
        std::printf("FAILED: %s\n", problem.c_str());
        failures.push_back(what + ": " + problem);
    }
    std::fflush(stdout);
}

std::string StatusProblem(const HttpGetResult& r)
{
    if (!r.ok && r.head.status == 0)
        return r.error;
    if (r.head.status != 200)
        return "status " + std::to_string(r.head.status) + " " + r.head.reason + " (clients take only 200)";
    if (!r.ok)
        return r.error;
    return std::string();
}

int Summary(const VerifyTally& tally, const std::vector<std::string>& failures)
{
    std::printf("verify: %zu fetched, %zu ok, %zu failed, %.1f MB checked\n", tally.ok + tally.failed, tally.ok,
                tally.failed, static_cast<double>(tally.bytes) / 1048576.0);
    for (const std::string& f : failures)
        std::printf("  failed: %s\n", f.c_str());
    if (tally.failed > 0) {
        std::printf("verify: do NOT announce this release\n");
        return EXIT_VERIFY;
    }
    std::printf("verify: the server serves the list as published\n");
    return EXIT_OK;
}

// The published list must be the one on the server, byte for byte.
std::string CompareServedList(const HttpGetResult& r, const std::vector<std::uint8_t>& local)
{
    std::string problem = StatusProblem(r);
    if (problem.empty() && r.body != local)
        problem = "differs from the local list (" + std::to_string(r.body.size()) + " bytes served, " +
                  std::to_string(local.size()) + " published)";
    return problem;
}

int VerifyZorvane(const Arguments& a, const std::vector<std::uint8_t>& listBytes)
{
    const std::string file = a.positional[1];
    std::vector<XmlFileElement> elements;
    std::string error;
    if (!ReadXmlList(PathFromUtf8(file), elements, error))
        return BadInput(file, error);
    const std::vector<ListedFile> entries = ReadListedFiles(elements);
    HttpGetOptions options;
    options.zorvaneHeaders = true;
    options.timeoutMs = a.timeoutSeconds * 1000;
    VerifyTally tally;
    std::vector<std::string> failures;
    const std::size_t count = entries.size() + (a.positional.size() > 2 ? 1 : 0);
    std::size_t index = 0;
    if (a.positional.size() > 2) {
        const std::string url = a.positional[2];
        const std::optional<Target> t = TargetOfUrl(WideFromUtf8(url));
        if (!t)
            return BadUsage(url + " is no http:// address");
        Progress(++index, count, url);
        HttpGetOptions listOptions = options;
        listOptions.keepBody = true;
        const HttpGetResult r = HttpGet(t->host, t->port, t->object, listOptions);
        Outcome(tally, failures, url, CompareServedList(r, listBytes), r.bodyBytes);
    }
    for (const ListedFile& e : entries) {
        const std::string url = Utf8FromWide(e.URL);
        const std::optional<Target> t = TargetOfUrl(e.URL);
        Progress(++index, count, url.empty() ? "(no URL)" : url);
        if (!t) {
            Outcome(tally, failures, file + ":" + std::to_string(e.line), "no http:// address the clients can fetch",
                    0);
            continue;
        }
        HttpGetOptions fileOptions = options;
        fileOptions.keepBody = !e.FileVersion.empty();
        const HttpGetResult r = HttpGet(t->host, t->port, t->object, fileOptions);
        std::string problem = StatusProblem(r);
        const std::uint32_t listed = static_cast<std::uint32_t>(static_cast<std::uint64_t>(e.Length));
        if (problem.empty() && static_cast<std::uint32_t>(r.bodyBytes) != listed)
            problem = std::to_string(r.bodyBytes) + " bytes served, Length " + std::to_string(e.Length) + " listed";
        if (problem.empty() && !e.FileVersion.empty()) {
            PeResult<FileVersion> v = ReadFileVersion(r.body);
            const std::wstring served =
                v ? FormatVersion((static_cast<std::uint32_t>(v->major) << 16) | v->minor,
                                  (static_cast<std::uint32_t>(v->build) << 16) | v->revision)
                  : std::wstring();
            if (!EqualsNoCaseAscii(served, e.FileVersion))
                problem = "version " + (served.empty() ? std::string("(none)") : Utf8FromWide(served)) +
                          " served, " + Utf8FromWide(e.FileVersion) + " listed";
        }
        Outcome(tally, failures, url, problem, r.bodyBytes);
    }
    return Summary(tally, failures);
}

int VerifyQuillet(const Arguments& a, const std::vector<std::uint8_t>& listBytes)
{
    if (a.positional.size() != 3)
        return BadUsage("verify of filelist.list needs the server's address, for example http://updates.example.com:80");
    const std::string server = a.positional[2];
    const std::optional<Target> t = TargetOfUrl(WideFromUtf8(server));
    if (!t)
        return BadUsage(server + " is no http:// address");
    std::string folder = a.folder;
    // http://host:port/Vexaupdate/<folder>/ names the folder too.
    const std::string prefix = "/Vexaupdate/";
    if (t->object.compare(0, prefix.size(), prefix) == 0) {
        std::string rest = t->object.substr(prefix.size());
        if (!rest.empty() && rest.back() == '/')
            rest.pop_back();
        if (!rest.empty() && rest.find('/') == std::string::npos)
            folder = rest;
    } else if (t->object != "/") {
        return BadUsage(server + ": give the server (http://host:port) or its folder (http://host:port/Vexaupdate/NAME)");
    }
    const std::string_view text(reinterpret_cast<const char*>(listBytes.data()), listBytes.size());
    const std::vector<FileEntry> entries = ParseFileList(text);
    std::vector<std::pair<FileEntry, std::string>> fetches;
    for (FileEntry e : entries) {
        e.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
        if (e.kind != ENTRY_FILE || IsSkippedEntry(e))
            continue;
        const std::optional<EntryTarget> target = TargetOf(e, folder);
        if (!target)
            continue;
        std::string path = target->urlPath;
        for (char& c : path) {
            if (c == '\\')
                c = '/';
        }
        fetches.emplace_back(e, path);
    }
    HttpGetOptions options;
    options.timeoutMs = a.timeoutSeconds * 1000;
    VerifyTally tally;
    std::vector<std::string> failures;
    const std::size_t count = fetches.size() + 1;
    std::size_t index = 0;
    const std::optional<EntryTarget> listTarget = FileListTarget(folder);
    if (!listTarget)
        return BadUsage("the folder name " + folder + " is too long for the clients' paths");
    const std::string listPath = listTarget->urlPath;
    {
        Progress(++index, count, listPath);
        HttpGetOptions listOptions = options;
        listOptions.keepBody = true;
        const HttpGetResult r = HttpGet(t->host, t->port, listPath, listOptions);
        Outcome(tally, failures, listPath, CompareServedList(r, listBytes), r.bodyBytes);
    }
    for (const auto& [e, path] : fetches) {
        const std::string shown = Utf8FromGbk(path);
        Progress(++index, count, shown);
        const HttpGetResult r = HttpGet(t->host, t->port, path, options);
        std::string problem = StatusProblem(r);
        if (problem.empty() && !r.head.contentLength)
            problem = "no Content-Length (Quillet refuses such an answer)";
        if (problem.empty() && static_cast<std::int32_t>(r.crc) != e.checksum)
            problem = "checksum " + std::to_string(static_cast<std::int32_t>(r.crc)) + " served, " +
                      std::to_string(e.checksum) + " listed";
        Outcome(tally, failures, shown, problem, r.bodyBytes);
    }
    return Summary(tally, failures);
}

int Verify(const Arguments& a)
{
    if (a.positional.size() < 2 || a.positional.size() > 3)
        return BadUsage("verify needs LIST and an address");
    const std::string file = a.positional[1];
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(PathFromUtf8(file), bytes))
        return BadInput(file, "cannot be read");
    switch (KindOf(file, bytes)) {
    case ListKind::Zorvane: return VerifyZorvane(a, bytes);
    case ListKind::Quillet: return VerifyQuillet(a, bytes);
    case ListKind::Servers: break;
    }
    return BadUsage("verify takes Update.xml or filelist.list");
}

} // namespace

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
    if (argc < 2)
        return BadUsage("no command");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << USAGE;
        return EXIT_OK;
    }
    std::string error;
    const std::optional<Arguments> a = ParseArguments(argc, argv, 1, error);
    if (!a)
        return BadUsage(error);
    if (command == "publish") {
        if (a->positional.size() >= 2 && a->positional[1] == "zorvane")
            return PublishZorvane(*a);
        if (a->positional.size() >= 2 && a->positional[1] == "quillet")
            return PublishQuillet(*a);
        return BadUsage("publish zorvane or publish quillet");
    }
    if (command == "check")
        return Check(*a);
    if (command == "verify")
        return Verify(*a);
    return BadUsage("unknown command " + command);
}
