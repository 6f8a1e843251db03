// docs/publishing.md as a publisher follows it: every command of its sh blocks,
// in order, as written, against real nginx servers configured with the page's
// own nginx block. The page's world is made real in a temporary folder: HOME
// holds a copy of the sources (~/src/vexa) and the release folders
// (~/vexa-releases); the main server's /srv/vexa and /etc/nginx/conf.d, and
// each mirror's (reached by rsync as host:path and by ssh to reload its nginx),
// are folders of the test; updates.example.com is an nginx on 127.0.0.1, the
// mirrors' nginx servers listen on 127.0.0.2 and 127.0.0.3, all on one port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ReleaseBuilder.h"
#include "ReleaseFolder.h"

namespace {

const std::string SOURCE = VEXA_SOURCE_DIR;
const std::string PORT = std::to_string(VEXA_PUBLISHING_PORT);

// One command of the page: lines joined where they continue, a here-document whole.
std::vector<std::string> PageCommands(const std::string& page)
{
    std::vector<std::string> commands;
    std::istringstream in(page);
    std::string line;
    bool inBlock = false;
    std::string pending;
    std::string heredocEnd;
    while (std::getline(in, line)) {
        if (!inBlock) {
            inBlock = line == "```sh";
            continue;
        }
        if (!heredocEnd.empty()) {
            pending += "\n" + line;
            if (line == heredocEnd) {
                commands.push_back(pending);
                pending.clear();
                heredocEnd.clear();
            }
            continue;
        }
        if (line == "```") {
            inBlock = false;
            continue;
        }
        if (pending.empty() && (line.empty() || line[0] == '#'))
            continue;
        pending += (pending.empty() ? "" : "\n") + line;
        const std::size_t here = line.find("<<'");
        if (here != std::string::npos) {
            heredocEnd = line.substr(here + 3, line.find('\'', here + 3) - here - 3);
            continue;
        }
        if (!line.empty() && line.back() == '\\')
            continue;
        commands.push_back(pending);
        pending.clear();
    }
    return commands;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct Server {
    const char* name;
    const char* address;
};
const Server SERVERS[] = {{"main", "127.0.0.1"}, {"east", "127.0.0.2"}, {"west", "127.0.0.3"}};

// The page's nginx block.
std::string NginxBlock(const std::string& page)
{
    const std::size_t start = page.find("```nginx\n");
    if (start == std::string::npos)
        return std::string();
    const std::size_t from = start + 9;
    return page.substr(from, page.find("```", from) - from);
}

// What a command must answer: its exit code and fragments of its output; the
// n-th time the page gives a command that contains the key (from 1).
struct Expectation {
    std::string key;
    int occurrence;
    int exitCode;
    std::vector<std::string> fragments;
    int met = 0;
};

class PublishingPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_home = m_dir.Path() / "home";
        m_srv = m_dir.Path() / "srv/vexa";
        std::filesystem::create_directories(m_home / "src/vexa");
        std::filesystem::create_directories(m_srv);
        // The sources, without build folders: production addresses stay in the copy.
        std::string output;
        ASSERT_EQ(RunCommand("tar -C '" + SOURCE + "' --exclude=./build --exclude=./.git -cf - . | tar -C '" +
                                 (m_home / "src/vexa").string() + "' -xf -",
                             output),
                  0)
            << output;
        MakeReleases();
    }

    void TearDown() override
    {
        std::string output;
        for (const Server& s : SERVERS)
            RunCommand("'" + SOURCE + "/scripts/nginx-serve' stop '" + (m_dir / s.name / "nginx").string() + "'", output);
    }

    // The page's nginx block as one server runs it, and the script that stands
    // for "nginx -s reload" there: the first one starts that server.
    void MakeServer(const Server& server, const std::string& block)
    {
        const std::filesystem::path dir = m_dir / server.name;
        std::filesystem::create_directories(dir / "conf.d");
        const std::filesystem::path tree = TreeOf(server);
        std::string site = block;
        site = Replace(site, "listen 80;", "listen " + std::string(server.address) + ":" + PORT + ";");
        site = Replace(site, "/var/log/nginx/vexa-access.log", (dir / "access.log").string());
        site = Replace(site, "/srv/vexa", tree.string());
        std::ofstream(dir / "site.conf") << "include " << (dir / "conf.d/vexa-shares.conf").string() << ";\n" << site;
        const std::string serve = "'" + SOURCE + "/scripts/nginx-serve'";
        const std::string state = "'" + (dir / "nginx").string() + "'";
        std::ofstream(dir / "reload.sh") << "if [ -s " << state << "/nginx.pid ]; then exec " << serve << " reload "
                                         << state << "; fi\n"
                                         << "mkdir -p '" << tree.string() << "'\n"
                                         << "VEXA_NGINX_SITE='" << (dir / "site.conf").string()
                                         << "' VEXA_NGINX_ADDRESS=" << server.address << " exec " << serve
                                         << " start " << state << " '" << tree.string() << "' " << PORT << "\n";
    }

    std::filesystem::path TreeOf(const Server& server) const
    {
        return std::string(server.name) == "main" ? m_srv : m_dir / server.name / "srv";
    }

    // What the game's build put into ~/vexa-releases, and copies of a player's
    // client and game center that updated to 2.0.14.
    void MakeReleases()
    {
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        const std::int64_t t13 = now - 10 * 86400;
        const std::int64_t t14 = now - 5 * 86400;
        const std::int64_t installed = now - 2 * 86400;
        const std::filesystem::path r = m_home / "vexa-releases";
        for (const char* release : {"release-2.0.13", "release-2.0.14", "player-copy"}) {
            const bool v14 = std::string(release) != "release-2.0.13";
            const bool player = std::string(release) == "player-copy";
            const auto at = [&](std::int64_t t) { return player ? installed : t; };
            WriteFileAt(r / release / "Vexa.exe", VersionedImage(v14 ? FileVersion{2, 0, 14, 2} : FileVersion{2, 0, 13, 5}),
                        at(v14 ? t14 : t13));
            WriteFileAt(r / release / "Helper.dll", VersionedImage({1, 0, 0, 3}), at(t13));
            WriteFileAt(r / release / "config.ini", SomeBytes(60, 1), at(t13));
            WriteFileAt(r / release / "data/cards.dat", SomeBytes(50000, v14 ? 3 : 2), at(v14 ? t14 : t13));
            WriteFileAt(r / release / "data/rules.txt", SomeBytes(300, 4), at(t13));
        }
        for (const char* center : {"center-2.0.13", "center-2.0.14", "center-copy"}) {
            const bool v14 = std::string(center) != "center-2.0.13";
            WriteFileAt(r / center / "config.ini", SomeBytes(40, 5), t13);
            WriteFileAt(r / center / "data/levels.dat", SomeBytes(30000, v14 ? 7 : 6), v14 ? t14 : t13);
            WriteFileAt(r / center / "skins/hall.bmp", SomeBytes(9000, 8), t13);
            WriteFileAt(r / center / "\xE8\xA7\x84\xE5\x88\x99.txt", SomeBytes(20, 9), t13); // 规则.txt
        }
    }

    // The page's command in this world.
    std::string Localised(std::string command) const
    {
        for (const Server& m : SERVERS) {
            if (std::string(m.name) == "main")
                continue;
            const std::string host = std::string(m.name) + ".example.com";
            const std::filesystem::path dir = m_dir / m.name;
            command = Replace(command, host + ":/etc/nginx/conf.d/", (dir / "conf.d").string() + "/");
            command = Replace(command, host + ":/srv/vexa", TreeOf(m).string());
            command = Replace(command, host + ":/var/log/nginx/vexa-access.log", (dir / "access.log").string());
            command = Replace(command, "ssh " + host + " nginx -s reload", "bash '" + (dir / "reload.sh").string() + "'");
            command = Replace(command, "http://" + std::string(m.name) + ".updates.example.com",
                              "http://" + std::string(m.address) + ":" + PORT);
            command = Replace(command, std::string(m.name) + ".updates.example.com;80", std::string(m.address) + ";" + PORT);
        }
        command = Replace(command, "updates.example.com;80", "127.0.0.1;" + PORT);
        command = Replace(command, "http://updates.example.com", "http://127.0.0.1:" + PORT);
        command = Replace(command, "/etc/nginx/conf.d/", (m_dir / "main/conf.d").string() + "/");
        command = Replace(command, "/var/log/nginx/vexa-access.log", (m_dir / "main/access.log").string());
        command = Replace(command, "nginx -s reload", "bash '" + (m_dir / "main/reload.sh").string() + "'");
        return Replace(command, "/srv/vexa", m_srv.string());
    }

    int RunInPage(const std::string& command, std::string& output)
    {
        const std::filesystem::path script = m_dir / "step.sh";
        {
            std::ofstream out(script, std::ios::binary | std::ios::trunc);
            out << "cd '" << m_cwd.string() << "' || exit 97\n" << command << "\n";
        }
        return RunCommand("env HOME='" + m_home.string() + "' PATH='" + (m_home / ".local/bin").string() +
                              ":/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin' bash '" + script.string() + "'",
                          output);
    }

    TempDir m_dir;
    std::filesystem::path m_home;
    std::filesystem::path m_srv;
    std::filesystem::path m_cwd;
};

TEST_F(PublishingPageTest, EveryCommandRunsAsWritten)
{
    std::ifstream in(SOURCE + "/docs/publishing.md", std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream page;
    page << in.rdbuf();
    const std::vector<std::string> commands = PageCommands(page.str());
    ASSERT_GT(commands.size(), 40u);

    const std::string block = NginxBlock(page.str());
    ASSERT_NE(block.find("server {"), std::string::npos);
    for (const Server& server : SERVERS)
        MakeServer(server, block);

    const std::string ok = "the server serves the list as published";
    std::vector<Expectation> expected = {
        {"vexa-publish --help", 1, 0, {"vexa-publish plan CLIENT_DIR", "vexa-publish rollout RELEASE PERCENT"}},
        {"grep ZORVANE_", 1, 0, {"ZORVANE_UPDATE_LIST_URL:STRING=http://127.0.0.1:" + PORT + "/Update.xml"}},
        {"check updatelist.ini", 1, 0, {"picked on 33."}},
        {"vexa-publish status", 2, 0, {"3 servers", "no release is live"}},
        {"copy quillet center-2.0.13", 1, 0, {"copied 4 of 4 files", "(1 named in GBK)"}},
        {"publish zorvane release-2.0.13", 1, 0, {"5 files, 2 compared by version, 3 by file time"}},
        {"publish quillet center-2.0.13", 1, 0, {"4 files, 2 folders"}},
        {"verify /srv/vexa/releases/2.0.13/Update.xml", 1, 0, {ok, "6 fetched, 6 ok"}},
        {"verify /srv/vexa/releases/2.0.13/Vexaupdate/plat/filelist.list http", 1, 0, {ok, "5 fetched, 5 ok"}},
        {"rollout 2.0.13 100%", 1, 0, {"east: switched", "west: switched", "2.0.13 100.00%"}},
        {"filelist.list updatelist.ini", 1, 0, {"every server serves the list as published", "3 servers"}},
        {"publish zorvane release-2.0.14", 1, 0,
         {"once it goes live: 0 added, 2 changed, 3 unchanged, 0 removed (clients keep removed files); a client "
          "holding the previous release downloads 2 files",
          "  fetched: Vexa.exe, data\\cards.dat\n"}},
        {"publish quillet center-2.0.14", 1, 0, {"0 added, 1 changed, 3 unchanged, 0 removed", "29.3 KB (30000 bytes)"}},
        {"rollout 2.0.14 10% --dry-run", 1, 0, {"dry run, nothing switched", "fetched: Vexa.exe, data\\cards.dat"}},
        {"rollout 2.0.14 10%", 2, 0, {"2.0.14 10.00%, 2.0.13 90.00%"}},
        {"vexa-publish report", 1, 0, {"players per release and share", "fail-over 5.00%", "wrote rollout-2.0.14.html"}},
        {"halt 2.0.14", 1, 0, {"(halted)"}},
        {"complete 2.0.14", 1, 0, {"2.0.14 100.00%"}},
        {"publish zorvane release-2.0.13 rules-2.0.15.txt", 1, 0,
         {"fetched: Vexa.exe, data\\cards.dat", "instead of a version that does not rise: Vexa.exe"}},
        {"publish quillet center-2.0.13 -o /srv/vexa/releases/2.0.15", 1, 0, {"0 added, 1 changed, 3 unchanged, 0 removed"}},
        {"plan player-copy 2.0.15 --fleet", 1, 1,
         {"fetch     Vexa.exe: older by time", "leave     Helper.dll: same or higher version (local 1.0.0.3, listed 1.0.0.3)",
          "fetch     data\\cards.dat: older by time", "plan: 2 of 5 files would be fetched"}},
        {"plan center-copy /srv/vexa/releases/2.0.15", 1, 1,
         {"fetch     data\\levels.dat: checksum differs", "plan: 1 of 4 files would be fetched, 29.3 KB (30000 bytes)"}},
        {"complete 2.0.15", 1, 0, {"2.0.15 100.00%"}},
        {"plan player-copy http://updates.example.com/Update.xml", 1, 1, {"plan: 2 of 5 files would be fetched"}},
    };
    std::map<std::string, int> seen;
    m_cwd = m_home;
    for (const std::string& written : commands) {
        const std::string command = Localised(written);
        std::string output;
        if (command.rfind("cd ", 0) == 0) {
            ASSERT_EQ(RunInPage(command + " && pwd", output), 0) << written << "\n" << output;
            m_cwd = output.substr(0, output.find('\n'));
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        const int rc = RunInPage(command, output);
        // One line per command, so that a failing run shows how far the page got.
        std::printf("page: exit %d after %.1f s: %s\n", rc,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    written.substr(0, written.find('\n')).c_str());
        if (std::getenv("VEXA_PAGE_OUTPUT")) // what the page's examples show
            std::printf("%s", output.c_str());
        int wanted = 0;
        std::vector<std::string> fragments;
        for (Expectation& e : expected) {
            if (written.find(e.key) == std::string::npos || ++seen[e.key + "#" + std::to_string(e.occurrence)] != e.occurrence)
                continue;
            ++e.met;
            wanted = e.exitCode;
            fragments = e.fragments;
        }
        EXPECT_EQ(rc, wanted) << written << "\n" << output;
        for (const std::string& f : fragments)
            EXPECT_NE(output.find(Localised(f)), std::string::npos) << written << "\nwants: " << f << "\n" << output;
    }
    for (const Expectation& e : expected)
        EXPECT_EQ(e.met, 1) << "the page no longer gives " << e.key << " (" << e.occurrence << ")";
}

} // namespace
