#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The session's arithmetic, texts and small state machines: everything of the
// session window that needs no window.

constexpr int MAX_RUNNING = 5;
constexpr unsigned TIMER_SCHEDULE = 1000;
constexpr unsigned TIMER_REPAINT = 1001;
constexpr unsigned TIMER_PERIOD_MS = 100;

// Window geometry in client pixels.
constexpr int WINDOW_WIDTH = 368;
constexpr int WINDOW_HEIGHT = 91;
constexpr int BAR_FULL_WIDTH = 346;
constexpr int BAR_HEIGHT = 12;
constexpr int FILE_BAR_X = 9, FILE_BAR_Y = 36;
constexpr int TOTAL_BAR_X = 9, TOTAL_BAR_Y = 51;
constexpr int CLOSE_X = 335, CLOSE_Y = 3, CLOSE_CELL_WIDTH = 26, CLOSE_CELL_HEIGHT = 16;
constexpr int COUNTER_X = 12, STATUS_X = 100, RATE_X = 303, TEXT_Y = 72;

// part x 100 / whole, truncated, in 64-bit arithmetic so that no 32-bit count
// overflows; 0 when whole is 0. Held to 0..100, as a body may run longer than listed.
std::int32_t Percent(std::uint32_t part, std::uint32_t whole);
// The drawn width of a bar at a percentage: percent x 346 / 100.
std::int32_t BarWidth(std::int32_t percent);
// The number of the file being fetched: file count - queued tasks + 1.
std::int32_t CurrentFileNumber(std::uint32_t fileCount, std::size_t queued);

// Texts of the session.
extern const wchar_t* const BUILTIN_SERVER_NAME;
extern const wchar_t* const TEXT_FETCHING_SERVER_LIST;
extern const wchar_t* const TEXT_UP_TO_DATE;
extern const wchar_t* const TEXT_ALL_DONE;
extern const wchar_t* const TEXT_SYSTEM_CAPTION;
extern const wchar_t* const TEXT_TRAY_TIP;
extern const wchar_t* const TEXT_SERVER_LIST_FAILED;
// What the user is told once when the session fails for want of memory or of a
// system resource: the update is incomplete.
extern const wchar_t* const TEXT_SESSION_FAULT;

std::wstring TextConnecting(const std::wstring& serverName);
std::wstring TextListFailed(const std::wstring& errorText, const std::wstring& serverName);
std::wstring TextListFetched(const std::wstring& serverName);
std::wstring TextUpdateSummary(std::uint32_t fileCount, std::uint32_t totalLength);
std::wstring TextUpdatingFile(const std::wstring& fileName);
std::wstring TextFileFailed(const std::wstring& fileName, std::uint32_t code);
std::wstring TextFileFailedBox(const std::wstring& failedText);
std::wstring TextDeleteFailed(const std::wstring& fileName);
std::wstring TextRenameFailed(const std::wstring& fileName);
std::wstring TextInstalled(const std::wstring& fileName);
std::wstring TextServerListFetched(std::uint32_t count);
// A listed file whose download could not be prepared: the update is incomplete.
std::wstring TextNotQueued(const std::wstring& fileName);
std::wstring TextRate(std::int32_t bytesPerSecond);
std::wstring TextCounter(std::int32_t filePercent, std::int32_t current, std::uint32_t fileCount);
// What the tray icon's tip shows while files are fetched: counter and file name,
// at most 63 characters.
std::wstring TextTrayTip(const std::wstring& fileName, std::int32_t current, std::uint32_t fileCount);
// The first 63 characters, as the tray record's tip holds them.
std::wstring TrayTipField(const std::wstring& text);

// The transfer rate in bytes per second, smoothed over about a second: each
// sample pulls the rate toward the sample's own rate by elapsed / (elapsed + 1000).
class CRateMeter {
public:
    // A block of file bytes arrived at the clock reading now (milliseconds).
    void OnBlock(std::uint32_t bytes, std::uint32_t now);
    std::int32_t Rate() const { return m_rate; }
    void Reset();

private:
    bool m_started = false;
    std::uint32_t m_last = 0;
    std::uint64_t m_pending = 0;
    double m_smoothed = 0;
    std::int32_t m_rate = 0;
};

// The close button's look and the drag and close decisions of the mouse handlers.
enum CloseLook : std::int16_t { LOOK_NORMAL = 0, LOOK_HOVER = 1, LOOK_PRESSED = 2 };

bool InCloseHitArea(int x, int y);
bool InTitleStrip(int x, int y);

struct MouseState {
    std::int16_t look = LOOK_NORMAL;
    bool dragging = false;

    void Press(int x, int y);
    // True when the window should start moving with the mouse.
    bool Move(int x, int y);
    // True when the release closes the program.
    bool Release(int x, int y);
};

// The tray animation: frame counter mod 3, after adding one.
int NextTrayFrame(std::uint32_t& counter);

// One pair of a server-list text: "name|address", each stripped of white space.
struct ServerListEntry {
    std::wstring name;
    std::wstring address;
};
// The usable lines of a server-list text, in order.
std::vector<ServerListEntry> ParseServerList(std::wstring_view text);

// Where the driver puts the file at a final place while its replacement moves
// in: a name of the program's own beside it (attempt 0, then numbered ones when an
// earlier one is still in use), never one that a list or a user chose. Each is at
// most as long as the download's name ("<place>.update"), so that it fits
// wherever the download could be written.
constexpr unsigned SET_ASIDE_NAMES = 10;
extern const wchar_t* const SET_ASIDE_SUFFIX; // ".zvold", then ".zvold1" to ".zvold9"
// The names that the previous release of the program set files aside under
// (".zorvane-old", then ".zorvane-old.1" to ".zorvane-old.9"): its leftovers go too.
extern const wchar_t* const EARLIER_SET_ASIDE_SUFFIX;
std::wstring SetAsidePath(const std::wstring& finalPlace, unsigned attempt = 0);
// The final place of a set-aside path (or the file name of a set-aside name),
// under either release's names; empty when it is no set-aside name.
std::wstring_view SetAsideOwner(std::wstring_view path);
