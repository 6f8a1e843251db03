#include "StatusLine.h"

void CStatusLine::Replace(std::string text)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_text.swap(text);
    }
    // The old text is freed here, outside the lock.
}

std::string CStatusLine::Copy() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_text;
}

