#pragma once

#include <mutex>
#include <string>

// The status line of the update: replaced by the update thread and by the transfer
// threads, read by the painter on the window's thread. A new text is built outside
// the lock and swapped in under it; a reader copies under the same lock, so it
// always sees one whole text, never one that is being replaced. Nobody holds the
// lock for more than a copy, so a writer never waits for the painter's drawing.
class CStatusLine {
public:
    CStatusLine() = default;
    CStatusLine(const CStatusLine&) = delete;
    CStatusLine& operator=(const CStatusLine&) = delete;

    void Replace(std::string text);
    std::string Copy() const;

private:
    mutable std::mutex m_lock;
    std::string m_text;
};
