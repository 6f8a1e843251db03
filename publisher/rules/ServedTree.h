#pragma once

// What the server's tree serves, as the report reads requests against it. The
// releases lie side by side below the root:
//
//   releases/<R>/Update.xml, releases/<R>/lists/Update-<hex>.xml   Zorvane's lists
//   releases/<R>/files/<path>                                       Zorvane's files
//   releases/<R>/Vexaupdate/<folder>/filelist.list                  Quillet's list
//   releases/<R>/Vexaupdate/<folder>/release/<path, GBK>            Quillet's files
//
// Players ask for /Update.xml and /releases/<R>/files/<percent-encoded UTF-8>
// (Zorvane), /Vexaupdate/<folder>/filelist.list and /Vexaupdate/<folder>/release/
// <GBK path> (Quillet); nginx picks the release of the first three by the
// player's share. A channel is one list that players follow: Zorvane's, or
// Quillet's of one folder ("plat", or a game's number).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StringIndex.h"

constexpr std::uint32_t CHANNEL_ZORVANE = 0;

struct ServedFile {
    std::uint32_t release = 0;
    std::uint32_t channel = CHANNEL_ZORVANE;
    std::string path;        // for people: below the release's files, UTF-8; a list's own name
    std::uint64_t length = 0;
    bool known = false;      // false: not in the tree, the length is unknown
    bool list = false;
};

enum class TargetKind : std::uint8_t { Other, ZorvaneList, QuilletList, ZorvaneFile, QuilletFile };

struct TargetInfo {
    TargetKind kind = TargetKind::Other;
    std::uint32_t channel = CHANNEL_ZORVANE;
    std::uint32_t id = 0; // ZorvaneFile: the file; QuilletFile: the path, for QuilletFile()
};

class CServedTree {
public:
    CServedTree();

    // A release by name, added when new (a log may name a release the tree lacks).
    std::uint32_t Release(std::string_view name) { return m_releases.Add(name); }
    std::uint32_t FindRelease(std::string_view name) const { return m_releases.Find(name); }
    std::string_view ReleaseName(std::uint32_t release) const { return m_releases.Key(release); }
    std::size_t Releases() const { return m_releases.Size(); }
    // Quillet's channel of a folder, added when new.
    std::uint32_t QuilletChannel(std::string_view folder);
    // "Zorvane", "Quillet plat".
    std::string ChannelName(std::uint32_t channel) const;

    void AddZorvaneFile(std::string_view release, std::string_view path, std::uint64_t length);
    // The list as its path below the root: "/releases/2.0.14/lists/Update-1a2b3c4d.xml".
    void AddZorvaneList(std::string_view release, std::string_view listPath, std::uint64_t length);
    void AddQuilletList(std::string_view release, std::string_view folder, std::uint64_t length);
    // The path below the folder's release/ in the GBK bytes that Quillet asks
    // for, and the same in UTF-8 for people.
    void AddQuilletFile(std::string_view release, std::string_view folder, std::string_view path,
                        std::string_view display, std::uint64_t length);

    // What a logged request target asks for.
    TargetInfo Classify(std::string_view loggedTarget);

    // The files a request reaches; a release without them gets an entry of
    // unknown length, so that what players asked for is still counted.
    std::uint32_t QuilletFile(std::uint32_t release, std::uint32_t path);
    std::uint32_t QuilletList(std::uint32_t release, std::uint32_t channel);
    // The list a share was served, or one of unknown length when that is not known.
    std::uint32_t ZorvaneList(std::uint32_t release, std::string_view listPath);

    const std::vector<ServedFile>& Files() const { return m_files; }
    const ServedFile& File(std::uint32_t id) const { return m_files[id]; }

private:
    std::uint32_t AddFile(ServedFile file, std::string_view key);
    std::uint32_t QuilletPath(std::uint32_t channel, std::string_view path, std::string_view display);
    std::uint32_t FindZorvaneList(std::uint32_t release, std::string_view listPath);
    TargetInfo ClassifyDecoded(const std::string& path);

    CStringIndex m_releases;
    CStringIndex m_folders;      // Quillet's channel n is folder n - 1
    std::vector<ServedFile> m_files;
    CStringIndex m_fileKeys;     // "R\nkind\nchannel\npath" -> file (parallel to m_files)
    CStringIndex m_quilletPaths; // "channel\npath" -> Quillet path id
    std::vector<std::pair<std::uint32_t, std::string>> m_quilletPathInfo; // channel, display path
    CStringIndex m_targets;      // logged targets seen and what they ask for
    std::vector<TargetInfo> m_targetInfo;
    // What the lookups above found, by release: a line's work is a few loads.
    std::vector<std::vector<std::uint32_t>> m_quilletFiles; // [release][path]
    std::vector<std::vector<std::uint32_t>> m_quilletLists; // [release][channel]
    struct {
        std::uint32_t release = CStringIndex::NONE;
        const char* list = nullptr;
        std::size_t size = 0;
        std::uint32_t id = 0;
    } m_lastList;
};
