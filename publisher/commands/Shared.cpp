// What the commands share: their options as the command line binds them, the
// words of a bad command line, and the reading of lists and addresses.
#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "HttpGet.h"
#include "ListRules.h"
#include "ReleaseFolder.h"
#include "Report.h"
#include "UpdateRules.h"
#include "Url.h"
#include "GbkText.h"
#include "Utf8.h"

namespace {

// A value of digits only, at most four of them.
std::string NumberCheck(const std::string& value)
{
    if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos)
        return "needs a number";
    return std::string();
}

} // namespace

void AddOutputOption(CLI::App& app, Arguments& a)
{
    app.add_option("-o,--output", a.output, "the list to write (default: beside the release folder)")
        ->type_name("FILE");
}

void AddPreviousOption(CLI::App& app, Arguments& a)
{
    app.add_option("--previous", a.previous, "the list now live: say what changes for the clients")
        ->type_name("FILE");
}

void AddReleaseOption(CLI::App& app, Arguments& a, const char* what)
{
    app.add_option("--release", a.release, what)->type_name("DIR");
}

void AddFolderOption(CLI::App& app, Arguments& a)
{
    app.add_option("--folder", a.folder, "Quillet's update folder on the server (default plat)")
        ->check(CLI::Validator(
            [](const std::string& v) {
                return v.empty() || v.find_first_of(",/\\:") != std::string::npos
                           ? "needs a folder name without \",\", \"/\", \"\\\" or \":\""
                           : "";
            },
            ""))
        ->type_name("NAME");
}

void AddInstallFolderLengthOption(CLI::App& app, Arguments& a)
{
    app.add_option_function<std::string>(
           "--install-folder-length",
           [&a](const std::string& v) { a.installFolderLength = static_cast<std::size_t>(std::stoul(v)); },
           "bytes of the players' install folder, for the length checks (default 24)")
        ->check(CLI::Validator(NumberCheck, ""))
        ->type_name("N");
}

void AddTimeoutOption(CLI::App& app, Arguments& a)
{
    app.add_option_function<std::string>(
           "--timeout", [&a](const std::string& v) { a.timeoutSeconds = std::max(1, std::stoi(v)); },
           "seconds that each read may take (default 30)")
        ->check(CLI::Validator(NumberCheck, ""))
        ->type_name("SECONDS");
}

void AddPositionals(CLI::App& app, Arguments& a, const char* names)
{
    app.add_option("args", a.positional, names);
}

int FinishReport(const CReport& report, bool withNotes)
{
    report.Print(std::cerr, withNotes);
    if (report.Count(Severity::Error) > 0)
        return EXIT_BAD_INPUT;
    return report.HasProblems() ? EXIT_PROBLEMS : EXIT_OK;
}

int BadUsage(const std::string& why)
{
    std::cerr << "vexa-publish: " << why << "\n" << Usage();
    return EXIT_BAD_INPUT;
}

int Refuse(const std::string& why)
{
    std::cerr << "vexa-publish: " << why << "\n";
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
    // A release of a fleet, by its own address: /releases/NAME/Vexaupdate/...
    std::string object = t->object;
    const std::string releases = "/releases/";
    const std::size_t vexaupdate = object.find("/Vexaupdate/");
    if (object.compare(0, releases.size(), releases) == 0 && vexaupdate != std::string::npos &&
        object.find('/', releases.size()) == vexaupdate) {
        s.prefix = object.substr(0, vexaupdate);
        object = object.substr(vexaupdate);
    }
    const std::string prefix = "/Vexaupdate/";
    if (object.compare(0, prefix.size(), prefix) == 0) {
        const std::string rest = object.substr(prefix.size());
        const std::size_t slash = rest.find('/');
        if (slash != 0 && !rest.empty())
            named = rest.substr(0, slash);
        // The folder itself, with or without its "/".
        if (slash == std::string::npos || slash + 1 == rest.size())
            s.listPath.clear();
        else
            s.listPath = t->object;
    } else if (object != "/") {
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
        s.listPath = s.prefix + live->urlPath;
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
