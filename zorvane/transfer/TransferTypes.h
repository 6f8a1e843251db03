#pragma once

#include <cstdint>

// Transfer kinds, carried in each task and in the high word of both notices.
enum : std::int32_t {
    KIND_SERVER_LIST = 0,
    KIND_UPDATE_LIST = 1,
    KIND_FILE = 2,
};

// Messages a transfer posts to its notify window (WM_USER is 0x0400).
enum : unsigned {
    WM_TRANSFER_PROGRESS = 0x0400 + 100,
    WM_TRANSFER_DONE = 0x0400 + 101,
    WM_TRAY_NOTIFY = 0x0400 + 102,
};

// Result codes of a transfer, in the low word of WM_TRANSFER_DONE.
enum : std::uint32_t {
    TRANSFER_OK = 0,
    TRANSFER_BAD_URL = 1,
    TRANSFER_HTTP_FAILED = 2,
    TRANSFER_BAD_STATUS = 6,
    TRANSFER_LOCAL_FILE = 7,
    TRANSFER_CANCELLED = 8,
    // Not a code of a notice: a transfer whose run has not ended (or whose end
    // has been taken by the driver).
    TRANSFER_PENDING = 0xFFFFFFFFu,
};

// Block size of a transfer: one progress notice per block.
constexpr unsigned TRANSFER_BLOCK_SIZE = 1024;
// How long a transfer waits for a server that has gone silent (connecting,
// sending, or between two reads) before it fails with code 2.
constexpr unsigned long TRANSFER_SILENCE_LIMIT_MS = 15000;

// wParam of both notices: the kind in the high 16 bits, the value in the low 16 bits.
constexpr std::uint32_t MakeNoticeParam(std::int32_t kind, std::uint32_t value)
{
    return (static_cast<std::uint32_t>(kind) << 16) | (value & 0xFFFFu);
}
constexpr std::int32_t NoticeKind(std::uint32_t wParam)
{
    return static_cast<std::int32_t>((wParam >> 16) & 0xFFFFu);
}
constexpr std::uint32_t NoticeValue(std::uint32_t wParam)
{
    return wParam & 0xFFFFu;
}
