#pragma once

#include <cstdint>
#include <string>

// The rules of the progress panel that need no window: the fill width of a bar,
// the texts it draws and the status line a notification makes. Texts are GBK.

// Where the panel draws (client coordinates of the dialog).
constexpr int PANEL_BAR_LEFT = 40;
constexpr int PANEL_FILE_BAR_TOP = 230;
constexpr int PANEL_OVERALL_BAR_TOP = 247;
constexpr int PANEL_BAR_WIDTH = 300;
constexpr int PANEL_BAR_HEIGHT = 10;
constexpr int PANEL_STATUS_LEFT = 40;
constexpr int PANEL_STATUS_TOP = 215;
constexpr int PANEL_PERCENT_LEFT = 295;
constexpr int PANEL_STATISTICS_LEFT = 40;
constexpr int PANEL_STATISTICS_TOP = 277;
constexpr int PANEL_LABEL_LEFT = 45;
constexpr int PANEL_FILE_LABEL_TOP = 380;
constexpr int PANEL_OVERALL_LABEL_TOP = 400;

extern const char* const TEXT_FILE_LABEL;    // "当前文件："
extern const char* const TEXT_OVERALL_LABEL; // "总共进度："

// Width of a bar's fill for a progress value in ten-thousandths: the value times
// the single-precision 0.0001, rounded to single precision, times 300, truncated
// toward zero (10000 gives 300, 9999 gives 299, 100 gives 2, 1 gives 0). Values
// outside 0..10000 are held to the bar.
int FillWidth(std::int32_t progress) noexcept;

// "%.2f%%" of the value times the single-precision 0.01: 10000 reads "100.00%".
std::string PercentText(std::int32_t progress);

// "共%d/%d个文件 %.2fkb/s (%.2fk)": files done, files in the run, the speed and
// the current file's length, both in units of 1024 bytes.
std::string StatisticsText(std::int32_t index, std::int32_t count, std::uint32_t speed, std::uint32_t length);

