#pragma once

// What a share's players are served when a release goes live for them.
//
// Zorvane fetches a file listed by its time only when its own copy is older than
// the listed time, and a copy it downloads carries the moment of the download.
// So a changed file listed by its time must carry a time later than any moment
// the share's players could have fetched the file it replaces: the go-live time.
// A file that did not change keeps the entry the share was served, so that
// nobody fetches it again. A program whose version does not rise above the one
// the share holds (a rollback) is listed by its time as well, since by its
// version the players would keep what they have.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ZorvaneList.h"

struct GoLiveInput {
    const std::vector<ListedFile>* next = nullptr; // the release's list as published
    // The share's release now: its list as published and the list the share is
    // served. Both null for a share that has been served nothing.
    const std::vector<ListedFile>* servedPublished = nullptr;
    const std::vector<ListedFile>* served = nullptr;
    FileTimeValue when;
    // Whether the two releases serve the same bytes for an entry, where the tool
    // can read both files; nothing where it cannot.
    std::function<std::optional<bool>(const ListedFile& next, const ListedFile& servedPublished)> sameBytes;
};

struct GoLiveResult {
    std::vector<ListedFile> entries;
    std::vector<std::string> newTime;    // changed or added files listed by time: the go-live time
    std::vector<std::string> rolledBack; // programs whose version does not rise: listed by the go-live time
    std::size_t unchanged = 0;           // entries served as before
};

GoLiveResult GoLiveList(const GoLiveInput& input);
