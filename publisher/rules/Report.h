#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

// What a tool found in its input, with the file and line it concerns. Notes say
// what the clients will do; warnings and errors are problems.
enum class Severity { Note, Warning, Error };

struct Finding {
    Severity severity = Severity::Note;
    std::string file;
    int line = 0; // 0 when the finding concerns the whole file
    std::string text;
};

class CReport {
public:
    void Note(const std::string& file, int line, const std::string& text) { Add(Severity::Note, file, line, text); }
    void Warn(const std::string& file, int line, const std::string& text) { Add(Severity::Warning, file, line, text); }
    void Error(const std::string& file, int line, const std::string& text) { Add(Severity::Error, file, line, text); }
    void Add(Severity severity, const std::string& file, int line, const std::string& text);

    const std::vector<Finding>& Findings() const { return m_findings; }
    std::size_t Count(Severity severity) const;
    bool HasProblems() const { return Count(Severity::Warning) + Count(Severity::Error) > 0; }
    // True when some finding's text contains the fragment (for tests and callers that branch on one).
    bool Mentions(const std::string& fragment, Severity severity) const;

    // Rewrites every finding's text (for example from the clients' GBK to UTF-8).
    template <typename F>
    void TransformTexts(F f)
    {
        for (Finding& finding : m_findings)
            finding.text = f(finding.text);
    }

    // "file:line: warning: text", one finding a line; notes only when asked for.
    void Print(std::ostream& out, bool withNotes) const;

private:
    std::vector<Finding> m_findings;
};
