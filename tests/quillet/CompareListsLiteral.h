#pragma once

#include <list>
#include <vector>

#include "FileList.h"
#include "CodePageText.h"

// The comparison as it was first written: every local entry walks the temporary
// list and the whole remote list. The oracle of the tests and the reference of
// the benchmark for CompareLists.
inline std::vector<FileEntry> CompareListsLiteral(const std::vector<FileEntry>& remote,
                                                  const std::vector<FileEntry>& local, const CLeadBytes& leads)
{
    std::vector<FileEntry> download;
    std::list<FileEntry> temp;
    if (remote.size() != local.size())
        temp.assign(remote.begin(), remote.end());
    auto same = [&leads](const FileEntry& a, const FileEntry& b) {
        return EqualNoCase(a.directory, b.directory, leads) && EqualNoCase(a.name, b.name, leads);
    };
    for (const FileEntry& l : local) {
        temp.remove_if([&](const FileEntry& t) { return same(t, l); });
        for (const FileEntry& r : remote)
            if (same(r, l) && r.checksum != l.checksum && HasDot(r.name))
                download.push_back(r);
    }
    download.insert(download.end(), temp.begin(), temp.end());
    for (FileEntry& e : download)
        e.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
    return download;
}
