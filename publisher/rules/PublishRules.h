#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Report.h"

// The rules file of "publish zorvane": the base download address and, per path
// pattern, how the clients install a file.
//
//   # comment
//   BaseUrl = http://updates.example.com/files/
//   [*.dll]
//   Register = YES
//   [bin/**]
//   LocalPath = bin
//
// A pattern without "/" matches the file name in any folder; one with "/" matches
// the whole path below the release folder. "*" matches within one folder name,
// "**" any number of folders, "?" one character. Every section whose pattern
// matches applies, in file order, so a later section overrides an earlier one.

enum class CompareBy { Auto, Version, Time };

// What the sections set for one file; unset fields keep their defaults.
struct FileRule {
    std::optional<std::string> installDir;
    std::optional<std::string> localPath;
    std::optional<bool> registerFile;
    std::optional<bool> execute;
    std::optional<std::string> executePar;
    std::optional<CompareBy> compare;
    std::optional<bool> skip;
};

struct RuleSection {
    std::string pattern;
    int line = 0;
    FileRule rule;
    bool used = false;
};

struct PublishRules {
    std::string file;    // the rules file, for findings
    std::string baseUrl; // ends in "/"
    std::vector<RuleSection> sections;

    // The merged rule for a path below the release folder ("/" separated); marks
    // the sections that matched as used.
    FileRule RuleFor(std::string_view path);
};

// Reads a rules file's text; errors (with the line) go to the report and make the
// answer empty. file names the file in the findings.
std::optional<PublishRules> ParsePublishRules(std::string_view text, const std::string& file, CReport& report);

// The glob match described above.
bool MatchPattern(std::string_view pattern, std::string_view path);
