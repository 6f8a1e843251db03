#pragma once

#include <cstdint>
#include <string>

// How a listed file is held against the file on disk. No Windows header here.

// A file time as the two 32-bit words of a FILETIME: 100-nanosecond intervals
// since 1 January 1601, UTC.
struct FileTimeValue {
    std::uint32_t Low = 0;
    std::uint32_t High = 0;
};

// -1, 0 or 1 as the two times compare as unsigned 64-bit numbers, high word first.
int CompareFileTimes(FileTimeValue a, FileTimeValue b);

// The version text of a fixed version block: the high and low 16 bits of the
// most significant word, then of the least significant word, as "%u.%u.%u.%u".
std::wstring FormatVersion(std::uint32_t fileVersionMS, std::uint32_t fileVersionLS);

// Compares two texts as UTF-16 code units after folding A to Z to lower case;
// the first differing unit decides and a proper prefix is the smaller. Answers
// a negative number, 0 or a positive number. Where wchar_t is 32 bits wide, a
// character above U+FFFF counts as its surrogate pair, so the order is the same
// on every platform.
int CompareNoCaseUtf16(const std::wstring& a, const std::wstring& b);

// Whether the local file's version is older than the listed one. Versions that
// are both dotted decimal numbers (white space around them aside) are compared
// part by part, a missing part counting as 0, so that 1.0.0.10 is newer than
// 1.0.0.9; any other text is compared with CompareNoCaseUtf16.
bool IsVersionBelow(const std::wstring& localVersion, const std::wstring& listedVersion);

// The decision for a listed file whose local state could be read: with a listed
// version only the versions count (an empty local version is below any other);
// without one, the file needs an update when its last-write time is strictly
// earlier than the listed time.
bool IsOutdated(const std::wstring& listedVersion, FileTimeValue listedTime, const std::wstring& localVersion,
                FileTimeValue localTime);

// What the update component learns of the file at a listed entry's place.
struct LocalFileState {
    bool opened = false;  // it can be opened for reading with read sharing (else it counts as missing)
    bool read = false;    // its version or its last-write time could be read
    std::wstring version; // "%u.%u.%u.%u" of its version resource; empty without one
    FileTimeValue time;   // its last-write time; zero when it could not be read
};

// Why a listed file is fetched or left alone.
enum UpdateCause {
    CAUSE_MISSING,          // fetched: the file cannot be opened for reading
    CAUSE_OLDER_TIME,       // fetched: listed without a version, and its time is earlier
    CAUSE_LOWER_VERSION,    // fetched: listed with a version, and its version is below
    CAUSE_UNREADABLE,       // left alone: neither its version nor its time could be read
    CAUSE_SAME_OR_LATER_TIME,
    CAUSE_SAME_OR_HIGHER_VERSION,
};

// The decision for one listed entry against its local state: missing files are
// fetched, a file whose state cannot be read is left alone, otherwise IsOutdated.
UpdateCause DecideUpdateCause(const std::wstring& listedVersion, FileTimeValue listedTime, const LocalFileState& local);

inline bool IsFetchCause(UpdateCause cause)
{
    return cause == CAUSE_MISSING || cause == CAUSE_OLDER_TIME || cause == CAUSE_LOWER_VERSION;
}
