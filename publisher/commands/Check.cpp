// check: a list as the clients read it, entry by entry.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "QuilletList.h"
#include "ReleaseFolder.h"
#include "Report.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"

namespace {

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
    const int rc = FinishReport(report, true);
    std::cout << file << ": " << report.Count(Severity::Error) << " errors, " << report.Count(Severity::Warning)
              << " warnings\n";
    return rc == EXIT_BAD_INPUT ? EXIT_PROBLEMS : rc;
}

} // namespace

void AddCheckCommand(CLI::App& app, std::vector<Command>& commands)
{
    auto a = std::make_shared<Arguments>();
    CLI::App* check = app.add_subcommand("check", "read a list with the clients' rules and name every problem");
    AddPositionals(*check, *a, "FILE");
    AddFolderOption(*check, *a);
    AddInstallFolderLengthOption(*check, *a);
    commands.push_back({"check",
                        "vexa-publish check FILE [--folder NAME] [--install-folder-length N]\n"
                        "                               (FILE: Update.xml, filelist.list or updatelist.ini)",
                        check, [a] { return Check(*a); }});
}
