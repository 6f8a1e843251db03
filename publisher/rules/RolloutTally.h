#pragma once

// How a release is going, read from the servers' access logs. Our clients send
// nothing home; every request they make is in nginx's log, so a player's update
// can be followed there: a list fetched, then the files the client found
// missing or older, one after the other.
//
// A player is one client address following one channel (Zorvane's list, or
// Quillet's of one folder). An update is a list fetched and the files asked for
// until the player fetches a list again. It ends
//   current    when no file was asked for;
//   completed  when every file asked for came whole (a retry that came whole
//              makes good a failed fetch: Quillet fetches a wrong file once more);
//   failed     when the list or a file never came whole: an error status, a
//              body cut short of the file's length, a body that nginx sent
//              whole but that is shorter or longer than the release's file
//              (the server's copy is wrong), or the client gone before the
//              answer (499);
//   mid-update when the player asked for something within the idle time
//              before the end of the report: it may still be fetching.
// A player's verdict for a release is that of its last update of the release,
// except that a check that finds the player current keeps it completed.
//
// Lines in the vexa format say which share and release nginx served the
// player; for `combined` lines the report works that out from the player's
// address and the shares in force at the line's time (history.log).

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "AccessLog.h"
#include "ServedTree.h"
#include "Shares.h"
#include "StringIndex.h"

// Why a fetch did not come whole: an HTTP status (100 to 999) or one of these.
using Fault = std::uint16_t;
constexpr Fault FAULT_NONE = 0;
constexpr Fault FAULT_CUT = 1;       // the body ended before the file's length
constexpr Fault FAULT_WRONG = 2;     // nginx sent the whole body, of another length than the release's file
constexpr Fault FAULT_ABANDONED = 3; // the client closed the connection before the answer (nginx's 499)

// "cut short", "status 404"...
std::string FaultText(Fault fault);

enum class Verdict : std::uint8_t { Current, Completed, Failed, MidUpdate };

struct VerdictCounts {
    std::uint64_t players = 0; // current + completed + failed + mid-update
    std::uint64_t checked = 0; // of them, fetched a list in the window (the others began before it)
    std::uint64_t current = 0;
    std::uint64_t completed = 0;
    std::uint64_t failed = 0;
    std::uint64_t midUpdate = 0;
    std::map<Fault, std::uint64_t> causes; // of the failed

    std::uint64_t Started() const { return completed + failed + midUpdate; }
    void Add(Verdict verdict, Fault fault, bool listSeen);
    void Add(const VerdictCounts& other);
};

struct ShareRow {
    std::string release;
    std::string channel;
    std::string share; // "0.00-10.00", or empty when not known
    VerdictCounts counts;
};

struct FileRow {
    std::string release;
    std::string channel;
    std::string path;
    bool list = false;
    bool known = false; // the tree has it; length is its length
    std::uint64_t length = 0;
    std::uint64_t fetches = 0;
    std::uint64_t whole = 0;
    std::uint64_t failed = 0;
    std::uint64_t bytes = 0;
    std::map<Fault, std::uint64_t> causes;
};

struct Peak {
    double rate = 0; // per second
    std::int64_t at = 0;
};

struct Peaks {
    Peak requests;       // the busiest second
    Peak bytes;
    Peak requestsMinute; // the busiest minute, per second
    Peak bytesMinute;
};

struct MirrorRow {
    std::string name;
    std::uint64_t requests = 0;
    std::uint64_t bytes = 0;
    std::uint64_t players = 0; // who asked it for anything
    std::uint64_t fetches = 0; // of lists and files
    std::uint64_t failed = 0;
    std::map<Fault, std::uint64_t> causes;
    VerdictCounts counts; // updates whose list came from this mirror
    Peaks peaks;
    bool failsMore = false;

    double FailureRate() const { return fetches ? static_cast<double>(failed) / static_cast<double>(fetches) : 0; }
};

struct IntervalRow {
    std::int64_t from = 0;
    std::uint64_t checks = 0;    // lists fetched
    std::uint64_t completed = 0; // updates that ended completed, at their last request
    std::uint64_t failed = 0;    // updates that ended failed
    std::uint64_t requests = 0;
    std::uint64_t bytes = 0;
};

struct PlayerRow {
    std::string address;
    std::string agent;
    std::string channel;
    std::string release;
    std::string share;
    std::string mirror;
    Verdict verdict = Verdict::Current;
    Fault fault = FAULT_NONE;
    std::string file; // the file that failed
    std::int64_t time = 0; // its last request
};

struct RolloutFigures {
    std::uint64_t lines = 0;     // read
    std::uint64_t malformed = 0; // neither format, or cut short: skipped
    std::string firstMalformed;  // where the first one is, and how it begins (set by the reader)
    std::uint64_t outside = 0;   // before --since or after --until
    std::uint64_t other = 0;     // requests for nothing a player updates from
    std::uint64_t vexaLines = 0; // in the vexa format
    std::int64_t first = 0;      // times of the lines reported
    std::int64_t last = 0;
    std::int64_t end = 0;        // the end that the idle time counts back from
    std::int64_t idle = 0;
    std::vector<ShareRow> shares; // by release, channel, share
    std::vector<FileRow> files;   // every file asked for, those that fail most first
    std::vector<MirrorRow> mirrors;
    std::int64_t interval = 0;
    std::vector<IntervalRow> intervals;
    Peaks peaks;
    std::vector<PlayerRow> players; // every player's verdict of each release, or only the failed ones
    bool allPlayers = false;
};

// Which share and release nginx served an address at a moment, from the states
// the shares went through.
class CShareRouting {
public:
    // The states with the time each began, in order.
    void AddState(std::int64_t at, ShareState state);
    bool Empty() const { return m_states.empty(); }

    struct Route {
        const Share* share = nullptr; // null: nothing was served
        const std::string* name = nullptr; // its Name()
    };
    // cacheState/cacheShare: the player's last answer, so that the hash is
    // worked out once per player and state.
    Route At(std::string_view address, std::int64_t time, std::uint32_t& cacheState,
             std::uint32_t& cacheShare) const;
    // The share of this name in force at a moment (for vexa lines, which name it).
    const Share* Named(std::string_view name, std::int64_t time) const;

private:
    std::uint32_t StateAt(std::int64_t time) const;
    std::vector<std::pair<std::int64_t, ShareState>> m_states;
    std::vector<std::vector<std::string>> m_names; // of each state's shares
};

struct RolloutOptions {
    std::int64_t end = 0;         // --until, or the moment of the report
    std::int64_t idle = 600;      // seconds
    std::int64_t interval = 0;    // 0: chosen from the window
    bool allPlayers = false;      // every player, not only the failed ones
    std::string release;          // only this release, when given
};

// Reads lines one after the other, in time order across the logs, and keeps
// what it needs per player, per file, per mirror and per minute: memory grows
// with players and files, not with lines.
class CRolloutTally {
public:
    CRolloutTally(CServedTree& tree, const CShareRouting& routing, std::vector<std::string> mirrors);
    ~CRolloutTally();
    CRolloutTally(const CRolloutTally&) = delete;
    CRolloutTally& operator=(const CRolloutTally&) = delete;

    void Add(const AccessLine& line, std::uint32_t mirror);
    void CountMalformed() { ++m_malformed; }
    void CountOutside() { ++m_outside; }
    std::size_t Players() const;

    RolloutFigures Finish(const RolloutOptions& options);

private:
    struct State;
    State* m_state;
    std::uint64_t m_malformed = 0;
    std::uint64_t m_outside = 0;
};

// --fail-over: per release, the failed updates as a share of the started ones
// (completed, failed or mid-update); over when above pct.
struct FailOverLine {
    std::string release;
    std::uint64_t started = 0;
    std::uint64_t failed = 0;
    bool over = false;
};
std::vector<FailOverLine> CheckFailOver(const RolloutFigures& figures, double pct);

// The report's tables, the same in the text and on the page: players per
// release and share, the failed players (or every player), the files that fail
// most, the mirrors, the figures over time.
struct ReportTable {
    std::string title;
    std::vector<std::string> header;
    std::vector<bool> numeric; // right-aligned
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> notes; // lines below it
};
// The lines above the tables: what was read, and the window.
std::vector<std::string> RolloutSummary(const RolloutFigures& figures);
std::vector<ReportTable> RolloutTables(const RolloutFigures& figures, std::size_t top);

// The report for people: text for a terminal, and one HTML page that needs
// nothing but itself.
std::string RolloutText(const RolloutFigures& figures, std::size_t top);
std::string RolloutPage(const RolloutFigures& figures, std::size_t top, const std::vector<FailOverLine>& failOver,
                        double pct);
// Shared by both: "1.2 MB", "3,456", "2026-12-09 10:15:00".
std::string ShowVolume(double bytes);
std::string ShowCount(std::uint64_t n);
std::string ShowTime(std::int64_t seconds);
const char* VerdictText(Verdict verdict);
