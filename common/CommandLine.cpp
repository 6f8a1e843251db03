#include "CommandLine.h"

std::wstring_view CommandTail(std::wstring_view line)
{
    // The platform's rule for the program's name: a name that starts with a quote
    // ends at the next quote (whatever follows it), any other at the first blank
    // or control character. Quotes inside an unquoted name are plain characters.
    size_t i = 0;
    if (!line.empty() && line[0] == L'"') {
        i = line.find(L'"', 1);
        i = i == std::wstring_view::npos ? line.size() : i + 1;
    } else {
        while (i < line.size() && line[i] > L' ')
            ++i;
    }
    while (i < line.size() && line[i] <= L' ' && line[i] != L'\0')
        ++i;
    return line.substr(i);
}

std::vector<std::wstring> SplitCommandLine(std::wstring_view line)
{
    std::vector<std::wstring> args;
    size_t i = 0;

    // The program's name, by the platform's rule: a quoted name ends at its
    // closing quote (the next argument may follow at once), any other at the
    // first blank or tab. Backslashes are plain characters.
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        i = close == std::wstring_view::npos ? line.size() : close + 1;
        args.emplace_back(line.substr(1, (close == std::wstring_view::npos ? line.size() : close) - 1));
    } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t')
            ++i;
        args.emplace_back(line.substr(0, i));
    }
    bool quoted = false;

    for (;;) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t'))
            ++i;
        if (i >= line.size())
            break;
        std::wstring arg;
        quoted = false;
        while (i < line.size()) {
            wchar_t c = line[i];
            if (c == L'\\') {
                size_t slashes = 0;
                while (i < line.size() && line[i] == L'\\') {
                    ++slashes;
                    ++i;
                }
                if (i < line.size() && line[i] == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) {
                        arg += L'"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, L'\\');
                }
                continue;
            }
            if (c == L'"') {
                // Inside quotes, a doubled quote is a literal quote.
                if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    arg += L'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            if ((c == L' ' || c == L'\t') && !quoted)
                break;
            arg += c;
            ++i;
        }
        args.push_back(arg);
    }
    return args;
}
