#include "PublishRules.h"

#include <cstddef>

#include "GbkText.h"

namespace {

std::string_view Trim(std::string_view s)
{
    const char* space = " \t\r";
    const std::size_t b = s.find_first_not_of(space);
    if (b == std::string_view::npos)
        return {};
    const std::size_t e = s.find_last_not_of(space);
    return s.substr(b, e - b + 1);
}

// Glob over one text; "*" stops at "/" unless it is "**".
bool Match(std::string_view p, std::string_view s)
{
    if (p.empty())
        return s.empty();
    if (p.substr(0, 2) == "**") {
        std::string_view rest = p.substr(2);
        // "**/" also matches no folder at all.
        if (!rest.empty() && rest[0] == '/' && Match(rest.substr(1), s))
            return true;
        for (std::size_t i = 0; i <= s.size(); ++i) {
            if (Match(rest, s.substr(i)))
                return true;
        }
        return false;
    }
    if (p[0] == '*') {
        for (std::size_t i = 0; i <= s.size(); ++i) {
            if (Match(p.substr(1), s.substr(i)))
                return true;
            if (i < s.size() && s[i] == '/')
                break;
        }
        return false;
    }
    if (s.empty())
        return false;
    if (p[0] == '?' ? s[0] != '/' : EqualNoCase(p.substr(0, 1), s.substr(0, 1)))
        return Match(p.substr(1), s.substr(1));
    return false;
}

std::optional<bool> ParseYesNo(std::string_view v)
{
    if (EqualNoCase(v, "YES"))
        return true;
    if (EqualNoCase(v, "NO"))
        return false;
    return std::nullopt;
}

} // namespace

bool MatchPattern(std::string_view pattern, std::string_view path)
{
    if (pattern.find('/') == std::string_view::npos) {
        const std::size_t slash = path.rfind('/');
        return Match(pattern, slash == std::string_view::npos ? path : path.substr(slash + 1));
    }
    return Match(pattern, path);
}

FileRule PublishRules::RuleFor(std::string_view path)
{
    FileRule merged;
    for (RuleSection& s : sections) {
        if (!MatchPattern(s.pattern, path))
            continue;
        s.used = true;
        const FileRule& r = s.rule;
        if (r.installDir) merged.installDir = r.installDir;
        if (r.localPath) merged.localPath = r.localPath;
        if (r.registerFile) merged.registerFile = r.registerFile;
        if (r.execute) merged.execute = r.execute;
        if (r.executePar) merged.executePar = r.executePar;
        if (r.compare) merged.compare = r.compare;
        if (r.skip) merged.skip = r.skip;
    }
    return merged;
}

std::optional<PublishRules> ParsePublishRules(std::string_view text, const std::string& file, CReport& report)
{
    PublishRules rules;
    rules.file = file;
    bool ok = true;
    int lineNo = 0;
    std::size_t pos = 0;
    RuleSection* section = nullptr;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
            line = Trim(line.substr(3));
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const auto error = [&](const std::string& what) {
            report.Error(file, lineNo, what);
            ok = false;
        };
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                error("a section is a path pattern in brackets, for example [*.dll]");
                continue;
            }
            std::string_view pattern = Trim(line.substr(1, line.size() - 2));
            if (pattern.empty() || pattern[0] == '/' || pattern.find('\\') != std::string_view::npos) {
                error("a pattern is a path below the release folder with \"/\" between folders");
                continue;
            }
            rules.sections.push_back(RuleSection{std::string(pattern), lineNo, FileRule{}, false});
            section = &rules.sections.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            error("expected KEY = VALUE, a [pattern] or a # comment");
            continue;
        }
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (EqualNoCase(key, "BaseUrl")) {
            if (section) {
                error("BaseUrl belongs before the first [pattern]");
                continue;
            }
            if (value.substr(0, 7) != "http://") {
                error("BaseUrl must be an http:// address (the clients fetch with plain HTTP)");
                continue;
            }
            rules.baseUrl = std::string(value);
            if (rules.baseUrl.back() != '/')
                rules.baseUrl.push_back('/');
            continue;
        }
        if (!section) {
            error("\"" + std::string(key) + "\" must follow a [pattern]");
            continue;
        }
        FileRule& r = section->rule;
        if (EqualNoCase(key, "InstallDir")) {
            if (!EqualNoCase(value, "CURRENTDIR") && !EqualNoCase(value, "WINDOWSDIR") &&
                !EqualNoCase(value, "SYSTEMDIR")) {
                error("InstallDir is CURRENTDIR, WINDOWSDIR or SYSTEMDIR (clients put any other word in their own folder)");
                continue;
            }
            r.installDir = std::string(value);
        } else if (EqualNoCase(key, "LocalPath")) {
            if (value.find('/') != std::string_view::npos) {
                error("LocalPath separates folders with \"\\\", as the clients join it");
                continue;
            }
            r.localPath = std::string(value);
        } else if (EqualNoCase(key, "ExecutePar")) {
            r.executePar = std::string(value);
        } else if (EqualNoCase(key, "Register") || EqualNoCase(key, "Execute") || EqualNoCase(key, "Skip")) {
            const std::optional<bool> flag = ParseYesNo(value);
            if (!flag) {
                error(std::string(key) + " is YES or NO");
                continue;
            }
            if (EqualNoCase(key, "Register"))
                r.registerFile = flag;
            else if (EqualNoCase(key, "Execute"))
                r.execute = flag;
            else
                r.skip = flag;
        } else if (EqualNoCase(key, "Compare")) {
            if (EqualNoCase(value, "version"))
                r.compare = CompareBy::Version;
            else if (EqualNoCase(value, "time"))
                r.compare = CompareBy::Time;
            else if (EqualNoCase(value, "auto"))
                r.compare = CompareBy::Auto;
            else {
                error("Compare is version, time or auto");
                continue;
            }
        } else {
            error("unknown key \"" + std::string(key) +
                  "\" (known: BaseUrl, InstallDir, LocalPath, Register, Execute, ExecutePar, Compare, Skip)");
        }
    }
    if (ok && rules.baseUrl.empty()) {
        report.Error(file, 0, "no BaseUrl: the list needs the address its files are fetched from");
        ok = false;
    }
    if (!ok)
        return std::nullopt;
    return rules;
}
