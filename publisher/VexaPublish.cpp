// vexa-publish: the publisher's release manager. Writes, checks and verifies the
// update lists of a release, and explains what a client will fetch. Each command
// lives in commands/, over the platform-free rules in rules/ and the file,
// XML and socket services in platform/.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Utf8.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

std::vector<Command>& Registered()
{
    static std::vector<Command> commands;
    return commands;
}

// The command whose parser the line selected, or null where it stopped at the
// program or at a group ("publish" without "zorvane").
const Command* Selected(const CLI::App& app, const CLI::App*& deepest)
{
    deepest = &app;
    for (;;) {
        const std::vector<CLI::App*> below = deepest->get_subcommands();
        if (below.empty())
            break;
        deepest = below.front();
    }
    for (const Command& c : Registered()) {
        if (c.app == deepest)
            return &c;
    }
    return nullptr;
}

// The option's own name in an option given with "=value".
std::string OptionName(const std::string& given)
{
    return given.substr(0, given.find('='));
}

// Words of the command line for what the parser refused.
std::string Why(const CLI::ParseError& e)
{
    const std::string text = e.what();
    const std::size_t colon = text.find(": ");
    const std::string name = colon == std::string::npos ? text : text.substr(0, colon);
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
        if (text.find("At Most") != std::string::npos)
            return name + " is given twice";
        return name + " needs a value";
    }
    if (dynamic_cast<const CLI::ValidationError*>(&e) && colon != std::string::npos)
        return name + " " + text.substr(colon + 2);
    return text;
}

// An option that this command does not take: one that another command takes
// does not apply here; any other is unknown.
std::string WhyNot(const std::string& given, const std::string& command)
{
    const std::string name = OptionName(given);
    for (const Command& c : Registered()) {
        for (const CLI::Option* o : c.app->get_options()) {
            if (o->check_name(name))
                return o->get_name() + " does not apply to " + command;
        }
    }
    return "unknown option " + name;
}

// A command's lines of the usage: each of its own forms indented by two.
std::string Synopsis(const Command& c)
{
    std::string lines;
    std::size_t from = 0;
    while (from < c.synopsis.size()) {
        std::size_t end = c.synopsis.find('\n', from);
        if (end == std::string::npos)
            end = c.synopsis.size();
        const std::string line = c.synopsis.substr(from, end - from);
        lines += (line.rfind("vexa-publish ", 0) == 0 ? "  " : "") + line + "\n";
        from = end + 1;
    }
    return lines;
}

// A command's help: its usage as the program's usage gives it, then its options
// as the parser knows them.
class CHelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        for (const Command& c : Registered()) {
            if (c.app == app)
                return "usage:\n" + Synopsis(c);
        }
        return CLI::Formatter::make_usage(app, name);
    }
    // The usage names them.
    std::string make_positionals(const CLI::App*) const override { return std::string(); }
};

void AddCommands(CLI::App& app)
{
    // Set before the commands are added: each takes its parent's on creation.
    app.formatter(std::make_shared<CHelpFormatter>());
    std::vector<Command>& commands = Registered();
    AddPublishCommands(app, commands);
    AddCopyCommand(app, commands);
    AddCheckCommand(app, commands);
    AddVerifyCommand(app, commands);
    AddPlanCommand(app, commands);
    AddFleetCommands(app, commands);
    AddReportCommand(app, commands);
    // Whatever a command does not take is looked at after the parse, so that
    // the refusal can say whether it belongs to another command.
    app.allow_extras();
    for (CLI::App* group : app.get_subcommands([](const CLI::App*) { return true; })) {
        group->allow_extras();
        for (CLI::App* sub : group->get_subcommands([](const CLI::App*) { return true; }))
            sub->allow_extras();
    }
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

} // namespace

std::string Usage()
{
    std::string usage = "usage:\n";
    for (const Command& c : Registered()) {
        usage += Synopsis(c);
    }
    usage += "  vexa-publish COMMAND --help   (the options of one command)\n"
             "exit codes: 0 ok; 1 problems found (plan: files would be fetched; report: over --fail-over);\n"
             "            2 bad input; 3 verify failed or a server cannot be reached (rollout, push: nothing switched)\n";
    return usage;
}

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
    CLI::App app("the publisher's release manager", "vexa-publish");
    AddCommands(app);
    if (argc < 2)
        return BadUsage("no command");
    if (argc == 2 && std::string(argv[1]) == "help") {
        std::cout << Usage();
        return EXIT_OK;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const CLI::App* deepest = nullptr;
        Selected(app, deepest);
        if (deepest == &app)
            std::cout << Usage();
        else
            std::cout << deepest->help() << "\n";
        return EXIT_OK;
    } catch (const CLI::ParseError& e) {
        return BadUsage(Why(e));
    }
    const CLI::App* deepest = nullptr;
    const Command* command = Selected(app, deepest);
    const std::vector<std::string> extras = deepest->remaining();
    if (!command) {
        if (deepest == &app)
            return BadUsage(extras.empty() ? "no command"
                            : extras.front()[0] == '-' ? "unknown option " + OptionName(extras.front())
                                                       : "unknown command " + extras.front());
        std::string choices;
        for (const Command& c : Registered()) {
            if (c.app->get_parent() == deepest)
                choices += (choices.empty() ? "" : " or ") + c.name;
        }
        return BadUsage(choices);
    }
    if (!extras.empty())
        return BadUsage(extras.front()[0] == '-' ? WhyNot(extras.front(), command->name)
                                                 : command->name + " takes no argument " + extras.front());
    return command->run();
}
