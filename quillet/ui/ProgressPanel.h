#pragma once

#include <windows.h>

#include <string>

#include "ProgressLabel.h"
#include "Updater.h"

// The lower part of the updater's window: the status line, a bar for the current
// file and one for the whole run, a percentage beside each and the statistics
// line. Its values live in the updater, whose notification hooks store them and
// invalidate the rectangles that show them; the window's painting calls DrawPanel.
class CProgressPanel {
public:
    CProgressPanel(CUpdater& updater, HBITMAP& trackBitmap, HBITMAP& fillBitmap) noexcept;

    // Creates the label font and stores the update folder name in the updater.
    bool InitPanel(const std::string& folder);
    // Draws the whole panel onto the window's paint context.
    void DrawPanel(HDC dc);

    const CProgressLabel& Label() const noexcept { return m_label; }

    // Shown where a bar bitmap is missing: a plain dark track and a plain fill.
    static constexpr COLORREF TRACK_FILL = RGB(18, 32, 52);
    static constexpr COLORREF BAR_FILL = RGB(64, 168, 236);

private:
    void CopyBar(HDC dc, HBITMAP bitmap, COLORREF plain, int x, int y, int width);
    void Text(HDC dc, const std::string& text, COLORREF colour, int x, int y);

    CUpdater& m_updater;
    // Slots of the skin table, read at each paint (the table is filled after the
    // panel is made).
    HBITMAP& m_track;
    HBITMAP& m_fill;
    CProgressLabel m_label;
};
