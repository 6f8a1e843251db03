#include "GoLive.h"

#include <map>

#include "Utf8.h"

namespace {

// As the change summaries name a place: "data\cards.dat".
std::string Shown(const ListedFile& e)
{
    return Utf8FromWide(JoinFullPath(L"", e.LocalPath, e.FileName).substr(1));
}

bool SameTime(FileTimeValue a, FileTimeValue b)
{
    return CompareFileTimes(a, b) == 0;
}

// The go-live time, or a second past the time the share was served where that
// lies later still (a build machine whose clock ran ahead).
FileTimeValue LaterThan(FileTimeValue when, const ListedFile* served)
{
    if (!served || CompareFileTimes(served->FileTime, when) < 0)
        return when;
    const std::uint64_t t = (static_cast<std::uint64_t>(served->FileTime.High) << 32 | served->FileTime.Low) + 10000000;
    return FileTimeValue{static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(t >> 32)};
}

} // namespace

GoLiveResult GoLiveList(const GoLiveInput& input)
{
    GoLiveResult result;
    result.entries = *input.next;
    if (!input.served || !input.servedPublished)
        return result; // nothing was served: the times as published
    std::map<std::wstring, const ListedFile*> published;
    std::map<std::wstring, const ListedFile*> served;
    for (const ListedFile& e : *input.servedPublished)
        published.emplace(PlaceKey(e), &e);
    for (const ListedFile& e : *input.served)
        served.emplace(PlaceKey(e), &e);

    for (ListedFile& e : result.entries) {
        const std::wstring key = PlaceKey(e);
        const auto p = published.find(key);
        const auto s = served.find(key);
        if (p != published.end() && s != served.end()) {
            const ListedFile& before = *p->second;
            std::optional<bool> same = input.sameBytes ? input.sameBytes(e, before) : std::nullopt;
            if (!same)
                same = e.Length == before.Length && e.FileVersion == before.FileVersion &&
                       SameTime(e.FileTime, before.FileTime);
            if (*same && e.Length == before.Length) {
                // Served as before: the share's own version and time of it.
                e.FileVersion = s->second->FileVersion;
                e.ProductVersion = s->second->ProductVersion;
                e.FileTime = s->second->FileTime;
                ++result.unchanged;
                continue;
            }
        }
        const ListedFile* was = s == served.end() ? nullptr : s->second;
        if (e.FileVersion.empty()) {
            e.FileTime = LaterThan(input.when, was);
            result.newTime.push_back(Shown(e));
            continue;
        }
        // The version the share's players hold: as served, or as published where
        // the share is served the file by its time.
        std::wstring held;
        if (s != served.end())
            held = s->second->FileVersion;
        if (held.empty() && p != published.end())
            held = p->second->FileVersion;
        if (!held.empty() && !IsVersionBelow(held, e.FileVersion)) {
            e.FileVersion.clear();
            e.ProductVersion.clear();
            e.FileTime = LaterThan(input.when, was);
            result.rolledBack.push_back(Shown(e));
        }
    }
    return result;
}
