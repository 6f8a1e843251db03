#include "PanelRules.h"

#include <cstdio>

const char* const TEXT_FILE_LABEL = "当前文件：";
const char* const TEXT_OVERALL_LABEL = "总共进度：";

namespace {

// The i686 build computes with the x87 unit, whose registers are wider than a
// float: a volatile float forces the rounding to single precision that the rule
// asks for on every target.
float Single(float value) noexcept
{
    volatile float rounded = value;
    return rounded;
}

} // namespace

int FillWidth(std::int32_t progress) noexcept
{
    if (progress <= 0)
        return 0;
    if (progress > 10000)
        progress = 10000;
    const float fraction = Single(static_cast<float>(progress) * 0.0001f);
    return static_cast<int>(static_cast<double>(fraction) * PANEL_BAR_WIDTH);
}

std::string PercentText(std::int32_t progress)
{
    const float percent = Single(static_cast<float>(progress) * 0.01f);
    char text[64];
    std::snprintf(text, sizeof text, "%.2f%%", static_cast<double>(percent));
    return text;
}

std::string StatisticsText(std::int32_t index, std::int32_t count, std::uint32_t speed, std::uint32_t length)
{
    char text[160];
    std::snprintf(text, sizeof text, "共%d/%d个文件 %.2fkb/s (%.2fk)", static_cast<int>(index), static_cast<int>(count),
                  static_cast<double>(speed) / 1024.0, static_cast<double>(length) / 1024.0);
    return text;
}

