#include "Shares.h"

#include <cstdio>
#include <sstream>

#include "Crc32.h"

namespace {

const char* const HEADER = "# vexa-publish shares: written by vexa-publish, never by hand; `vexa-publish status` reads it";

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

// "0.00-10.00" back to its bounds.
bool ParseShareName(std::string_view text, int& from, int& to)
{
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos)
        return false;
    const std::optional<int> a = ParsePercent(text.substr(0, dash));
    const std::optional<int> b = ParsePercent(text.substr(dash + 1));
    if (!a || !b)
        return false;
    from = *a;
    to = *b;
    return true;
}

std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

} // namespace

std::string Share::Name() const
{
    std::string a = ShowPercent(from);
    std::string b = ShowPercent(to);
    a.pop_back();
    b.pop_back();
    return a + "-" + b;
}

int ShareState::PercentOf(const std::string& release) const
{
    int total = 0;
    for (const Share& s : shares)
        total += s.release == release ? s.to - s.from : 0;
    return total;
}

int ShareState::ReachOf(const std::string& release) const
{
    int reach = 0;
    for (const Share& s : shares) {
        if (s.from != reach || s.release != release)
            break;
        reach = s.to;
    }
    return reach;
}

std::uint32_t NginxHash(std::string_view key)
{
    const auto* data = reinterpret_cast<const unsigned char*>(key.data());
    std::size_t len = key.size();
    std::uint32_t h = static_cast<std::uint32_t>(len);
    while (len >= 4) {
        std::uint32_t k = data[0];
        k |= static_cast<std::uint32_t>(data[1]) << 8;
        k |= static_cast<std::uint32_t>(data[2]) << 16;
        k |= static_cast<std::uint32_t>(data[3]) << 24;
        k *= 0x5bd1e995;
        k ^= k >> 24;
        k *= 0x5bd1e995;
        h *= 0x5bd1e995;
        h ^= k;
        data += 4;
        len -= 4;
    }
    switch (len) {
    case 3:
        h ^= static_cast<std::uint32_t>(data[2]) << 16;
        [[fallthrough]];
    case 2:
        h ^= static_cast<std::uint32_t>(data[1]) << 8;
        [[fallthrough]];
    case 1:
        h ^= data[0];
        h *= 0x5bd1e995;
    }
    h ^= h >> 13;
    h *= 0x5bd1e995;
    h ^= h >> 15;
    return h;
}

std::optional<std::size_t> ShareOfAddress(const ShareState& state, std::string_view address)
{
    if (state.shares.empty())
        return std::nullopt;
    const std::uint32_t hash = NginxHash(state.salt + std::string(address));
    // nginx adds each part's percentage scaled to 2^32 - 1, rounded down part by
    // part; the last part is written "*" and takes the rest.
    std::uint64_t last = 0;
    for (std::size_t i = 0; i + 1 < state.shares.size(); ++i) {
        last += static_cast<std::uint64_t>(state.shares[i].to - state.shares[i].from) * 0xffffffffull / SHARE_WHOLE;
        if (hash < last)
            return i;
    }
    return state.shares.size() - 1;
}

std::optional<int> ParsePercent(std::string_view text)
{
    if (!text.empty() && text.back() == '%')
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    int whole = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        whole = whole * 10 + (text[i] - '0');
        if (whole > 100)
            return std::nullopt;
    }
    if (i == 0)
        return std::nullopt;
    int hundredths = 0;
    if (i < text.size()) {
        if (text[i] != '.' || i + 1 == text.size() || text.size() - i - 1 > 2)
            return std::nullopt;
        int scale = 10;
        for (++i; i < text.size(); ++i, scale /= 10) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            hundredths += (text[i] - '0') * scale;
        }
    }
    const int value = whole * 100 + hundredths;
    if (value > SHARE_WHOLE)
        return std::nullopt;
    return value;
}

std::string ShowPercent(int hundredths)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d%%", hundredths / 100, hundredths % 100);
    return text;
}

std::string IsoTime(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

std::optional<std::int64_t> ParseIsoTime(std::string_view text)
{
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    char z = 0;
    const std::string s(text);
    if (s.size() != 20 || std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &m, &d, &hh, &mm, &ss, &z) != 7 ||
        z != 'Z' || m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60)
        return std::nullopt;
    // Days since 1970-01-01 from a civil date.
    const int yy = y - (m <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + hh * 3600 + mm * 60 + ss;
}

bool IsReleaseName(std::string_view name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.' || name[0] == '-')
        return false;
    for (char c : name) {
        if (!IsNameChar(c))
            return false;
    }
    return true;
}

bool IsSalt(std::string_view salt)
{
    return salt.empty() || IsReleaseName(salt);
}

namespace {

// The comment lines of a state, as the shares file holds them.
std::string StateLines(const ShareState& state)
{
    std::string out = "# salt " + state.salt + "\n";
    for (const Share& s : state.shares)
        out += "# share " + s.Name() + " " + s.release + " " + s.list + " " + IsoTime(s.since) + "\n";
    if (!state.halted.empty())
        out += "# halted " + state.halted + "\n";
    return out;
}

} // namespace

std::string WriteNginxShares(const ShareState& state)
{
    std::string out = std::string(HEADER) + "\n" + StateLines(state);
    if (state.shares.empty()) {
        // Nothing is live: every list answers 404.
        out += "map $remote_addr $vexa_share { default \"\"; }\n";
    } else {
        out += "split_clients \"" + state.salt + "${remote_addr}\" $vexa_share {\n";
        for (std::size_t i = 0; i < state.shares.size(); ++i) {
            const Share& s = state.shares[i];
            const std::string part = i + 1 == state.shares.size() ? "*" : ShowPercent(s.to - s.from);
            out += "    " + part + " \"" + s.Name() + "\";\n";
        }
        out += "}\n";
    }
    out += "map $vexa_share $vexa_release {\n    default \"\";\n";
    for (const Share& s : state.shares)
        out += "    \"" + s.Name() + "\" \"" + s.release + "\";\n";
    out += "}\nmap $vexa_share $vexa_update_list {\n    default \"\";\n";
    for (const Share& s : state.shares)
        out += "    \"" + s.Name() + "\" \"" + s.list + "\";\n";
    out += "}\n";
    // Which shares a server uses, for its answers' X-Vexa-Shares header.
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%08x", Crc32(CRC32_START, out.data(), out.size()) ^ 0xffffffffu);
    out += "map $uri $vexa_shares_stamp {\n    default \"" + std::string(stamp) + "\";\n}\n";
    return out;
}

std::optional<ShareState> ReadNginxShares(std::string_view text, std::string& error)
{
    ShareState state;
    std::istringstream in{std::string(text)};
    std::string line;
    bool header = false;
    bool salt = false;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("# ", 0) != 0)
            continue;
        if (line == HEADER) {
            header = true;
            continue;
        }
        const std::vector<std::string> w = Words(line.substr(2));
        const auto bad = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        };
        if (w.empty())
            continue;
        if (w[0] == "salt") {
            if (w.size() > 2 || (w.size() == 2 && !IsSalt(w[1])))
                return bad("the salt is letters, digits, \".\", \"-\" and \"_\"");
            state.salt = w.size() == 2 ? w[1] : "";
            salt = true;
        } else if (w[0] == "share") {
            Share s;
            std::optional<std::int64_t> since;
            if (w.size() != 5 || !ParseShareName(w[1], s.from, s.to) || s.from >= s.to || !IsReleaseName(w[2]) ||
                w[3].empty() || w[3][0] != '/' || !(since = ParseIsoTime(w[4])))
                return bad("a share is \"# share FROM-TO RELEASE /LIST TIME\"");
            const int expected = state.shares.empty() ? 0 : state.shares.back().to;
            if (s.from != expected)
                return bad("the shares leave a gap or overlap at " + ShowPercent(expected));
            s.release = w[2];
            s.list = w[3];
            s.since = *since;
            state.shares.push_back(s);
        } else if (w[0] == "halted") {
            if (w.size() != 2 || !IsReleaseName(w[1]))
                return bad("\"# halted RELEASE\"");
            state.halted = w[1];
        }
    }
    if (!header || !salt) {
        error = "not a file of vexa-publish's shares";
        return std::nullopt;
    }
    if (!state.shares.empty() && state.shares.back().to != SHARE_WHOLE) {
        error = "the shares end at " + ShowPercent(state.shares.back().to) + ", not at 100%";
        return std::nullopt;
    }
    return state;
}

std::string WriteHistoryEntry(const ShareHistoryEntry& entry)
{
    return "# at " + IsoTime(entry.at) + " " + entry.what + "\n" + HEADER + "\n" + StateLines(entry.state);
}

std::vector<ShareHistoryEntry> ReadShareHistory(std::string_view text, std::vector<std::string>& errors)
{
    std::vector<ShareHistoryEntry> entries;
    const std::string all(text);
    std::size_t at = all.rfind("# at ", 0) == 0 ? 0 : all.find("\n# at ");
    while (at != std::string::npos) {
        if (all[at] == '\n')
            ++at;
        const std::size_t next = all.find("\n# at ", at);
        const std::string block = all.substr(at, next == std::string::npos ? std::string::npos : next + 1 - at);
        const std::string head = block.substr(0, block.find('\n'));
        const std::vector<std::string> w = Words(head.substr(2));
        std::string error;
        const std::optional<std::int64_t> when = w.size() >= 2 ? ParseIsoTime(w[1]) : std::nullopt;
        std::optional<ShareState> state = ReadNginxShares(block, error);
        if (!when || !state) {
            errors.push_back(head + ": " + (when ? error : "no time"));
        } else {
            ShareHistoryEntry e;
            e.at = *when;
            for (std::size_t i = 2; i < w.size(); ++i)
                e.what += (i == 2 ? "" : " ") + w[i];
            e.state = std::move(*state);
            entries.push_back(std::move(e));
        }
        at = next;
    }
    return entries;
}

std::vector<ShareSwitch> PlanRollout(const ShareState& state, const std::string& release, int upTo,
                                     ShareState& after)
{
    after = state;
    after.shares.clear();
    std::vector<ShareSwitch> switches;
    if (state.shares.empty()) {
        // The first release: everybody at once, whatever the percentage says,
        // since there is nothing else to serve the others.
        Share s;
        s.from = 0;
        s.to = SHARE_WHOLE;
        s.release = release;
        after.shares.push_back(s);
        switches.push_back({Share{}, 0, SHARE_WHOLE});
        return switches;
    }
    for (const Share& s : state.shares) {
        if (s.release == release || s.from >= upTo) {
            after.shares.push_back(s);
            continue;
        }
        const int cut = std::min(s.to, upTo);
        Share moved;
        moved.from = s.from;
        moved.to = cut;
        moved.release = release;
        after.shares.push_back(moved);
        switches.push_back({s, s.from, cut});
        if (cut < s.to) {
            Share rest = s;
            rest.from = cut;
            after.shares.push_back(rest);
        }
    }
    return switches;
}

void MergeShares(ShareState& state)
{
    std::vector<Share> merged;
    for (const Share& s : state.shares) {
        if (!merged.empty() && merged.back().release == s.release && merged.back().list == s.list) {
            merged.back().to = s.to;
            merged.back().since = std::max(merged.back().since, s.since);
            continue;
        }
        merged.push_back(s);
    }
    state.shares = merged;
}

std::string SharesStamp(std::string_view text)
{
    const std::string key = "map $uri $vexa_shares_stamp {\n    default \"";
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos || at + key.size() + 8 > text.size())
        return std::string();
    return std::string(text.substr(at + key.size(), 8));
}
