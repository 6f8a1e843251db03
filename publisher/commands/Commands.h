#pragma once

// What the commands of vexa-publish share: exit codes, the options that several
// commands take, how a command joins the command line, and the reading of lists
// and addresses.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "QuilletList.h"

class CReport;

namespace CLI {
class App;
}

// Exit codes, documented in docs/publishing.md.
constexpr int EXIT_OK = 0;
constexpr int EXIT_PROBLEMS = 1;  // written or read, but something needs a look; plan: files would be fetched
constexpr int EXIT_BAD_INPUT = 2; // bad command line, missing folder, unreadable or malformed input
constexpr int EXIT_VERIFY = 3;    // the server does not serve what the list says, or cannot be reached

// The options of the list commands (publish, copy, check, verify, plan); each
// command binds the ones it takes.
struct Arguments {
    std::vector<std::string> positional; // after the command's name
    std::optional<std::string> output;
    std::optional<std::string> previous;
    std::optional<std::string> release;
    std::optional<std::string> folder; // given on the command line
    std::size_t installFolderLength = QuilletOptions{}.installFolderLength;
    int timeoutSeconds = 30;
    std::optional<std::string> fleet;  // plan: LIST names a release of this fleet
    std::optional<std::string> player; // plan: whose share

    std::string Folder() const { return folder.value_or("plat"); }
};

// A command as the command line knows it: its parser, its words for a wrong
// count of arguments, and what runs it once the line is parsed.
struct Command {
    std::string name;     // "publish zorvane"
    std::string synopsis; // its lines of the usage, each starting with "vexa-publish "
    CLI::App* app = nullptr;
    std::function<int()> run;
};

// Each adds its command (or commands) below the program's parser.
void AddPublishCommands(CLI::App& app, std::vector<Command>& commands);
void AddCopyCommand(CLI::App& app, std::vector<Command>& commands);
void AddCheckCommand(CLI::App& app, std::vector<Command>& commands);
void AddVerifyCommand(CLI::App& app, std::vector<Command>& commands);
void AddPlanCommand(CLI::App& app, std::vector<Command>& commands);
void AddFleetCommands(CLI::App& app, std::vector<Command>& commands);
void AddReportCommand(CLI::App& app, std::vector<Command>& commands);

// Options bound the same way by every command that takes them, with the checks
// and words of the command line.
void AddOutputOption(CLI::App& app, Arguments& a);
void AddPreviousOption(CLI::App& app, Arguments& a);
void AddReleaseOption(CLI::App& app, Arguments& a, const char* what);
void AddFolderOption(CLI::App& app, Arguments& a);
void AddInstallFolderLengthOption(CLI::App& app, Arguments& a);
void AddTimeoutOption(CLI::App& app, Arguments& a);
void AddPositionals(CLI::App& app, Arguments& a, const char* names);

// "vexa-publish: why" and the usage, on the error stream; EXIT_BAD_INPUT.
int BadUsage(const std::string& why);
// The findings on the error stream; the exit code they call for.
int FinishReport(const CReport& report, bool withNotes);
// "vexa-publish: why" alone, for a request the state refuses; EXIT_BAD_INPUT.
int Refuse(const std::string& why);
// "file: error: why"; EXIT_BAD_INPUT.
int BadInput(const std::string& file, const std::string& why);
// The usage: every command's synopsis and the exit codes.
std::string Usage();

enum class ListKind { Zorvane, Quillet, Servers };

// By the name's extension (.xml, .list, .ini), else by the first byte that is no
// blank or byte-order mark ("<" for Update.xml).
ListKind KindOf(const std::string& file, const std::vector<std::uint8_t>& bytes);

// An http:// address split for a socket.
struct Target {
    std::string host;
    std::uint16_t port = 80;
    std::string object;
};
std::optional<Target> TargetOfUrl(const std::string& url);

// Where Quillet's list is and which update folder its files are fetched from:
// the server (http://host:port), its folder (http://host:port/Vexaupdate/NAME/)
// or the list's own address (http://host:port/Vexaupdate/NAME/filelist.list, or
// a staged name anywhere on the server), each also below a fleet's release
// (http://host:port/releases/2.0.14/Vexaupdate/NAME/). The folder is NAME where
// the address names one, else --folder.
struct QuilletSource {
    std::string label; // for the output
    Target server;
    std::string listPath;
    std::string folder;
    // Before every path of the folder: "/releases/NAME" for a release of a
    // fleet read by its own address rather than the one its players are routed to.
    std::string prefix;
};
std::optional<QuilletSource> QuilletSourceOf(const std::string& address, const Arguments& a, std::string& error);

// The bytes at an address, as the clients fetch them; false with the reason.
bool FetchList(const Target& t, bool zorvaneHeaders, int timeoutSeconds, std::vector<std::uint8_t>& bytes,
               std::string& error);

// The path of a Quillet entry below its release folder, in UTF-8 with "/".
std::string ReleasePathOf(const FileEntry& e);

// The request target Quillet sends for a download-list path: "\" becomes "/"
// and a blank "%20", as its Internet functions write them; every other byte,
// GBK included, goes as it is.
std::string QuilletRequestTarget(const std::string& urlPath);
