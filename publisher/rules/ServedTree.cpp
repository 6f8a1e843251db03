#include "ServedTree.h"

#include "AccessLog.h"
#include "ZorvaneList.h"

namespace {

// Targets remembered with what they ask for; past this, odd targets (probes,
// one-off query strings) are decoded every time instead of filling memory.
constexpr std::size_t TARGETS_KEPT = 1u << 18;
// Quillet folders that players may name beyond the tree's.
constexpr std::size_t CHANNELS_KEPT = 1000;

const std::string_view RELEASES = "/releases/";
const std::string_view QUILLET = "/Vexaupdate/";

std::string Key(char kind, std::uint32_t a, std::uint32_t b, std::string_view path)
{
    std::string key;
    key.reserve(path.size() + 24);
    key.push_back(kind);
    key += std::to_string(a);
    key.push_back('\n');
    key += std::to_string(b);
    key.push_back('\n');
    key.append(path.data(), path.size());
    return key;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

CServedTree::CServedTree()
{
    m_folders.Add(std::string_view()); // channel 0: Zorvane
}

std::uint32_t CServedTree::QuilletChannel(std::string_view folder)
{
    return m_folders.Add(folder);
}

std::string CServedTree::ChannelName(std::uint32_t channel) const
{
    if (channel == CHANNEL_ZORVANE)
        return "Zorvane";
    return "Quillet " + std::string(m_folders.Key(channel));
}

std::uint32_t CServedTree::AddFile(ServedFile file, std::string_view key)
{
    bool added = false;
    const std::uint32_t id = m_fileKeys.Add(key, &added);
    if (added) {
        m_files.push_back(std::move(file));
    } else if (file.known) {
        m_files[id] = std::move(file);
    }
    return id;
}

void CServedTree::AddZorvaneFile(std::string_view release, std::string_view path, std::uint64_t length)
{
    const std::uint32_t r = Release(release);
    ServedFile f{r, CHANNEL_ZORVANE, std::string(path), length, true, false};
    const std::uint32_t id = AddFile(std::move(f), Key('z', r, 0, path));
    // The target as Zorvane's list names it, as nginx logs it.
    const std::string target = std::string(RELEASES) + std::string(release) + "/files/" + EncodeUrlPath(std::string(path));
    const std::uint32_t t = m_targets.Add(target);
    m_targetInfo.resize(m_targets.Size());
    m_targetInfo[t] = {TargetKind::ZorvaneFile, CHANNEL_ZORVANE, id};
}

void CServedTree::AddZorvaneList(std::string_view release, std::string_view listPath, std::uint64_t length)
{
    m_lastList = {};
    const std::uint32_t r = Release(release);
    const std::string_view name = listPath.substr(listPath.rfind('/') + 1);
    AddFile({r, CHANNEL_ZORVANE, std::string(name), length, true, true}, Key('l', r, 0, listPath));
}

void CServedTree::AddQuilletList(std::string_view release, std::string_view folder, std::uint64_t length)
{
    const std::uint32_t r = Release(release);
    const std::uint32_t c = QuilletChannel(folder);
    AddFile({r, c, "filelist.list", length, true, true}, Key('q', r, c, "filelist.list"));
}

void CServedTree::AddQuilletFile(std::string_view release, std::string_view folder, std::string_view path,
                                 std::string_view display, std::uint64_t length)
{
    const std::uint32_t r = Release(release);
    const std::uint32_t c = QuilletChannel(folder);
    const std::uint32_t p = QuilletPath(c, path, display);
    AddFile({r, c, std::string(display), length, true, false}, Key('f', r, p, ""));
    // The target as Quillet sends it ("%20" for a blank), as nginx logs it.
    std::string sent;
    for (const char ch : path)
        sent += ch == ' ' ? std::string("%20") : std::string(1, ch);
    const std::string target =
        std::string(QUILLET) + std::string(folder) + "/release/" + EscapeAsLogged(sent);
    const std::uint32_t t = m_targets.Add(target);
    m_targetInfo.resize(m_targets.Size());
    m_targetInfo[t] = {TargetKind::QuilletFile, c, p};
}

std::uint32_t CServedTree::QuilletPath(std::uint32_t channel, std::string_view path, std::string_view display)
{
    bool added = false;
    const std::uint32_t id = m_quilletPaths.Add(Key('p', channel, 0, path), &added);
    if (added)
        m_quilletPathInfo.emplace_back(channel, std::string(display));
    return id;
}

namespace {

std::uint32_t& Cached(std::vector<std::vector<std::uint32_t>>& cache, std::uint32_t a, std::uint32_t b)
{
    if (cache.size() <= a)
        cache.resize(a + 1);
    if (cache[a].size() <= b)
        cache[a].resize(b + 1, CStringIndex::NONE);
    return cache[a][b];
}

} // namespace

std::uint32_t CServedTree::QuilletFile(std::uint32_t release, std::uint32_t path)
{
    std::uint32_t& cached = Cached(m_quilletFiles, release, path);
    if (cached != CStringIndex::NONE)
        return cached;
    const std::string key = Key('f', release, path, "");
    cached = m_fileKeys.Find(key);
    if (cached == CStringIndex::NONE) {
        const auto& [channel, display] = m_quilletPathInfo[path];
        cached = AddFile({release, channel, display, 0, false, false}, key);
    }
    return cached;
}

std::uint32_t CServedTree::QuilletList(std::uint32_t release, std::uint32_t channel)
{
    std::uint32_t& cached = Cached(m_quilletLists, release, channel);
    if (cached != CStringIndex::NONE)
        return cached;
    const std::string key = Key('q', release, channel, "filelist.list");
    cached = m_fileKeys.Find(key);
    if (cached == CStringIndex::NONE)
        cached = AddFile({release, channel, "filelist.list", 0, false, true}, key);
    return cached;
}

std::uint32_t CServedTree::ZorvaneList(std::uint32_t release, std::string_view listPath)
{
    // Lines of one share name the same list, kept by the shares' state.
    if (m_lastList.release == release && m_lastList.list == listPath.data() && m_lastList.size == listPath.size())
        return m_lastList.id;
    m_lastList = {release, listPath.data(), listPath.size(), FindZorvaneList(release, listPath)};
    return m_lastList.id;
}

std::uint32_t CServedTree::FindZorvaneList(std::uint32_t release, std::string_view listPath)
{
    if (!listPath.empty()) {
        const std::uint32_t id = m_fileKeys.Find(Key('l', release, 0, listPath));
        if (id != CStringIndex::NONE)
            return id;
    }
    // Which of the release's lists the share was served is not known (no
    // shares' history): its length is not either; the one as published is not
    // what the players get once it goes live.
    const std::string key = Key('l', release, 0, "");
    const std::uint32_t id = m_fileKeys.Find(key);
    if (id != CStringIndex::NONE)
        return id;
    return AddFile({release, CHANNEL_ZORVANE, "Update.xml", 0, false, true}, key);
}

TargetInfo CServedTree::Classify(std::string_view loggedTarget)
{
    const std::uint32_t t = m_targets.Find(loggedTarget);
    if (t != CStringIndex::NONE)
        return m_targetInfo[t];
    const TargetInfo info = ClassifyDecoded(DecodeLoggedTarget(loggedTarget));
    if (m_targets.Size() < TARGETS_KEPT) {
        m_targets.Add(loggedTarget);
        m_targetInfo.push_back(info);
    }
    return info;
}

TargetInfo CServedTree::ClassifyDecoded(const std::string& path)
{
    TargetInfo info;
    if (path == "/Update.xml") {
        info.kind = TargetKind::ZorvaneList;
        return info;
    }
    const std::string_view p(path);
    if (StartsWith(p, RELEASES)) {
        const std::string_view rest = p.substr(RELEASES.size());
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos || !StartsWith(rest.substr(slash), "/files/"))
            return info;
        const std::uint32_t r = FindRelease(rest.substr(0, slash));
        if (r == CStringIndex::NONE)
            return info;
        const std::uint32_t id = m_fileKeys.Find(Key('z', r, 0, rest.substr(slash + 7)));
        if (id != CStringIndex::NONE)
            info = {TargetKind::ZorvaneFile, CHANNEL_ZORVANE, id};
        return info;
    }
    if (!StartsWith(p, QUILLET))
        return info;
    const std::string_view rest = p.substr(QUILLET.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0)
        return info;
    const std::string_view folder = rest.substr(0, slash);
    const std::string_view below = rest.substr(slash);
    std::uint32_t channel = m_folders.Find(folder);
    if (below == "/filelist.list") {
        if (channel == CStringIndex::NONE && m_folders.Size() < CHANNELS_KEPT)
            channel = QuilletChannel(folder);
        if (channel != CStringIndex::NONE)
            info = {TargetKind::QuilletList, channel, 0};
        return info;
    }
    if (channel == CStringIndex::NONE || !StartsWith(below, "/release/"))
        return info;
    const std::uint32_t id = m_quilletPaths.Find(Key('p', channel, 0, below.substr(9)));
    if (id != CStringIndex::NONE)
        info = {TargetKind::QuilletFile, channel, id};
    return info;
}
