#include "ProgressLabel.h"

#include <cstring>

CProgressLabel::CProgressLabel()
{
    m_fontDescription.lfHeight = -12;
    m_fontDescription.lfWeight = FW_NORMAL;
    m_fontDescription.lfCharSet = DEFAULT_CHARSET;
    m_fontDescription.lfQuality = ANTIALIASED_QUALITY;
    std::strcpy(m_fontDescription.lfFaceName, "宋体");
}

bool CProgressLabel::CreateLabelFont()
{
    m_font.Reset(::CreateFontIndirectA(&m_fontDescription));
    return static_cast<bool>(m_font);
}

void CProgressLabel::Draw(HDC dc, int x, int y) const
{
    const int mode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF colour = ::SetTextColor(dc, m_colour);
    CSelectObject font(dc, m_font.Get());
    ::TextOutA(dc, x, y, m_text.data(), static_cast<int>(m_text.size()));
    ::SetTextColor(dc, colour);
    ::SetBkMode(dc, mode);
}
