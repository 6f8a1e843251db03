#include "RolloutTally.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

constexpr std::uint32_t NONE = CStringIndex::NONE;
// The minutes kept for the figures over time: a line further from the first
// one is counted but left out of them.
constexpr std::int64_t MINUTES_KEPT = 400 * 1440;

void AddCause(std::vector<std::pair<Fault, std::uint64_t>>& causes, Fault fault)
{
    for (auto& [f, n] : causes) {
        if (f == fault) {
            ++n;
            return;
        }
    }
    causes.emplace_back(fault, 1);
}

std::map<Fault, std::uint64_t> CauseMap(const std::vector<std::pair<Fault, std::uint64_t>>& causes)
{
    return std::map<Fault, std::uint64_t>(causes.begin(), causes.end());
}

// Requests and bytes per second. A body is spread over the seconds it took
// ($request_time, when logged; at most the window), so that a long download
// does not count as a burst at its end; lines come in the order of their end.
class CRateMeter {
public:
    void Add(std::int64_t t, std::uint64_t bytes, std::uint32_t ms)
    {
        if (!m_started) {
            m_started = true;
            m_next = t - (W - 2);
            m_newest = t;
        }
        if (t > m_newest) {
            Advance(t - (W - 2));
            m_newest = t;
        }
        t = std::max(t, m_next);
        const std::int64_t seconds = std::clamp<std::int64_t>((ms + 999) / 1000, 1, t - m_next + 1);
        const double rate = static_cast<double>(bytes) / static_cast<double>(seconds);
        m_diff[(t - seconds + 1) & MASK] += rate;
        m_diff[(t + 1) & MASK] -= rate;
        ++m_requests[t & MASK];
    }

    Peaks Finish()
    {
        if (m_started)
            Advance(m_newest + 1);
        CloseMinute();
        return m_peaks;
    }

private:
    static constexpr std::int64_t W = 1024; // seconds; a power of two
    static constexpr std::int64_t MASK = W - 1;

    // Every second before upTo is final.
    void Advance(std::int64_t upTo)
    {
        if (upTo - m_next > W) {
            // A gap: what is pending ends within the window, then nothing.
            for (std::int64_t i = 0; i < W; ++i)
                Close(m_next++);
            m_level = 0;
            m_next = upTo;
        }
        while (m_next < upTo)
            Close(m_next++);
    }

    void Close(std::int64_t second)
    {
        const std::int64_t slot = second & MASK;
        m_level += m_diff[slot];
        m_diff[slot] = 0;
        const double level = std::max(0.0, m_level);
        const double requests = m_requests[slot];
        m_requests[slot] = 0;
        if (requests > m_peaks.requests.rate)
            m_peaks.requests = {requests, second};
        if (level > m_peaks.bytes.rate)
            m_peaks.bytes = {level, second};
        const std::int64_t minute = second >= 0 ? second / 60 : (second - 59) / 60;
        if (minute != m_minute) {
            CloseMinute();
            m_minute = minute;
        }
        m_minuteRequests += requests;
        m_minuteBytes += level;
    }

    void CloseMinute()
    {
        if (m_minuteRequests / 60 > m_peaks.requestsMinute.rate)
            m_peaks.requestsMinute = {m_minuteRequests / 60, m_minute * 60};
        if (m_minuteBytes / 60 > m_peaks.bytesMinute.rate)
            m_peaks.bytesMinute = {m_minuteBytes / 60, m_minute * 60};
        m_minuteRequests = m_minuteBytes = 0;
    }

    bool m_started = false;
    std::int64_t m_next = 0; // the first second that is not final
    std::int64_t m_newest = 0;
    std::vector<double> m_diff = std::vector<double>(W);
    std::vector<std::uint32_t> m_requests = std::vector<std::uint32_t>(W);
    double m_level = 0;
    std::int64_t m_minute = 0;
    double m_minuteRequests = 0;
    double m_minuteBytes = 0;
    Peaks m_peaks;
};

struct Update {
    bool active = false;
    bool listSeen = false;
    std::uint32_t release = NONE;
    std::uint32_t share = 0;
    std::uint32_t mirror = 0;
    std::uint32_t listFile = NONE;
    Fault listFault = FAULT_NONE;
    std::int64_t last = 0;
    std::uint32_t files = 0;                               // fetches of files
    std::vector<std::pair<std::uint32_t, Fault>> failing;  // files not (yet) whole
};

struct Outcome {
    std::uint32_t release = NONE;
    std::uint32_t share = 0;
    std::uint32_t mirror = 0;
    Verdict verdict = Verdict::Current;
    Fault fault = FAULT_NONE;
    bool listSeen = false;
    std::uint32_t file = NONE;
    std::int64_t time = 0;
};

// Players by address and channel. An IPv4 address is packed into a number
// with the channel, found with one probe of a flat table; any other address by
// its text.
class CPlayerIndex {
public:
    std::uint32_t Add(std::string_view address, std::uint32_t channel, bool& added)
    {
        std::uint32_t ip = 0;
        if (channel >= (1u << 24) || !PackIpv4(address, ip)) {
            m_text.assign(address.data(), address.size());
            m_text.push_back('\n');
            m_text += std::to_string(channel);
            const std::uint32_t t = m_texts.Add(m_text, &added);
            if (added)
                m_keys.push_back(TEXT | t);
            return added ? static_cast<std::uint32_t>(m_keys.size() - 1) : m_textPlayer[t];
        }
        const std::uint64_t key = (static_cast<std::uint64_t>(ip) << 24 | channel) + 1;
        if ((m_count + 1) * 2 > m_slots.size())
            Grow();
        std::size_t i = Slot(key);
        for (; m_slots[i].key != 0; i = (i + 1) & m_mask) {
            if (m_slots[i].key == key) {
                added = false;
                return m_slots[i].id;
            }
        }
        added = true;
        ++m_count;
        m_slots[i] = {key, static_cast<std::uint32_t>(m_keys.size())};
        m_keys.push_back(key);
        return m_slots[i].id;
    }

    // Every player's address as logged and channel.
    std::pair<std::string, std::uint32_t> Of(std::uint32_t id) const
    {
        const std::uint64_t key = m_keys[id];
        if (key & TEXT) {
            const std::string_view text = m_texts.Key(static_cast<std::uint32_t>(key & ~TEXT));
            const std::size_t newline = text.rfind('\n');
            return {std::string(text.substr(0, newline)),
                    static_cast<std::uint32_t>(std::stoul(std::string(text.substr(newline + 1))))};
        }
        const std::uint64_t k = key - 1;
        const auto ip = static_cast<std::uint32_t>(k >> 24);
        return {std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." + std::to_string(ip >> 8 & 255) +
                    "." + std::to_string(ip & 255),
                static_cast<std::uint32_t>(k & 0xFFFFFF)};
    }

    // Maps a text player's number once it has one.
    void Bind(std::uint32_t id)
    {
        const std::uint64_t key = m_keys[id];
        if (key & TEXT) {
            const auto t = static_cast<std::size_t>(key & ~TEXT);
            if (m_textPlayer.size() <= t)
                m_textPlayer.resize(t + 1);
            m_textPlayer[t] = id;
        }
    }

private:
    static constexpr std::uint64_t TEXT = std::uint64_t(1) << 63;

    // "a.b.c.d" with no leading zeros beyond a single 0, each part below 256.
    static bool PackIpv4(std::string_view text, std::uint32_t& ip)
    {
        std::uint32_t part = 0;
        int parts = 0;
        int digits = 0;
        for (const char c : text) {
            if (c >= '0' && c <= '9') {
                if (digits == 3 || (digits == 1 && part == 0))
                    return false;
                part = part * 10 + static_cast<std::uint32_t>(c - '0');
                ++digits;
            } else if (c == '.' && digits > 0 && parts < 3 && part < 256) {
                ip = ip << 8 | part;
                part = 0;
                digits = 0;
                ++parts;
            } else {
                return false;
            }
        }
        if (parts != 3 || digits == 0 || part > 255)
            return false;
        ip = ip << 8 | part;
        return true;
    }

    std::size_t Slot(std::uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> 32 & m_mask; }

    void Grow()
    {
        std::vector<Entry> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 1024 : old.size() * 2, Entry{});
        m_mask = m_slots.size() - 1;
        for (const Entry& e : old) {
            if (e.key == 0)
                continue;
            std::size_t i = Slot(e.key);
            while (m_slots[i].key != 0)
                i = (i + 1) & m_mask;
            m_slots[i] = e;
        }
    }

    struct Entry {
        std::uint64_t key = 0;
        std::uint32_t id = 0;
    };
    std::vector<Entry> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_count = 0;
    std::vector<std::uint64_t> m_keys; // per player
    CStringIndex m_texts;
    std::vector<std::uint32_t> m_textPlayer;
    std::string m_text;
};

struct Player {
    std::uint32_t agent = 0;
    std::uint32_t routeState = NONE;
    std::uint32_t routeShare = 0;
    std::uint64_t mirrors = 0; // one bit per mirror, for the first 64
    Update open;
    std::vector<Outcome> outcomes; // one per release
};

struct FileTally {
    std::uint64_t fetches = 0;
    std::uint64_t whole = 0;
    std::uint64_t failed = 0;
    std::uint64_t bytes = 0;
    std::vector<std::pair<Fault, std::uint64_t>> causes;
};

struct MirrorTally {
    std::uint64_t requests = 0;
    std::uint64_t bytes = 0;
    std::uint64_t fetches = 0;
    std::uint64_t failed = 0;
    std::vector<std::pair<Fault, std::uint64_t>> causes;
    CRateMeter meter;
};

struct Minute {
    std::uint64_t checks = 0;
    std::uint64_t completed = 0;
    std::uint64_t failed = 0;
    std::uint64_t requests = 0;
    std::uint64_t bytes = 0;
};

} // namespace

struct CRolloutTally::State {
    CServedTree& tree;
    const CShareRouting& routing;
    std::vector<std::string> mirrorNames;
    CPlayerIndex playerKeys;
    std::vector<Player> players;
    CStringIndex agents;
    CStringIndex shares;
    std::uint32_t unrouted = NONE; // the release of requests that nothing routed
    std::uint32_t lastShare = NONE;
    std::uint32_t lastRelease = NONE;
    std::vector<FileTally> files;
    std::vector<MirrorTally> mirrors;
    CRateMeter fleet;
    std::int64_t firstMinute = 0;
    std::vector<Minute> minutes;
    std::uint64_t lines = 0;
    std::uint64_t other = 0;
    std::uint64_t vexaLines = 0;
    std::int64_t first = 0;
    std::int64_t last = 0;

    State(CServedTree& t, const CShareRouting& r, std::vector<std::string> names)
        : tree(t), routing(r), mirrorNames(std::move(names)), mirrors(mirrorNames.size())
    {
        agents.Add(std::string_view());
        shares.Add(std::string_view());
    }

    Minute* MinuteOf(std::int64_t time)
    {
        const std::int64_t minute = time >= 0 ? time / 60 : (time - 59) / 60;
        if (minutes.empty()) {
            firstMinute = minute;
            minutes.resize(1);
        }
        if (minute < firstMinute) {
            if (firstMinute - minute + static_cast<std::int64_t>(minutes.size()) > MINUTES_KEPT)
                return nullptr;
            minutes.insert(minutes.begin(), static_cast<std::size_t>(firstMinute - minute), Minute{});
            firstMinute = minute;
        }
        const std::int64_t at = minute - firstMinute;
        if (at >= MINUTES_KEPT)
            return nullptr;
        if (at >= static_cast<std::int64_t>(minutes.size()))
            minutes.resize(static_cast<std::size_t>(at + 1));
        return &minutes[static_cast<std::size_t>(at)];
    }

    Fault FaultOf(const AccessLine& line, std::uint32_t file) const
    {
        if (line.status == 499)
            return FAULT_ABANDONED;
        if (line.status != 200)
            return static_cast<Fault>(line.status);
        const ServedFile& f = tree.File(file);
        if (!f.known)
            return line.vexa && !line.completed ? FAULT_CUT : FAULT_NONE;
        if (line.bytes == f.length)
            return FAULT_NONE;
        // Without $request_completion a short body is taken for a cut connection.
        return line.bytes < f.length && !(line.vexa && line.completed) ? FAULT_CUT : FAULT_WRONG;
    }

    void CountFetch(std::uint32_t file, std::uint32_t mirror, const AccessLine& line, Fault fault)
    {
        if (files.size() < tree.Files().size())
            files.resize(tree.Files().size());
        FileTally& f = files[file];
        MirrorTally& m = mirrors[mirror];
        ++f.fetches;
        ++m.fetches;
        f.bytes += line.bytes;
        if (fault == FAULT_NONE) {
            ++f.whole;
            return;
        }
        ++f.failed;
        ++m.failed;
        AddCause(f.causes, fault);
        AddCause(m.causes, fault);
    }

    // The release and share that served the player this line, and Zorvane's list of that share.
    // Texts of vexa lines repeat: the last one's number is kept.
    std::uint32_t Intern(CStringIndex& index, std::string_view text, std::uint32_t& kept)
    {
        if (kept == NONE || index.Key(kept) != text)
            kept = index.Add(text);
        return kept;
    }

    void Route(const AccessLine& line, Player& p, bool wantList, std::uint32_t& release, std::uint32_t& share,
               std::string_view& list)
    {
        const Share* s = nullptr;
        if (line.vexa) {
            share = Intern(shares, line.share, lastShare);
            if (!line.release.empty()) {
                if (lastRelease == NONE || tree.ReleaseName(lastRelease) != line.release)
                    lastRelease = tree.Release(line.release);
                release = lastRelease;
                s = wantList && !line.share.empty() ? routing.Named(line.share, line.time) : nullptr;
                list = s && s->release == line.release ? std::string_view(s->list) : std::string_view();
                return;
            }
            s = line.share.empty() ? nullptr : routing.Named(line.share, line.time);
        } else if (!routing.Empty()) {
            const CShareRouting::Route r = routing.At(line.address, line.time, p.routeState, p.routeShare);
            s = r.share;
            share = s ? Intern(shares, *r.name, lastShare) : 0;
        }
        if (s) {
            release = tree.Release(s->release);
            list = s->list;
            return;
        }
        if (unrouted == NONE)
            unrouted = tree.Release(std::string_view());
        release = unrouted;
    }

    void Close(Player& p, bool atEnd, const RolloutOptions* options)
    {
        Update& u = p.open;
        Outcome o;
        o.release = u.release;
        o.share = u.share;
        o.mirror = u.mirror;
        o.listSeen = u.listSeen;
        o.time = u.last;
        if (u.listSeen && u.listFault != FAULT_NONE) {
            o.verdict = Verdict::Failed;
            o.fault = u.listFault;
            o.file = u.listFile;
        } else if (u.files == 0) {
            o.verdict = Verdict::Current;
        } else if (!u.failing.empty()) {
            o.verdict = Verdict::Failed;
            o.file = u.failing.front().first;
            o.fault = u.failing.front().second;
        } else {
            o.verdict = Verdict::Completed;
        }
        if (atEnd && u.last > options->end - options->idle)
            o.verdict = Verdict::MidUpdate;
        if (Minute* m = MinuteOf(u.last)) {
            m->completed += o.verdict == Verdict::Completed ? 1 : 0;
            m->failed += o.verdict == Verdict::Failed ? 1 : 0;
        }
        u.active = false;
        u.failing.clear();
        for (Outcome& before : p.outcomes) {
            if (before.release != o.release)
                continue;
            if (!(o.verdict == Verdict::Current && before.verdict == Verdict::Completed))
                before = o;
            return;
        }
        p.outcomes.push_back(o);
    }

    void Add(const AccessLine& line, std::uint32_t mirror)
    {
        ++lines;
        vexaLines += line.vexa ? 1 : 0;
        if (lines == 1 || line.time < first)
            first = line.time;
        last = std::max(last, line.time);
        if (Minute* m = MinuteOf(line.time)) {
            ++m->requests;
            m->bytes += line.bytes;
        }
        MirrorTally& mt = mirrors[mirror];
        ++mt.requests;
        mt.bytes += line.bytes;
        fleet.Add(line.time, line.bytes, line.requestMs);
        mt.meter.Add(line.time, line.bytes, line.requestMs);
        if (line.method != "GET") {
            ++other;
            return;
        }
        const TargetInfo target = tree.Classify(line.target);
        if (target.kind == TargetKind::Other) {
            ++other;
            return;
        }
        bool added = false;
        const std::uint32_t id = playerKeys.Add(line.address, target.channel, added);
        if (added) {
            players.emplace_back();
            playerKeys.Bind(id);
        }
        Player& p = players[id];
        if (agents.Key(p.agent) != line.agent)
            p.agent = agents.Add(line.agent);
        if (mirror < 64)
            p.mirrors |= std::uint64_t(1) << mirror;

        std::uint32_t release = NONE;
        std::uint32_t share = 0;
        std::string_view list;
        Route(line, p, target.kind == TargetKind::ZorvaneList, release, share, list);
        if (target.kind == TargetKind::ZorvaneList || target.kind == TargetKind::QuilletList) {
            if (p.open.active)
                Close(p, false, nullptr);
            const std::uint32_t file = target.kind == TargetKind::ZorvaneList
                                           ? tree.ZorvaneList(release, list)
                                           : tree.QuilletList(release, target.channel);
            const Fault fault = FaultOf(line, file);
            CountFetch(file, mirror, line, fault);
            Update& u = p.open;
            u.active = u.listSeen = true;
            u.release = release;
            u.share = share;
            u.mirror = mirror;
            u.listFile = file;
            u.listFault = fault;
            u.last = line.time;
            u.files = 0;
            if (Minute* m = MinuteOf(line.time))
                ++m->checks;
            return;
        }
        const std::uint32_t file =
            target.kind == TargetKind::ZorvaneFile ? target.id : tree.QuilletFile(release, target.id);
        if (target.kind == TargetKind::ZorvaneFile)
            release = tree.File(file).release;
        Update& u = p.open;
        // An update begun before the window (no list seen) is of one release:
        // a Zorvane file of another begins another.
        if (u.active && !u.listSeen && u.release != release)
            Close(p, false, nullptr);
        if (!u.active) {
            u = Update{};
            u.active = true;
            u.release = release;
            u.share = share;
            u.mirror = mirror;
        }
        const Fault fault = FaultOf(line, file);
        CountFetch(file, mirror, line, fault);
        u.last = line.time;
        ++u.files;
        auto it = std::find_if(u.failing.begin(), u.failing.end(),
                               [file](const std::pair<std::uint32_t, Fault>& f) { return f.first == file; });
        if (fault == FAULT_NONE) {
            if (it != u.failing.end())
                u.failing.erase(it);
        } else if (it != u.failing.end()) {
            it->second = fault;
        } else {
            u.failing.emplace_back(file, fault);
        }
    }
};

CRolloutTally::CRolloutTally(CServedTree& tree, const CShareRouting& routing, std::vector<std::string> mirrors)
    : m_state(new State(tree, routing, std::move(mirrors)))
{
}

CRolloutTally::~CRolloutTally()
{
    delete m_state;
}

void CRolloutTally::Add(const AccessLine& line, std::uint32_t mirror)
{
    m_state->Add(line, mirror);
}

std::size_t CRolloutTally::Players() const
{
    return m_state->players.size();
}

namespace {

std::int64_t ChooseInterval(std::int64_t span)
{
    static const std::int64_t steps[] = {60, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    for (const std::int64_t s : steps) {
        if (span / s < 48)
            return s;
    }
    return 86400 * ((span / 86400) / 48 + 1);
}

std::int64_t FloorTo(std::int64_t t, std::int64_t step)
{
    return (t >= 0 ? t / step : (t - step + 1) / step) * step;
}

} // namespace

RolloutFigures CRolloutTally::Finish(const RolloutOptions& options)
{
    State& s = *m_state;
    RolloutFigures out;
    out.lines = s.lines + m_malformed + m_outside;
    out.malformed = m_malformed;
    out.outside = m_outside;
    out.other = s.other;
    out.vexaLines = s.vexaLines;
    out.first = s.first;
    out.last = s.last;
    out.end = options.end;
    out.idle = options.idle;
    out.allPlayers = options.allPlayers;

    for (Player& p : s.players) {
        if (p.open.active)
            s.Close(p, true, &options);
    }
    const auto wanted = [&](std::uint32_t release) {
        return options.release.empty() || s.tree.ReleaseName(release) == options.release;
    };
    const auto releaseName = [&](std::uint32_t release) {
        const std::string_view name = s.tree.ReleaseName(release);
        return name.empty() ? std::string("(none served)") : std::string(name);
    };

    // Per release, channel and share; per mirror; the players.
    std::map<std::tuple<std::string, std::string, std::string>, VerdictCounts> rows;
    out.mirrors.resize(s.mirrors.size());
    for (std::uint32_t id = 0; id < s.players.size(); ++id) {
        const Player& p = s.players[id];
        const auto [address, channel] = s.playerKeys.Of(id);
        for (std::size_t m = 0; m < s.mirrors.size() && m < 64; ++m)
            out.mirrors[m].players += (p.mirrors >> m) & 1;
        for (const Outcome& o : p.outcomes) {
            if (!wanted(o.release))
                continue;
            const std::string release = releaseName(o.release);
            const std::string share(s.shares.Key(o.share));
            rows[{release, s.tree.ChannelName(channel), share}].Add(o.verdict, o.fault, o.listSeen);
            out.mirrors[o.mirror].counts.Add(o.verdict, o.fault, o.listSeen);
            if (!options.allPlayers && o.verdict != Verdict::Failed)
                continue;
            PlayerRow row;
            row.address = address;
            row.agent = std::string(s.agents.Key(p.agent));
            row.channel = s.tree.ChannelName(channel);
            row.release = release;
            row.share = share;
            row.mirror = s.mirrorNames[o.mirror];
            row.verdict = o.verdict;
            row.fault = o.fault;
            row.file = o.file == NONE ? std::string() : s.tree.File(o.file).path;
            row.time = o.time;
            out.players.push_back(std::move(row));
        }
    }
    for (auto& [k, counts] : rows)
        out.shares.push_back({std::get<0>(k), std::get<1>(k), std::get<2>(k), counts});
    std::sort(out.players.begin(), out.players.end(), [](const PlayerRow& a, const PlayerRow& b) {
        return std::tie(a.release, a.channel, a.address) < std::tie(b.release, b.channel, b.address);
    });

    for (std::uint32_t id = 0; id < s.files.size(); ++id) {
        const FileTally& f = s.files[id];
        const ServedFile& served = s.tree.File(id);
        if (f.fetches == 0 || !wanted(served.release))
            continue;
        FileRow row;
        row.release = releaseName(served.release);
        row.channel = s.tree.ChannelName(served.channel);
        row.path = served.path;
        row.list = served.list;
        row.known = served.known;
        row.length = served.length;
        row.fetches = f.fetches;
        row.whole = f.whole;
        row.failed = f.failed;
        row.bytes = f.bytes;
        row.causes = CauseMap(f.causes);
        out.files.push_back(std::move(row));
    }
    std::sort(out.files.begin(), out.files.end(), [](const FileRow& a, const FileRow& b) {
        if (a.failed != b.failed)
            return a.failed > b.failed;
        if (a.fetches != b.fetches)
            return a.fetches > b.fetches;
        return std::tie(a.release, a.channel, a.path) < std::tie(b.release, b.channel, b.path);
    });

    std::uint64_t allFetches = 0;
    std::uint64_t allFailed = 0;
    for (std::size_t m = 0; m < s.mirrors.size(); ++m) {
        MirrorTally& t = s.mirrors[m];
        MirrorRow& row = out.mirrors[m];
        row.name = s.mirrorNames[m];
        row.requests = t.requests;
        row.bytes = t.bytes;
        row.fetches = t.fetches;
        row.failed = t.failed;
        row.causes = CauseMap(t.causes);
        row.peaks = t.meter.Finish();
        allFetches += t.fetches;
        allFailed += t.failed;
    }
    // A mirror fails more than the others when its share of failed fetches is
    // over twice theirs together, and it is more than a failure or two.
    for (MirrorRow& row : out.mirrors) {
        const std::uint64_t otherFetches = allFetches - row.fetches;
        const std::uint64_t otherFailed = allFailed - row.failed;
        if (out.mirrors.size() < 2 || row.failed < 3 || otherFetches == 0)
            continue;
        row.failsMore = row.FailureRate() > 2.0 * static_cast<double>(otherFailed) / static_cast<double>(otherFetches);
    }
    out.peaks = s.fleet.Finish();

    if (!s.minutes.empty()) {
        const std::int64_t from = s.firstMinute * 60;
        const std::int64_t to = (s.firstMinute + static_cast<std::int64_t>(s.minutes.size())) * 60;
        out.interval = options.interval > 0 ? options.interval : ChooseInterval(to - from);
        const std::int64_t start = FloorTo(from, out.interval);
        out.intervals.resize(static_cast<std::size_t>((to - 1 - start) / out.interval + 1));
        for (std::size_t i = 0; i < out.intervals.size(); ++i)
            out.intervals[i].from = start + static_cast<std::int64_t>(i) * out.interval;
        for (std::size_t i = 0; i < s.minutes.size(); ++i) {
            const Minute& m = s.minutes[i];
            IntervalRow& row =
                out.intervals[static_cast<std::size_t>((from + static_cast<std::int64_t>(i) * 60 - start) / out.interval)];
            row.checks += m.checks;
            row.completed += m.completed;
            row.failed += m.failed;
            row.requests += m.requests;
            row.bytes += m.bytes;
        }
    }
    return out;
}

void VerdictCounts::Add(Verdict verdict, Fault fault, bool listSeen)
{
    ++players;
    checked += listSeen ? 1 : 0;
    switch (verdict) {
    case Verdict::Current:
        ++current;
        break;
    case Verdict::Completed:
        ++completed;
        break;
    case Verdict::Failed:
        ++failed;
        ++causes[fault];
        break;
    case Verdict::MidUpdate:
        ++midUpdate;
        break;
    }
}

void VerdictCounts::Add(const VerdictCounts& other)
{
    players += other.players;
    checked += other.checked;
    current += other.current;
    completed += other.completed;
    failed += other.failed;
    midUpdate += other.midUpdate;
    for (const auto& [fault, n] : other.causes)
        causes[fault] += n;
}

void CShareRouting::AddState(std::int64_t at, ShareState state)
{
    std::vector<std::string> names;
    for (const Share& s : state.shares)
        names.push_back(s.Name());
    m_names.push_back(std::move(names));
    m_states.emplace_back(at, std::move(state));
}

std::uint32_t CShareRouting::StateAt(std::int64_t time) const
{
    // The last state that began at or before the time; the first one before it.
    auto it = std::upper_bound(m_states.begin(), m_states.end(), time,
                               [](std::int64_t t, const std::pair<std::int64_t, ShareState>& s) { return t < s.first; });
    return it == m_states.begin() ? 0 : static_cast<std::uint32_t>(it - m_states.begin() - 1);
}

CShareRouting::Route CShareRouting::At(std::string_view address, std::int64_t time, std::uint32_t& cacheState,
                                       std::uint32_t& cacheShare) const
{
    Route r;
    if (m_states.empty())
        return r;
    const std::uint32_t state = StateAt(time);
    const ShareState& st = m_states[state].second;
    if (state != cacheState) {
        const std::optional<std::size_t> share = ShareOfAddress(st, address);
        cacheState = state;
        cacheShare = share ? static_cast<std::uint32_t>(*share) : NONE;
    }
    if (cacheShare != NONE) {
        r.share = &st.shares[cacheShare];
        r.name = &m_names[state][cacheShare];
    }
    return r;
}

const Share* CShareRouting::Named(std::string_view name, std::int64_t time) const
{
    if (m_states.empty())
        return nullptr;
    const std::uint32_t state = StateAt(time);
    const std::vector<std::string>& names = m_names[state];
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return &m_states[state].second.shares[i];
    }
    return nullptr;
}

std::vector<FailOverLine> CheckFailOver(const RolloutFigures& figures, double pct)
{
    std::map<std::string, VerdictCounts> byRelease;
    for (const ShareRow& row : figures.shares)
        byRelease[row.release].Add(row.counts);
    std::vector<FailOverLine> lines;
    for (const auto& [release, counts] : byRelease) {
        FailOverLine line;
        line.release = release;
        line.started = counts.Started();
        line.failed = counts.failed;
        line.over = static_cast<double>(line.failed) * 100.0 > pct * static_cast<double>(line.started);
        lines.push_back(line);
    }
    return lines;
}

std::string FaultText(Fault fault)
{
    switch (fault) {
    case FAULT_NONE:
        return "whole";
    case FAULT_CUT:
        return "cut short";
    case FAULT_WRONG:
        return "wrong length";
    case FAULT_ABANDONED:
        return "abandoned";
    default:
        return "status " + std::to_string(fault);
    }
}

const char* VerdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Current:
        return "current";
    case Verdict::Completed:
        return "completed";
    case Verdict::Failed:
        return "failed";
    case Verdict::MidUpdate:
        return "mid-update";
    }
    return "";
}

std::string ShowVolume(double bytes)
{
    static const char* const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string ShowCount(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

std::string ShowTime(std::int64_t seconds)
{
    std::string iso = IsoTime(seconds);
    iso[10] = ' ';
    iso.pop_back();
    return iso;
}
