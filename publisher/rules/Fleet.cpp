#include "Fleet.h"

#include <map>
#include <sstream>

#include "Shares.h"

namespace {

std::string Trim(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return std::string();
    const std::size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

bool IsHttpUrl(const std::string& url)
{
    return url.rfind("http://", 0) == 0 && url.size() > 7 && url.find('/', 7) == std::string::npos;
}

} // namespace

std::optional<Fleet> ReadFleet(std::string_view text, const std::string& file, CReport& report)
{
    Fleet fleet;
    FleetServer self;
    self.name = "this server";
    std::vector<FleetServer> mirrors;
    FleetServer* section = &self;
    std::map<std::string, int> seen; // key in its section, for "given twice"
    std::istringstream in{std::string(text)};
    std::string line;
    int number = 0;
    const std::size_t errorsBefore = report.Count(Severity::Error);
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const std::string inner = line.back() == ']' ? Trim(line.substr(1, line.size() - 2)) : std::string();
            if (inner.rfind("mirror ", 0) != 0 || !IsReleaseName(Trim(inner.substr(7)))) {
                report.Error(file, number, "a section is [mirror NAME] (letters, digits, \".\", \"-\", \"_\")");
                continue;
            }
            FleetServer m;
            m.name = Trim(inner.substr(7));
            m.mirror = true;
            for (const FleetServer& other : mirrors) {
                if (other.name == m.name)
                    report.Error(file, number, "the mirror " + m.name + " is named twice");
            }
            mirrors.push_back(m);
            section = &mirrors.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            report.Error(file, number, "a setting is KEY = VALUE");
            continue;
        }
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (seen[section->name + "\n" + key]++ > 0)
            report.Error(file, number, key + " is given twice");
        if (key == "root")
            section->root = value;
        else if (key == "url")
            section->url = value;
        else if (key == "nginx-conf")
            section->nginxConf = value;
        else if (key == "reload")
            section->reload = value;
        else if (key == "salt" && section == &self)
            fleet.salt = value;
        else
            report.Error(file, number, "unknown setting " + key + (section == &self ? "" : " for a mirror"));
        if (key == "url" && !IsHttpUrl(value))
            report.Error(file, number, "url is http://host or http://host:port, without a path");
        if (key == "salt" && !IsSalt(value))
            report.Error(file, number, "the salt is letters, digits, \".\", \"-\" and \"_\"");
    }
    if (self.root.empty())
        report.Error(file, 0, "root names no folder: the tree where the releases are kept");
    if (!self.url.empty() && self.nginxConf.empty())
        report.Error(file, 0, "this server has a url but no nginx-conf: where its nginx reads the shares");
    for (const FleetServer& m : mirrors) {
        if (m.root.empty() || m.url.empty() || m.nginxConf.empty())
            report.Error(file, 0, "the mirror " + m.name + " needs root, url and nginx-conf");
    }
    if (self.url.empty() && mirrors.empty())
        report.Error(file, 0, "no server: give this server's url, or a mirror");
    if (report.Count(Severity::Error) > errorsBefore)
        return std::nullopt;
    fleet.root = self.root;
    if (!self.url.empty())
        fleet.servers.push_back(self);
    for (FleetServer& m : mirrors)
        fleet.servers.push_back(std::move(m));
    return fleet;
}
