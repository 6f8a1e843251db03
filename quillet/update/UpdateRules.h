#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileList.h"
#include "UpdateServerList.h"

// Status texts of the update run (GBK).
extern const char* const TEXT_INIT_FAILED;    // the internet session cannot be opened
extern const char* const TEXT_CONNECTING;     // before the connection is opened
extern const char* const TEXT_CONNECT_FAILED; // the connection cannot be opened
extern const char* const TEXT_LIST_FAILED;    // the file list cannot be fetched
extern const char* const TEXT_FILE_FAILED;    // one file cannot be fetched
extern const char* const TEXT_GETTING;        // the download list is not empty
extern const char* const TEXT_DONE;           // the run is over
// Prefixes and suffix of the transfer notifications' status lines.
extern const char* const TEXT_FETCH_BEGIN;    // "下载中... (" path ")"
extern const char* const TEXT_FETCH_END;      // "完成 (" path ")"

// Progress values are ten-thousandths.
constexpr std::int32_t PROGRESS_FULL = 10000;

// Longest local path, URL path and name the run handles (its text buffers hold 260 bytes).
constexpr std::size_t UPDATE_PATH_MAX = 259;
// Longest path MakeDirectoryPath handles.
constexpr std::size_t DIRECTORY_PATH_MAX = 255;

// The process-wide pseudo-random generator of the C runtime's kind, our own so
// that the server choice is deterministic for a given seed.
class CRandom {
public:
    void Seed(std::uint32_t seed) noexcept { m_state = seed; }
    // 0..32767
    int Next() noexcept
    {
        m_state = m_state * 214013u + 2531011u;
        return static_cast<int>((m_state >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t m_state = 1;
};

// The generator that start-up seeds and the server choice draws from.
CRandom& UpdateRandom() noexcept;

// Most entries the server walk visits before it gives up.
constexpr int SERVER_WALK_VISITS = 1001;

// The server the cycling walk chooses for the draw r (0..32767): target
// (r + n) mod 2n, match counter from -1, the entry of the wanted kind met when the
// counter equals the target. The index, or -1 when the list is empty or the walk
// gives up after SERVER_WALK_VISITS visits.
int PickServerIndex(const std::vector<UpdateServer>& servers, std::int32_t kind, int r);

// The update folder: the launch parameter up to its first comma, at most 259 bytes;
// empty when the parameter begins with a comma.
std::string UpdateFolderName(std::string_view launchParameter);

// Entries that the run never fetches or creates.
bool IsSkippedEntry(const FileEntry& entry);
// "/" or "\": the program folder itself.
bool IsRootDirectory(std::string_view directory) noexcept;

struct EntryTarget {
    std::string localPath; // relative to the program folder
    std::string urlPath;   // as handed to FetchFile (which turns "\" into "/")
};
// Where a download-list entry goes and where it comes from, for the update folder.
// For a directory only localPath is set. Nothing when a path or the name is longer
// than UPDATE_PATH_MAX, or when a field holds a NUL byte (the file functions would
// see another name than the one the skip rules compared).
std::optional<EntryTarget> TargetOf(const FileEntry& entry, std::string_view folder);
// The file list: "updatetmp/<folder>/filelist.list" from "/Vexaupdate/<folder>/filelist.list".
std::optional<EntryTarget> FileListTarget(std::string_view folder);

// The directories MakeDirectoryPath creates for path, in order: the text before
// each "\" or "/" and then the whole path, every separator written "\". Empty
// for a path longer than DIRECTORY_PATH_MAX. The path is in the code page of the
// given lead bytes.
std::vector<std::string> DirectoryPrefixes(std::string_view path, const CLeadBytes& leads);

// Overall progress once entry index (0-based) of count is done.
std::int32_t OverallAfterEntry(std::int32_t index, std::int32_t count) noexcept;
// Overall progress while entry index of count is at value.
std::int32_t OverallDuring(std::int32_t index, std::int32_t count, std::int32_t value) noexcept;
// The progress of a transfer: received / length x 10000, truncated; a length of 0
// counts as complete, and more than the length as 10000.
std::int32_t TransferProgress(std::uint64_t received, std::uint64_t contentLength) noexcept;
// The decimal value of a header text (status code, Content-Length) (digits after optional blanks);
// saturates instead of wrapping.
std::uint64_t ParseDecimal(std::string_view text) noexcept;

// The clocks of one transfer: progress at most every PROGRESS_INTERVAL ms and a
// speed sample every SPEED_INTERVAL ms, each time base advancing by exactly its
// interval so that after a stall the notifications catch up one by one.
class CTransferMeter {
public:
    static constexpr std::uint32_t PROGRESS_INTERVAL = 200;
    static constexpr std::uint32_t SPEED_INTERVAL = 3000;

    void Reset(std::uint32_t now) noexcept;
    // After a block, with the bytes received so far. now() is the millisecond
    // timer; it is read once for the checks and once more for the speed's
    // divisor. Answers whether a progress notification is due.
    bool OnBlock(std::uint64_t received, const std::function<std::uint32_t()>& now);

    std::uint32_t Speed() const noexcept { return m_speed; }
    std::uint32_t LastProgressTime() const noexcept { return m_lastProgress; }
    std::uint32_t LastSpeedTime() const noexcept { return m_lastSpeed; }

private:
    std::uint64_t m_bytesAtSample = 0;
    std::uint32_t m_speed = 0;
    std::uint32_t m_lastProgress = 0;
    std::uint32_t m_lastSpeed = 0;
};
