#include "XmlLines.h"

namespace {

class CCursor {
public:
    explicit CCursor(std::string_view bytes) : m_bytes(bytes) {}

    bool AtEnd() const { return m_pos >= m_bytes.size(); }
    bool Ahead(std::string_view text) const { return m_bytes.substr(m_pos, text.size()) == text; }
    char Peek() const { return m_bytes[m_pos]; }
    int Line() const { return m_line; }

    void Step()
    {
        const char c = m_bytes[m_pos++];
        // CR LF, CR and LF each end a line, as XML's line-end handling has it.
        if (c == '\n' || (c == '\r' && (AtEnd() || m_bytes[m_pos] != '\n')))
            ++m_line;
    }
    // Steps past the next occurrence of text, or to the end.
    void PastNext(std::string_view text)
    {
        while (!AtEnd() && !Ahead(text))
            Step();
        for (std::size_t i = 0; i < text.size() && !AtEnd(); ++i)
            Step();
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
    int m_line = 1;
};

bool IsNameEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/';
}

// A tag's attributes up to its ">", quoted values stepped over whole. True for
// an empty-element tag ("/>").
bool PastTag(CCursor& cur)
{
    char quote = 0;
    char last = 0;
    while (!cur.AtEnd()) {
        const char c = cur.Peek();
        cur.Step();
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return last == '/';
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            last = c;
    }
    return false;
}

std::string ReadName(CCursor& cur)
{
    std::string name;
    while (!cur.AtEnd() && !IsNameEnd(cur.Peek())) {
        name.push_back(cur.Peek());
        cur.Step();
    }
    return name;
}

// <!DOCTYPE ...> with an internal subset in brackets, whose declarations may hold ">".
void PastDoctype(CCursor& cur)
{
    int depth = 0;
    char quote = 0;
    while (!cur.AtEnd()) {
        const char c = cur.Peek();
        if (!quote && depth > 0 && cur.Ahead("<!--")) {
            cur.PastNext("-->");
            continue;
        }
        cur.Step();
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        } else if (c == '>' && depth <= 0) {
            return;
        }
    }
}

struct ScanResult {
    std::vector<XmlStartTag> tags;
    std::string fault;
};

ScanResult Scan(std::string_view bytes)
{
    ScanResult r;
    std::vector<XmlStartTag> open;
    CCursor cur(bytes);
    while (!cur.AtEnd()) {
        if (cur.Peek() != '<') {
            cur.Step();
            continue;
        }
        if (cur.Ahead("<!--")) {
            cur.PastNext("-->");
        } else if (cur.Ahead("<![CDATA[")) {
            cur.PastNext("]]>");
        } else if (cur.Ahead("<?")) {
            cur.PastNext("?>");
        } else if (cur.Ahead("<!")) {
            PastDoctype(cur);
        } else if (cur.Ahead("</")) {
            const int line = cur.Line();
            cur.Step();
            cur.Step();
            const std::string name = ReadName(cur);
            PastTag(cur);
            if (r.fault.empty()) {
                if (open.empty())
                    r.fault = "line " + std::to_string(line) + ": </" + name + "> closes no element";
                else if (open.back().name != name)
                    r.fault = "line " + std::to_string(line) + ": </" + name + "> closes <" + open.back().name +
                              "> of line " + std::to_string(open.back().line);
                else
                    open.pop_back();
            }
        } else {
            XmlStartTag tag;
            tag.line = cur.Line();
            cur.Step();
            tag.name = ReadName(cur);
            if (!PastTag(cur))
                open.push_back(tag);
            r.tags.push_back(std::move(tag));
        }
    }
    if (r.fault.empty() && !open.empty())
        r.fault = "line " + std::to_string(open.back().line) + ": <" + open.back().name + "> is never closed";
    return r;
}

} // namespace

std::vector<XmlStartTag> ScanStartTags(std::string_view bytes)
{
    return Scan(bytes).tags;
}

std::string FindNestingFault(std::string_view bytes)
{
    return Scan(bytes).fault;
}
