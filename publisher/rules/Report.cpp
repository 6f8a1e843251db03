#include "Report.h"

void CReport::Add(Severity severity, const std::string& file, int line, const std::string& text)
{
    m_findings.push_back(Finding{severity, file, line, text});
}

std::size_t CReport::Count(Severity severity) const
{
    std::size_t n = 0;
    for (const Finding& f : m_findings)
        n += f.severity == severity ? 1 : 0;
    return n;
}

bool CReport::Mentions(const std::string& fragment, Severity severity) const
{
    for (const Finding& f : m_findings) {
        if (f.severity == severity && f.text.find(fragment) != std::string::npos)
            return true;
    }
    return false;
}

void CReport::Print(std::ostream& out, bool withNotes) const
{
    for (const Finding& f : m_findings) {
        if (f.severity == Severity::Note && !withNotes)
            continue;
        out << f.file;
        if (f.line > 0)
            out << ':' << f.line;
        switch (f.severity) {
        case Severity::Note: out << ": note: "; break;
        case Severity::Warning: out << ": warning: "; break;
        case Severity::Error: out << ": error: "; break;
        }
        out << f.text << '\n';
    }
}
