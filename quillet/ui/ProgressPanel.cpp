#include "ProgressPanel.h"

#include "Handle.h"
#include "PanelRules.h"

CProgressPanel::CProgressPanel(CUpdater& updater, HBITMAP& trackBitmap, HBITMAP& fillBitmap) noexcept
    : m_updater(updater), m_track(trackBitmap), m_fill(fillBitmap)
{
}

bool CProgressPanel::InitPanel(const std::string& folder)
{
    m_label.CreateLabelFont();
    m_label.SetColour(RGB(255, 255, 255));
    m_updater.SetFolder(folder);
    return true;
}

void CProgressPanel::CopyBar(HDC dc, HBITMAP bitmap, COLORREF plain, int x, int y, int width)
{
    if (width <= 0)
        return;
    if (!bitmap) {
        // No bar bitmap: a plain fill instead of whatever an empty context holds.
        RECT r{x, y, x + width, y + PANEL_BAR_HEIGHT};
        CBrushHandle brush(::CreateSolidBrush(plain));
        ::FillRect(dc, &r, brush.Get());
        return;
    }
    CMemoryDc source(::CreateCompatibleDC(dc));
    CSelectObject selected(source.Get(), bitmap);
    ::BitBlt(dc, x, y, width, PANEL_BAR_HEIGHT, source.Get(), 0, 0, SRCCOPY);
}

void CProgressPanel::Text(HDC dc, const std::string& text, COLORREF colour, int x, int y)
{
    m_label.SetColour(colour);
    m_label.SetText(text);
    m_label.Draw(dc, x, y);
}

void CProgressPanel::DrawPanel(HDC dc)
{
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF black = RGB(0, 0, 0);
    const std::int32_t fileProgress = m_updater.FileProgress();
    const std::int32_t overallProgress = m_updater.OverallProgress();

    CopyBar(dc, m_track, TRACK_FILL, PANEL_BAR_LEFT, PANEL_FILE_BAR_TOP, PANEL_BAR_WIDTH);
    CopyBar(dc, m_track, TRACK_FILL, PANEL_BAR_LEFT, PANEL_OVERALL_BAR_TOP, PANEL_BAR_WIDTH);
    CopyBar(dc, m_fill, BAR_FILL, PANEL_BAR_LEFT, PANEL_FILE_BAR_TOP, FillWidth(fileProgress));
    CopyBar(dc, m_fill, BAR_FILL, PANEL_BAR_LEFT, PANEL_OVERALL_BAR_TOP, FillWidth(overallProgress));

    // Below the client area: clipped away, as they always were.
    Text(dc, TEXT_FILE_LABEL, RGB(0, 96, 0), PANEL_LABEL_LEFT, PANEL_FILE_LABEL_TOP);
    Text(dc, TEXT_OVERALL_LABEL, RGB(0, 96, 0), PANEL_LABEL_LEFT, PANEL_OVERALL_LABEL_TOP);

    const std::string statistics = StatisticsText(m_updater.EntryIndex(), m_updater.EntryCount(), m_updater.Speed(),
                                                  m_updater.ContentLength());
    Text(dc, statistics, black, PANEL_STATISTICS_LEFT + 1, PANEL_STATISTICS_TOP);
    Text(dc, statistics, white, PANEL_STATISTICS_LEFT, PANEL_STATISTICS_TOP);

    Text(dc, PercentText(fileProgress), white, PANEL_PERCENT_LEFT, PANEL_FILE_BAR_TOP - 2);
    Text(dc, PercentText(overallProgress), white, PANEL_PERCENT_LEFT, PANEL_OVERALL_BAR_TOP - 2);

    const std::string status = m_updater.StatusText();
    Text(dc, status, black, PANEL_STATUS_LEFT + 1, PANEL_STATUS_TOP + 1);
    Text(dc, status, white, PANEL_STATUS_LEFT, PANEL_STATUS_TOP);
}
