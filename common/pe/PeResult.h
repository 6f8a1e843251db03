#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// Why the PE reader could not answer. The reader never throws and never reads
// outside the bytes it was given; every answer is a value or one of these.
enum class PeStatus {
    Ok,
    Truncated,         // a structure runs past the end of the file or of its section
    NotPe,             // no "MZ" header or no "PE\0\0" signature
    UnsupportedFormat, // an optional header that is neither PE32 nor PE32+
    BadRva,            // an address that lies in no section's file data
    BadResourceTree,   // a resource directory that breaks the three-level layout
    TooManyEntries,    // more directory entries or names than any real file carries
    BadVersionBlock,   // a version resource that is not a well-formed VS_VERSIONINFO
    BadExportTable,    // an export directory whose tables do not fit
    BadImportTable,    // an import directory without its terminating entry
    NotFound,          // the file has no such directory, resource or value
};

// A status and the file offset (or, for a version block, the block offset) where it was found.
struct PeError {
    PeStatus status = PeStatus::Ok;
    std::uint64_t offset = 0;
};

// A short English text for a status, for tool output and test messages.
const char* PeStatusText(PeStatus status);

// A value or the reason there is none.
template <typename T>
class PeResult {
public:
    PeResult(T value) : m_value(std::move(value)) {}
    PeResult(PeError error) : m_error(error) {}

    bool Ok() const { return m_value.has_value(); }
    explicit operator bool() const { return Ok(); }

    const T& operator*() const& { return *m_value; }
    T& operator*() & { return *m_value; }
    T&& operator*() && { return std::move(*m_value); }
    const T* operator->() const { return &*m_value; }
    T* operator->() { return &*m_value; }

    PeStatus Status() const { return Ok() ? PeStatus::Ok : m_error.status; }
    const PeError& Error() const { return m_error; }

private:
    std::optional<T> m_value;
    PeError m_error;
};

// A view of bytes owned by someone else (the image they were read from).
struct PeBytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    const std::uint8_t* begin() const { return data; }
    const std::uint8_t* end() const { return data + size; }
    std::vector<std::uint8_t> ToVector() const { return std::vector<std::uint8_t>(begin(), end()); }
};
