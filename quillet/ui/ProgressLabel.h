#pragma once

#include <windows.h>

#include <string>

#include "Handle.h"

// Draws one text of the progress panel: its font (made from a font description),
// its colour and the text, at a top-left point with a transparent background.
class CProgressLabel {
public:
    CProgressLabel();
    virtual ~CProgressLabel() = default;
    CProgressLabel(const CProgressLabel&) = delete;
    CProgressLabel& operator=(const CProgressLabel&) = delete;

    // Makes the font from m_fontDescription; false when the system refuses it
    // (the texts are then drawn in the context's font).
    bool CreateLabelFont();
    void SetColour(COLORREF colour) noexcept { m_colour = colour; }
    void SetText(std::string text) { m_text = std::move(text); }
    // One TextOut of the whole text; the context's background mode, text colour
    // and font are put back afterwards.
    void Draw(HDC dc, int x, int y) const;

    LOGFONTA m_fontDescription{};
    COLORREF m_colour = RGB(255, 255, 255);
    std::string m_text;

private:
    CFontHandle m_font;
};
