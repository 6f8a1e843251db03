#pragma once

// Which release each player is served. nginx places every player on one axis by
// a hash of a salt and the player's address (split_clients: MurmurHash2), and
// the axis is cut into shares; each share is served one release (Quillet's
// folders) and one list of Zorvane's. A rollout only ever moves the cut between
// the players who have a release and those who have not yet, from the start of
// the axis, so that raising a percentage never moves a player back.
//
// The tool writes the shares as the file that nginx includes in its http block,
// with the state itself in comment lines, so that what nginx routes and what the
// tool believes can never differ.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The axis in hundredths of a percent, nginx's own precision.
constexpr int SHARE_WHOLE = 10000;

struct Share {
    int from = 0; // [from, to) in hundredths of a percent
    int to = 0;
    std::string release;   // its folder below releases/
    std::string list;      // Zorvane's list for it, its path below the server's root
    std::int64_t since = 0; // when it went live, seconds since 1970 (UTC)

    // "0.00-10.00": the share's name in nginx's variable and in its access log.
    std::string Name() const;
};

struct ShareState {
    std::string salt;          // before the address in the hashed key
    std::vector<Share> shares; // in order, from 0 to SHARE_WHOLE without a gap; empty when nothing is live
    std::string halted;        // a release whose rollout stops where it is, or empty

    // The hundredths of the axis served this release.
    int PercentOf(const std::string& release) const;
    // Where the release's players end: the end of the last share on it that
    // starts at 0 and runs without a gap, or 0.
    int ReachOf(const std::string& release) const;
};

// nginx's MurmurHash2 of a key (ngx_murmur_hash2).
std::uint32_t NginxHash(std::string_view key);

// The share nginx serves this address (its text as nginx writes $remote_addr),
// as nginx's split_clients works it out from the percentages it is given.
std::optional<std::size_t> ShareOfAddress(const ShareState& state, std::string_view address);

// "10", "10%", "2.5", "0.01%" as hundredths of a percent; nothing for more than
// two decimals, more than 100 or anything else.
std::optional<int> ParsePercent(std::string_view text);
// "10.00%".
std::string ShowPercent(int hundredths);

// "2026-12-09T10:15:00Z" and back.
std::string IsoTime(std::int64_t seconds);
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

// A release's name as a folder and in nginx's configuration: letters, digits,
// ".", "-" and "_", not starting with "." or "-".
bool IsReleaseName(std::string_view name);
// A salt: the same characters, or empty.
bool IsSalt(std::string_view salt);

// The file nginx includes: the state in comment lines, split_clients and the
// maps that give $vexa_share, $vexa_release, $vexa_update_list and
// $vexa_shares_stamp.
std::string WriteNginxShares(const ShareState& state);
// The stamp that file gives its server's answers (X-Vexa-Shares), so that the
// tool can see when a server uses it; empty when it has none.
std::string SharesStamp(std::string_view text);
// The state from that file; nothing, with the reason, for a file the tool did
// not write or that does not hold together.
std::optional<ShareState> ReadNginxShares(std::string_view text, std::string& error);

// Every state the shares were in, for reading logs of the past: one block per
// state, "# at TIME WHAT" and then the state's comment lines, appended to the
// history file beside the shares file whenever they change.
struct ShareHistoryEntry {
    std::int64_t at = 0; // when the state began
    std::string what;    // the command that made it ("rollout 2.0.14 10.00%")
    ShareState state;
};
std::string WriteHistoryEntry(const ShareHistoryEntry& entry);
// The blocks in order; a block that does not read is reported and left out.
std::vector<ShareHistoryEntry> ReadShareHistory(std::string_view text, std::vector<std::string>& errors);

// Rolling `release` out to `upTo`: every part of [0, upTo) that is not on the
// release yet goes over to it, cut where the shares before were cut, so that
// each part keeps the history of the one list its players were served. The
// parts that switch, each with the share it was part of; `after` gets the new
// cuts with the switched parts' release set and their list left empty for the
// caller to fill.
struct ShareSwitch {
    Share before; // the share the part belonged to (its from and to cover the whole share)
    int from = 0;
    int to = 0;
};
std::vector<ShareSwitch> PlanRollout(const ShareState& state, const std::string& release, int upTo,
                                     ShareState& after);

// Neighbours served the same release and list become one share.
void MergeShares(ShareState& state);
