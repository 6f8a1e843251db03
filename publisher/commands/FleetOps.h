#pragma once

// What the fleet's commands share: the fleet and its shares as this machine
// keeps them, the lists of its releases, the lists a rollout makes for the
// shares it switches, and the deploy to every server: the release files first,
// every server verified, then the shares switched on all of them, or on none.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Fleet.h"
#include "FileList.h"
#include "Shares.h"
#include "ZorvaneList.h"

struct FleetOptions {
    std::string fleetFile = "fleet.ini";
    int timeoutSeconds = 30;
    std::optional<int> marginSeconds;
};

class CFleet {
public:
    // The fleet of the options' file and its shares; nothing, with the reason
    // on the error stream, and the exit code in rc.
    static std::optional<CFleet> Open(const FleetOptions& options, int& rc);

    const Fleet& Config() const { return m_fleet; }
    const ShareState& State() const { return m_state; }
    const FleetOptions& Options() const { return m_options; }
    std::filesystem::path Root() const;
    std::filesystem::path ReleaseDir(const std::string& release) const;
    // The players' address of the main server (or the first mirror).
    std::string PlayersUrl() const;

    // Whether the root holds a release of that name (a folder with at least one list).
    bool HasRelease(const std::string& release, std::string& error) const;
    // Zorvane's list of a release as published (empty when it has none), or the
    // list at a path below the root.
    bool PublishedZorvane(const std::string& release, std::vector<ListedFile>& entries, std::string& error) const;
    bool ListAt(const std::string& path, std::vector<ListedFile>& entries, std::string& error) const;
    // Quillet's update folders of a release (those with a filelist.list).
    std::vector<std::string> QuilletFolders(const std::string& release) const;

    // The list a share is served when `release` goes live for it at `when`;
    // false with the reason when a list cannot be read. No list when the
    // release has none for Zorvane.
    bool GoLiveFor(const Share& before, const std::string& release, std::int64_t when,
                   std::optional<std::vector<ListedFile>>& list, std::string& error);
    // Writes a share's list below the release (named by its contents) and
    // gives its path below the root.
    bool WriteShareList(const std::string& release, const std::vector<ListedFile>& list, std::string& path,
                        std::string& error) const;
    // Prints what the players of a share download when it goes over to `release`.
    void PrintChanges(const Share& before, const std::string& release,
                      const std::optional<std::vector<ListedFile>>& list);

    // The deploy: `makeState` gets the go-live time and makes the new state
    // (and its lists) once every server holds and serves the releases of
    // `releases`; then every server is switched to it, or, when one cannot be,
    // none is. The state is kept only when every server took it. An exit code.
    int Deploy(const std::set<std::string>& releases,
               const std::function<bool(std::int64_t when, ShareState& after)>& makeState, const std::string& what,
               std::int64_t notBefore = 0);
    // The go-live time of a rollout that starts now: a little ahead, past the
    // moment the last server is switched, and later than every time the
    // switching shares were served.
    std::int64_t GoLiveTime(std::int64_t notBefore) const;

    // Keeps a state on this machine without touching the servers (halt).
    bool Keep(const ShareState& state, const std::string& what, std::string& error);

private:
    bool SameBytes(const ListedFile& a, const ListedFile& b, bool& known);
    std::optional<std::filesystem::path> MasterPathOfUrl(const std::wstring& url) const;
    bool CopyReleases(const FleetServer& server, std::string& error) const;
    bool VerifyReleases(const FleetServer& server, const std::set<std::string>& releases, std::string& error);
    bool VerifyLists(const FleetServer& server, const ShareState& state, std::string& error) const;
    bool Switch(const FleetServer& server, const std::string& conf, const std::string& stamp, std::string& error) const;

    FleetOptions m_options;
    std::filesystem::path m_fleetFile;
    Fleet m_fleet;
    ShareState m_state;
    std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> m_digests; // master path: size, checksum
};
