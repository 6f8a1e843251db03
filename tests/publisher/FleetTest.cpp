// The release side end to end: vexa-publish feeding nginx servers (the main one
// and mirrors on loopback), players of distinct addresses (network namespaces
// with relays, scripts/test-players) running the real Zorvane and Quillet under
// Wine, each ending on the release of its share.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "ReleaseBuilder.h"
#include "ReleaseFolder.h"
#include "Shares.h"

namespace {

const std::string SOURCE = VEXA_SOURCE_DIR;
const std::string PORT = std::to_string(VEXA_FLEET_PORT);

std::string Quote(const std::filesystem::path& p)
{
    return "'" + p.string() + "'";
}

std::string Read(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}


// GET target from 127.0.0.1:port as a player of `address` would send it; the body.
std::string GetFrom(const std::string& address, const std::string& target)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(VEXA_FLEET_PORT));
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    std::string answer;
    if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::connect(s, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
        if (::send(s, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char block[8192];
            for (ssize_t n; (n = ::recv(s, block, sizeof block, 0)) > 0;)
                answer.append(block, static_cast<std::size_t>(n));
        }
    }
    ::close(s);
    const std::size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

// The network between one player and the server, cutting every answer for one
// target after its first bytes, as a connection lost mid-download does: it
// stands in for the player's outside relay (test-players), on the same socket.
class CCuttingRelay {
public:
    CCuttingRelay(const std::filesystem::path& socketPath, std::string address, std::string cut, std::size_t keep)
        : m_address(std::move(address)), m_cut(std::move(cut)), m_keep(keep)
    {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un at{};
        at.sun_family = AF_UNIX;
        std::snprintf(at.sun_path, sizeof at.sun_path, "%s", socketPath.c_str());
        ::unlink(socketPath.c_str());
        m_ok = ::bind(m_listen, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && ::listen(m_listen, 16) == 0;
        m_thread = std::thread([this] { Serve(); });
    }
    ~CCuttingRelay()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
        for (std::thread& t : m_pumps)
            t.join();
    }
    bool Ok() const { return m_ok; }

private:
    void Serve()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const int client = ::accept(m_listen, nullptr, nullptr);
            if (client >= 0)
                m_pumps.emplace_back([this, client] { Pump(client); });
        }
    }

    void Pump(int client)
    {
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, m_address.c_str(), &local.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(VEXA_FLEET_PORT));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        std::string request;
        char block[65536];
        if (::bind(server, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
            ::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            // HTTP/1.0: the request whole, then the answer.
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(client, block, sizeof block, 0);
                if (n <= 0)
                    break;
                request.append(block, static_cast<std::size_t>(n));
            }
            ::send(server, request.data(), request.size(), MSG_NOSIGNAL);
            const bool cut = request.rfind("GET " + m_cut + " ", 0) == 0;
            std::size_t passed = 0;
            for (ssize_t n; (!cut || passed < m_keep) && (n = ::recv(server, block, sizeof block, 0)) > 0;) {
                ::send(client, block, static_cast<std::size_t>(n), MSG_NOSIGNAL);
                passed += static_cast<std::size_t>(n);
            }
            if (cut) {
                // A reset, not an orderly end: nginx finds its answer cut.
                linger hard{1, 0};
                ::setsockopt(server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
        }
        ::close(server);
        ::close(client);
    }

    std::string m_address;
    std::string m_cut;
    std::size_t m_keep;
    int m_listen = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::thread> m_pumps;
};

// One release's files: Zorvane's and Quillet's, by path.
struct ReleaseFiles {
    std::map<std::string, std::vector<std::uint8_t>> zorvane;
    std::map<std::string, std::vector<std::uint8_t>> quillet;
    std::int64_t time = 0;
};

class FleetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string out;
        RunCommand(Quote(SOURCE + "/scripts/test-players") + " can", out);
        if (out.rfind("yes", 0) != 0)
            GTEST_SKIP() << "players of their own addresses need network namespaces (root) and socat";
        RunCommand(Quote(SOURCE + "/scripts/wine-bench") + " preset", out);
        const std::string preset = out.substr(0, out.find('\n'));
        // A bench of each processor's own: one made for the other build refuses to run it.
        RunCommand(Quote(SOURCE + "/scripts/wine-bench") + " arch", out);
        m_bench = std::string(VEXA_FLEET_BENCH) + "-" + out.substr(0, out.find('\n'));
        m_bin = SOURCE + "/build/" + preset + "/bin";
        const std::string cache = Read(SOURCE + "/build/" + preset + "/CMakeCache.txt");
        const std::string key = "ZORVANE_UPDATE_LIST_URL:STRING=http://127.0.0.1:";
        const std::size_t at = cache.find(key);
        if (preset.empty() || !std::filesystem::exists(m_bin / "Zorvane.exe") || at == std::string::npos)
            GTEST_SKIP() << "the Windows build this machine runs (" << preset << ") is not built";
        m_clientPort = cache.substr(at + key.size(), cache.find('/', at + key.size()) - at - key.size());
        m_base = "http://127.0.0.1:" + m_clientPort;
        m_root = m_dir / "srv";
        std::filesystem::create_directories(m_root / "releases");
    }

    void TearDown() override
    {
        std::string out;
        RunCommand(Quote(SOURCE + "/scripts/test-players") + " stop " + Quote(m_dir / "players"), out);
        for (const std::string& s : m_servers)
            RunCommand(Quote(SOURCE + "/scripts/nginx-serve") + " stop " + Quote(m_dir / s), out);
    }

    int Publish(const std::string& args, std::string& out)
    {
        const int rc = RunCommand("cd " + Quote(m_dir.Path()) + " && " + Quote(ToolPath()) + " " + args, out);
        std::printf("vexa-publish %s: exit %d\n%s", args.c_str(), rc, out.c_str());
        return rc;
    }

    // Lays out a release as the game's build does and puts it into the tree:
    // Zorvane's files and list, Quillet's files (names in GBK) and list.
    void Stage(const std::string& name, const ReleaseFiles& r, const std::string& previous = "")
    {
        const std::filesystem::path z = m_dir / ("build-" + name);
        const std::filesystem::path q = m_dir / ("center-" + name);
        for (const auto& [path, bytes] : r.zorvane) {
            WriteFileAt(z / path, bytes, r.time);
            WriteFileAt(m_root / "releases" / name / "files" / path, bytes, r.time);
        }
        for (const auto& [path, bytes] : r.quillet)
            WriteFileAt(q / path, bytes, r.time);
        std::ofstream(m_dir / ("rules-" + name + ".txt")) << "BaseUrl = " << m_base << "/releases/" << name << "/files/\n";
        std::string out;
        const std::string rel = "srv/releases/" + name;
        ASSERT_LE(Publish("publish zorvane build-" + name + " rules-" + name + ".txt -o " + rel + "/Update.xml" +
                              (previous.empty() ? "" : " --previous srv/releases/" + previous + "/Update.xml"),
                          out),
                  1);
        m_lastPublish = out;
        if (r.quillet.empty())
            return;
        ASSERT_EQ(Publish("copy quillet center-" + name + " " + rel + "/Vexaupdate/plat/release", out), 0);
        ASSERT_LE(Publish("publish quillet center-" + name + " -o " + rel + "/Vexaupdate/plat/filelist.list", out), 1);
    }

    // A server of the fleet: nginx on address:PORT serving `root`, taking its
    // shares from `conf` (written now, as `status --nginx` gives them).
    void Serve(const std::string& name, const std::string& address, const std::filesystem::path& root,
               const std::filesystem::path& conf)
    {
        std::string out;
        ASSERT_EQ(Publish("status --nginx > " + Quote(conf), out), 0);
        std::filesystem::create_directories(root);
        ASSERT_EQ(RunCommand("VEXA_NGINX_SHARES=" + Quote(conf) + " VEXA_NGINX_ADDRESS=" + address + " " +
                                 Quote(SOURCE + "/scripts/nginx-serve") + " start " + Quote(m_dir / name) + " " +
                                 Quote(root) + " " + PORT,
                             out),
                  0)
            << out << "(the CMake variable VEXA_FLEET_PORT moves the port)";
        m_servers.push_back(name);
    }

    std::string Reload(const std::string& name) const
    {
        return SOURCE + "/scripts/nginx-serve reload " + (m_dir / name).string();
    }

    // The fleet of one server, this machine's nginx.
    void OneServer()
    {
        std::ofstream(m_dir / "fleet.ini") << "root = " << m_root.string() << "\nurl = http://127.0.0.1:" << PORT
                                           << "\nnginx-conf = " << (m_dir / "shares-main.conf").string()
                                           << "\nreload = " << Reload("main") << "\nsalt = fleet-test\n";
        Serve("main", "127.0.0.1", m_root, m_dir / "shares-main.conf");
    }

    ShareState State()
    {
        std::string error;
        std::optional<ShareState> s = ReadNginxShares(Read(m_dir / "shares.conf"), error);
        EXPECT_TRUE(s) << error;
        return s.value_or(ShareState{});
    }

    // A player of its own address; its clients reach the fleet's nginx as
    // Zorvane's built-in server.
    void Player(const std::string& name, const std::string& address)
    {
        std::string out;
        ASSERT_EQ(RunCommand(Quote(SOURCE + "/scripts/test-players") + " start " + Quote(m_dir / "players") + " " +
                                 name + " " + address + " " + m_clientPort + " " + PORT,
                             out),
                  0)
            << out;
    }

    // A command as the player (or, with no player, on this machine).
    std::string As(const std::string& player, const std::string& command) const
    {
        return player.empty() ? command
                              : Quote(SOURCE + "/scripts/test-players") + " run " + Quote(m_dir / "players") + " " +
                                    player + " " + command;
    }

    std::string Wine(const std::string& what) const
    {
        return Quote(SOURCE + "/scripts/wine-bench") + " " + what + " " + Quote(m_bench);
    }

    // The Wine bench's server makes every socket of its programs: it runs where
    // the player is.
    void BenchFor(const std::string& player)
    {
        if (m_benchPlayer && *m_benchPlayer == player)
            return;
        std::string out;
        ASSERT_EQ(RunCommand(As(player, Wine("server")), out), 0) << out;
        m_benchPlayer = player;
    }

    // An installed client: Zorvane and the hall's stand-in.
    std::filesystem::path Client(const std::string& name)
    {
        const std::filesystem::path c = m_dir / name;
        std::filesystem::create_directories(c);
        for (const char* exe : {"Zorvane.exe", "Mirabond.exe"})
            std::filesystem::copy_file(m_bin / exe, c / exe, std::filesystem::copy_options::overwrite_existing);
        return c;
    }

    // An installed game center that knows these servers (host;port).
    std::filesystem::path Center(const std::string& name, const std::vector<std::string>& servers)
    {
        const std::filesystem::path c = m_dir / name;
        std::filesystem::create_directories(c);
        for (const char* exe : {"Quillet.exe", "Mirabond.exe"})
            std::filesystem::copy_file(m_bin / exe, c / exe, std::filesystem::copy_options::overwrite_existing);
        std::ofstream ini(c / "updatelist.ini", std::ios::binary);
        for (std::size_t i = 0; i < servers.size(); ++i)
            ini << i + 1 << ";1;mirror" << i + 1 << ";" << servers[i] << "\r\n";
        return c;
    }

    // One run of Zorvane, to its end (it starts the hall and quits).
    void RunZorvane(const std::string& player, const std::filesystem::path& client)
    {
        BenchFor(player);
        if (HasFatalFailure())
            return;
        std::string out;
        const int rc = RunCommand("cd " + Quote(client) + " && timeout 180 " +
                                      As(player, Wine("run") + " ./Zorvane.exe " + m_base + "/serverlist.txt auto") +
                                      " > zorvane.log 2>&1",
                                  out);
        EXPECT_EQ(rc, 0) << "Zorvane did not end by itself (a message box?)";
        // It ends once it has started the hall, which writes its mark a moment later.
        const std::size_t before = m_hallStarts[client.string()]++;
        for (int i = 0; i < 100 && Starts(client) <= before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_GT(Starts(client), before) << "Zorvane did not start the hall in " << client;
    }

    // One run of Quillet: its launcher, its copy, to the hall's start.
    void RunQuillet(const std::string& player, const std::filesystem::path& center)
    {
        BenchFor(player);
        if (HasFatalFailure())
            return;
        const std::size_t before = Read(center / "Mirabond.exe.log").size();
        std::string out;
        RunCommand("cd " + Quote(center) + " && timeout 180 " + As(player, Wine("run") + " ./Quillet.exe") +
                       " > quillet.log 2>&1",
                   out);
        for (int i = 0; i < 1200 && Read(center / "Mirabond.exe.log").size() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_GT(Read(center / "Mirabond.exe.log").size(), before) << "Quillet did not hand over to the hall";
        // The copy ends right after it starts the hall.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    static std::size_t Starts(const std::filesystem::path& folder)
    {
        const std::string log = Read(folder / "Mirabond.exe.log");
        std::size_t n = 0;
        for (std::size_t at = log.find("started"); at != std::string::npos; at = log.find("started", at + 1))
            ++n;
        return n;
    }

    static void ExpectHolds(const std::filesystem::path& folder,
                            const std::map<std::string, std::vector<std::uint8_t>>& files, const std::string& release)
    {
        for (const auto& [path, bytes] : files) {
            std::vector<std::uint8_t> there;
            EXPECT_TRUE(ReadWholeFile(folder / PathFromUtf8(path), there) && there == bytes)
                << folder.filename() << "/" << path << " is not the file of " << release;
        }
    }

    TempDir m_dir;
    std::filesystem::path m_root;
    std::filesystem::path m_bin;
    std::string m_bench; // the Wine bench of the clients' processor
    std::string m_clientPort;
    std::string m_base;
    std::vector<std::string> m_servers;
    std::optional<std::string> m_benchPlayer;
    std::string m_lastPublish;
    std::map<std::string, std::size_t> m_hallStarts;
};

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Two releases of Zorvane's and Quillet's files: the program by its version,
// data by its time.
ReleaseFiles Release(unsigned seed, FileVersion version, std::int64_t time)
{
    ReleaseFiles r;
    r.time = time;
    r.zorvane["Vexa.exe"] = VersionedImage(version);
    r.zorvane["config.ini"] = SomeBytes(60, 1);
    r.zorvane["data/cards.dat"] = SomeBytes(3000, seed);
    r.quillet["config.ini"] = SomeBytes(40, 5);
    r.quillet["data/levels.dat"] = SomeBytes(2000, seed + 10);
    r.quillet["\xE8\xA7\x84\xE5\x88\x99.txt"] = SomeBytes(20, 9); // 规则.txt
    return r;
}

const ReleaseFiles A = Release(2, {2, 0, 13, 5}, Now() - 10 * 86400);
const ReleaseFiles B = Release(3, {2, 0, 14, 2}, Now() - 5 * 86400);

// Over ten thousand player addresses, nginx serves the new release to its share
// within 2 points at 1%, 10% and 50%, always the same release to the same
// address, never a release back to a player who had the new one, and exactly
// what `vexa-publish status --player` predicts.
TEST_F(FleetTest, TenThousandPlayersAreSplitAsTheSharesSay)
{
    ReleaseFiles a;
    a.zorvane["a.txt"] = SomeBytes(10, 1);
    a.time = Now() - 86400;
    ReleaseFiles b = a;
    b.zorvane["a.txt"] = SomeBytes(10, 2);
    Stage("a", a);
    Stage("b", b);
    OneServer();
    std::string out;
    ASSERT_EQ(Publish("rollout a 100%", out), 0);
    std::vector<std::string> players;
    for (int i = 0; i < 10000; ++i)
        players.push_back("127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    std::set<std::string> hadB;
    std::string figures;
    for (const int percent : {1, 10, 50}) {
        ASSERT_EQ(Publish("rollout b " + std::to_string(percent), out), 0);
        const ShareState state = State();
        std::map<std::string, std::string> releaseOfList;
        for (const Share& s : state.shares)
            releaseOfList[Read(m_root / s.list.substr(1))] = s.release;
        std::set<std::string> onB;
        int mispredicted = 0;
        for (const std::string& p : players) {
            const std::string release = releaseOfList[GetFrom(p, "/Update.xml")];
            ASSERT_FALSE(release.empty()) << p << " was served no list of the shares";
            if (release == "b")
                onB.insert(p);
            mispredicted += state.shares[*ShareOfAddress(state, p)].release == release ? 0 : 1;
        }
        for (std::size_t i = 0; i < 1000; ++i) // the same address again: the same release
            EXPECT_EQ(releaseOfList[GetFrom(players[i], "/Update.xml")], onB.count(players[i]) ? "b" : "a");
        const double share = 100.0 * static_cast<double>(onB.size()) / static_cast<double>(players.size());
        EXPECT_NEAR(share, percent, 2.0);
        EXPECT_EQ(mispredicted, 0);
        for (const std::string& p : hadB)
            EXPECT_TRUE(onB.count(p)) << p << " went back from b at " << percent << "%";
        hadB = onB;
        char line[96];
        std::snprintf(line, sizeof line, "%d%%: %.2f%%; ", percent, share);
        figures += line;
    }
    std::printf("served b over %zu players: %s\n", players.size(), figures.c_str());
}

// A player who updates while a release is staged (or a rollback is) fetches
// the release's changed files once it goes live, whatever their file times;
// `plan` and `publish --previous` say so beforehand.
TEST_F(FleetTest, AGoLiveReachesThePlayersWhoUpdatedWhileItWasStaged)
{
    ReleaseFiles rollback = A;
    Stage("2.0.13", A);
    OneServer();
    std::string out;
    ASSERT_EQ(Publish("rollout 2.0.13 100%", out), 0);
    Stage("2.0.14", B, "2.0.13");
    Player("first", "127.0.2.1");
    const std::filesystem::path first = Client("first");
    RunZorvane("first", first);
    ExpectHolds(first, A.zorvane, "2.0.13");
    // The list as published would leave the file the player fetched just now.
    EXPECT_EQ(Publish("plan first srv/releases/2.0.14/Update.xml", out), 1);
    EXPECT_NE(out.find("leave     data\\cards.dat: same or later time"), std::string::npos);
    EXPECT_EQ(Publish("plan first 2.0.14 --fleet fleet.ini --player 127.0.2.1", out), 1);
    EXPECT_NE(out.find("fetch     data\\cards.dat: older by time"), std::string::npos);
    EXPECT_NE(out.find("fetch     Vexa.exe: lower version"), std::string::npos);
    ASSERT_EQ(Publish("complete 2.0.14", out), 0);
    RunZorvane("first", first);
    ExpectHolds(first, B.zorvane, "2.0.14");

    // The rollback: 2.0.13's files, times and versions again.
    Stage("2.0.15", rollback, "2.0.14");
    EXPECT_NE(m_lastPublish.find("fetched: Vexa.exe, data\\cards.dat"), std::string::npos);
    EXPECT_NE(m_lastPublish.find("instead of a version that does not rise: Vexa.exe"), std::string::npos);
    Player("second", "127.0.2.2");
    const std::filesystem::path second = Client("second");
    RunZorvane("second", second);
    ExpectHolds(second, B.zorvane, "2.0.14");
    ASSERT_EQ(Publish("complete 2.0.15", out), 0);
    RunZorvane("second", second);
    ExpectHolds(second, A.zorvane, "2.0.15");
    RunZorvane("first", first);
    ExpectHolds(first, A.zorvane, "2.0.15");
}

// At 50%, a player of each share runs both programs and ends on the release
// of its share.
TEST_F(FleetTest, BothClientsEndOnTheReleaseOfTheirShare)
{
    Stage("2.0.13", A);
    Stage("2.0.14", B);
    OneServer();
    std::string out;
    ASSERT_EQ(Publish("rollout 2.0.13 100%", out), 0);
    ASSERT_EQ(Publish("rollout 2.0.14 50%", out), 0);
    const ShareState state = State();
    std::map<std::string, std::string> addressOf; // release: a player's address on it
    for (int i = 1; addressOf.size() < 2 && i < 250; ++i) {
        const std::string address = "127.0.3." + std::to_string(i);
        addressOf.emplace(state.shares[*ShareOfAddress(state, address)].release, address);
    }
    ASSERT_EQ(addressOf.size(), 2u);
    for (const auto& [release, address] : addressOf) {
        const std::string player = "p" + release.substr(release.rfind('.') + 1);
        Player(player, address);
        ASSERT_EQ(Publish("status --player " + address, out), 0);
        EXPECT_NE(out.find("release " + release), std::string::npos);
        const std::filesystem::path client = Client("client-" + player);
        const std::filesystem::path center = Center("center-" + player, {"127.0.0.1;" + m_clientPort});
        RunZorvane(player, client);
        RunQuillet(player, center);
        const ReleaseFiles& r = release == "2.0.14" ? B : A;
        ExpectHolds(client, r.zorvane, release);
        ExpectHolds(center, r.quillet, release);
    }
}

// Three mirrors named in updatelist.ini: a rollout copies and verifies every
// one before it switches any; one that cannot serve the release stops the
// switch everywhere; once it can, the same command finishes the job.
TEST_F(FleetTest, MirrorsAreSwitchedTogetherOrNotAtAll)
{
    Stage("2.0.13", A);
    std::ofstream fleet(m_dir / "fleet.ini");
    fleet << "root = " << m_root.string() << "\nsalt = fleet-test\n";
    std::vector<std::string> servers;
    for (int i = 1; i <= 3; ++i) {
        const std::string name = "mirror" + std::to_string(i);
        const std::string address = "127.0.0." + std::to_string(i + 1);
        fleet << "[mirror " << name << "]\nroot = " << (m_dir / (name + "-tree")).string() << "\nurl = http://"
              << address << ":" << PORT << "\nnginx-conf = " << (m_dir / (name + ".conf")).string()
              << "\nreload = " << Reload(name) << "\n";
        servers.push_back(address + ";" + PORT);
    }
    fleet.close();
    for (int i = 1; i <= 3; ++i) {
        const std::string name = "mirror" + std::to_string(i);
        Serve(name, "127.0.0." + std::to_string(i + 1), m_dir / (name + "-tree"), m_dir / (name + ".conf"));
    }
    std::string out;
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Publish("rollout 2.0.13 100%", out), 0);
    std::printf("a rollout to three mirrors took %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    const std::filesystem::path center = Center("center", servers);
    RunQuillet("", center);
    ExpectHolds(center, A.quillet, "2.0.13");

    Stage("2.0.14", B);
    const std::string before = Read(m_dir / "mirror1.conf");
    RunCommand(Quote(SOURCE + "/scripts/nginx-serve") + " stop " + Quote(m_dir / "mirror2"), out);
    EXPECT_EQ(Publish("complete 2.0.14", out), 3);
    EXPECT_NE(out.find("mirror2 (http://127.0.0.3:" + PORT + "): FAILED to serve the releases"), std::string::npos);
    EXPECT_NE(out.find("nothing switched"), std::string::npos);
    for (const char* m : {"mirror1.conf", "mirror3.conf"})
        EXPECT_EQ(Read(m_dir / m), before) << m;
    for (int run = 0; run < 3; ++run) {
        RunQuillet("", center);
        ExpectHolds(center, A.quillet, "2.0.13");
    }

    ASSERT_EQ(RunCommand("VEXA_NGINX_SHARES=" + Quote(m_dir / "mirror2.conf") + " VEXA_NGINX_ADDRESS=127.0.0.3 " +
                             Quote(SOURCE + "/scripts/nginx-serve") + " start " + Quote(m_dir / "mirror2") + " " +
                             Quote(m_dir / "mirror2-tree") + " " + PORT,
                         out),
              0);
    started = std::chrono::steady_clock::now();
    ASSERT_EQ(Publish("complete 2.0.14", out), 0);
    std::printf("a complete rollout to three mirrors took %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    const std::string after = Read(m_dir / "shares.conf");
    for (const char* m : {"mirror1.conf", "mirror2.conf", "mirror3.conf"})
        EXPECT_EQ(Read(m_dir / m), after) << m;
    for (int run = 0; run < 3; ++run) {
        RunQuillet("", center);
        ExpectHolds(center, B.quillet, "2.0.14");
    }
}

// The report after a 10% step, from the access log of a real run: players of
// their own addresses run the real clients, one of them through a connection
// that cuts Quillet's largest file every time; the report names exactly these
// players and the files they asked for, from the log rotated in two parts (one
// gzip-compressed), and --fail-over halts. The page of the same report is
// opened in a real browser.
TEST_F(FleetTest, TheReportNamesThePlayersAndFilesOfARun)
{
    ReleaseFiles b = B;
    b.quillet["data/levels.dat"] = SomeBytes(24u << 20, 13); // larger than the sockets hold
    Stage("2.0.13", A);
    Stage("2.0.14", b);
    OneServer();
    std::string out;
    ASSERT_EQ(Publish("rollout 2.0.13 100%", out), 0);
    ASSERT_EQ(Publish("rollout 2.0.14 10%", out), 0);
    const ShareState state = State();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string since = IsoTime(Now());
    std::vector<std::string> in; // addresses of the 10% on 2.0.14
    std::string outside;
    for (int i = 1; (in.size() < 2 || outside.empty()) && i < 250; ++i) {
        const std::string address = "127.0.4." + std::to_string(i);
        const Share& share = state.shares[*ShareOfAddress(state, address)];
        if (share.release == "2.0.14" && in.size() < 2)
            in.push_back(address);
        else if (share.release == "2.0.13" && outside.empty())
            outside = address;
    }
    ASSERT_EQ(in.size(), 2u);
    ASSERT_FALSE(outside.empty());

    Player("zin", in[0]);
    RunZorvane("zin", Client("client-zin"));
    Player("zout", outside);
    const std::filesystem::path client = Client("client-zout");
    RunZorvane("zout", client);
    RunZorvane("zout", client); // finds itself current
    Player("qin", in[1]);
    // The player's outside relay (test-players: its pid file and socket) makes
    // way for the cutting one, once it is gone with the socket it removes.
    std::ifstream pid(m_dir / "players/qin.outside.pid");
    pid_t relay = 0;
    ASSERT_TRUE(pid >> relay);
    ::kill(relay, SIGTERM);
    for (int i = 0; i < 100 && ::kill(relay, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string levels = "/Vexaupdate/plat/release/data/levels.dat";
    CCuttingRelay cutting(m_dir / "players/qin.vexa-players.sock", in[1], levels, 64 * 1024);
    ASSERT_TRUE(cutting.Ok());
    RunQuillet("qin", Center("center-qin", {"127.0.0.1;" + m_clientPort}));

    // The log as logrotate leaves it: the older part compressed.
    const std::string log = Read(m_dir / "main/fleet.log");
    std::size_t half = log.find('\n', log.size() / 2) + 1;
    std::ofstream(m_dir / "fleet.log.1") << log.substr(0, half);
    std::ofstream(m_dir / "fleet.log") << log.substr(half);
    ASSERT_EQ(RunCommand("gzip -f " + Quote(m_dir / "fleet.log.1"), out), 0);
    const int rc = Publish("report fleet.log fleet.log.1.gz --since " + since +
                               " --idle 0 --players --top 50 --fail-over 10 --html page.html",
                           out);
    EXPECT_EQ(rc, 1) << "failed updates over 10% halt";
    std::string text; // the report with its columns' padding and its indents taken out
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!(out[i] == ' ' && i > 0 && (out[i - 1] == ' ' || out[i - 1] == '\n')))
            text.push_back(out[i]);
    }
    const auto shareOf = [&](const std::string& address) { return state.shares[*ShareOfAddress(state, address)].Name(); };
    const auto count = [&](const std::string& fragment) {
        std::size_t n = 0;
        for (std::size_t at = log.find(fragment); at != std::string::npos; at = log.find(fragment, at + 1))
            ++n;
        return n;
    };
    const std::vector<std::pair<std::string, std::string>> players = {
        {in[0], "Zorvane 2.0.14 " + shareOf(in[0]) + " this server completed - -"},
        {outside, "Zorvane 2.0.13 " + shareOf(outside) + " this server completed - -"},
        {in[1], "- Quillet plat 2.0.14 " + shareOf(in[1]) + " this server failed cut short data/levels.dat"},
    };
    EXPECT_NE(text.find("\nplayers (3)\n"), std::string::npos) << out;
    for (const auto& [address, row] : players) {
        const std::size_t at = text.find("\n" + address + " ");
        ASSERT_NE(at, std::string::npos) << address << "\n" << out;
        EXPECT_NE(text.substr(at, text.find('\n', at + 1) - at).find(row), std::string::npos) << row << "\n" << out;
    }
    const std::size_t cuts = count("GET " + levels + " ");
    EXPECT_GE(cuts, 2u) << "Quillet fetches a cut file once more";
    const std::vector<std::string> files = {
        "2.0.14 Quillet plat data/levels.dat 25,165,824 " + std::to_string(cuts) + " 0 " + std::to_string(cuts),
        "2.0.13 Zorvane " + state.shares[1].list.substr(state.shares[1].list.rfind('/') + 1) + " ",
        "2.0.14 Zorvane " + state.shares[0].list.substr(state.shares[0].list.rfind('/') + 1) + " ",
        "2.0.13 Zorvane Vexa.exe ", "2.0.13 Zorvane config.ini ", "2.0.13 Zorvane data/cards.dat ",
        "2.0.14 Zorvane Vexa.exe ", "2.0.14 Zorvane config.ini ", "2.0.14 Zorvane data/cards.dat ",
        "2.0.14 Quillet plat filelist.list ", "2.0.14 Quillet plat config.ini ",
        "2.0.14 Quillet plat \xE8\xA7\x84\xE5\x88\x99.txt ",
    };
    EXPECT_NE(text.find("files that fail most (of " + std::to_string(files.size()) + " asked for)"), std::string::npos)
        << out;
    for (const std::string& f : files)
        EXPECT_NE(text.find("\n" + f), std::string::npos) << f << "\n" << out;
    EXPECT_NE(text.find("fail-over 10.00%: 2.0.14: 1 of 2 started updates failed (50.00%): over, halt"),
              std::string::npos);
    EXPECT_EQ(Publish("report fleet.ini", out), 2);
    EXPECT_NE(out.find("fleet.ini: error: not an nginx access log"), std::string::npos);

    // The page in a real browser: what it shows, as printed, holds the same
    // rows; its charts are drawn.
    const std::string chromium = "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                                 "--disable-background-networking --disable-component-update --disable-sync "
                                 "--user-data-dir=" + Quote(m_dir / "chromium") + " ";
    const std::string page = "file://" + (m_dir / "page.html").string();
    ASSERT_EQ(RunCommand("cd " + Quote(m_dir.Path()) + " && timeout 120 " + chromium +
                             "--window-size=1280,2000 --screenshot=page.png " + page + " && timeout 120 " + chromium +
                             "--no-pdf-header-footer --print-to-pdf=page.pdf " + page,
                         out),
              0)
        << out;
    std::filesystem::create_directories(std::filesystem::path(VEXA_REPORT_SHOT).parent_path());
    std::filesystem::copy_file(m_dir / "page.png", VEXA_REPORT_SHOT, std::filesystem::copy_options::overwrite_existing);
    std::printf("the report's page as the browser shows it: %s\n", VEXA_REPORT_SHOT);
    ASSERT_EQ(RunCommand("pdftotext -layout " + Quote(m_dir / "page.pdf") + " -", out), 0);
    std::string shown;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!(out[i] == ' ' && i > 0 && (out[i - 1] == ' ' || out[i - 1] == '\n')))
            shown.push_back(out[i]);
    }
    EXPECT_NE(shown.find("Halt: failed updates over 10.00% of started ones"), std::string::npos) << shown;
    for (const auto& [address, row] : players) {
        const std::size_t at = shown.find(address + " ");
        ASSERT_NE(at, std::string::npos) << shown;
        EXPECT_NE(shown.substr(at, shown.find('\n', at) - at).find(row.substr(row.find(" this server"))),
                  std::string::npos)
            << row << "\n" << shown;
    }
    EXPECT_NE(shown.find(files[0]), std::string::npos) << shown;
    ASSERT_EQ(RunCommand("convert " + Quote(m_dir / "page.png") + " -format %c histogram:info:-", out), 0);
    EXPECT_NE(out.find("#D64545"), std::string::npos) << "no failure drawn";
    EXPECT_NE(out.find("#2E9E5B"), std::string::npos) << "no completed update drawn";
}

} // namespace
