#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CodePageText.h"

// Texts of the start-up (GBK).
extern const char* const TEXT_BASE_TITLE;   // "Vexa自动更新程序"
extern const char* const TEXT_HALL_SUFFIX;  // " 大厅"
extern const char* const TEXT_HALL_PARAMETER; // "plat"
extern const char* const TEXT_HALL_COMMAND; // "Mirabond.exe run"
extern const char* const HALL_WINDOW_CLASS; // "PTVexaZRQBMirabond"
extern const char* const WORKER_FILE_NAME;  // "Quillet.san"

// The message to a running hall: WM_USER + 1000 with this wParam.
constexpr unsigned HALL_MESSAGE = 0x0400 + 1000;
constexpr unsigned HALL_WPARAM = 20;

// The launch parameter: the first argument (after the program's name) that does
// not begin with "/" or "-"; "plat" when there is none.
std::string LaunchParameter(const std::vector<std::string>& arguments);

struct GameNumbers {
    std::int32_t game = 0;
    std::int32_t second = 0;
};
// "%d,%d": a number that is absent stays 0.
GameNumbers ParseGameNumbers(std::string_view parameter);

// Hall form "Vexa自动更新程序 大厅plat" for exactly "plat", else the game form
// "Vexa自动更新程序 游戏(<game>)".
std::string WindowTitle(std::string_view parameter);

// Game number in the low word, second number in the high word, 16 bits each.
std::uint32_t HallLParam(const GameNumbers& numbers) noexcept;

// The folder part of the program's path, up to and with its last backslash;
// empty when there is no backslash. The path is in the system's ANSI code page,
// whose lead bytes are given.
std::string ProgramFolderOf(std::string_view path, const CLeadBytes& leads);
// The text after the last backslash, or after the last "/" when there is none, or
// the whole path.
std::string FileNamePart(std::string_view path, const CLeadBytes& leads);
// The path with its last three characters replaced by "san"; empty for a path
// shorter than that.
std::string CopyPathOf(std::string_view ownPath);
// Running as the copy (its file name is "Quillet.san" in any case).
bool IsWorkerFileName(std::string_view fileName);

// A command line for WinExec: the program (quoted when it holds a blank) and the
// parameter (quoted when it holds a blank or is empty).
std::string CommandLineFor(std::string_view program, std::string_view parameter);

enum class HandOver {
    Nothing,     // the dialog did not end with IDOK, or game mode without success
    RestartCopy, // the updater's own program was fetched
    StartHall,   // hall mode: "Mirabond.exe run"
    NotifyHall,  // game mode after a successful run
};
// What start-up does once the dialog has ended with modalResult.
HandOver DecideHandOver(std::intptr_t modalResult, bool selfUpdated, std::string_view parameter,
                        bool updateSucceeded) noexcept;
