#include "UpdateServerList.h"

#include <cstdio>

#include "ScanText.h"

namespace {

// What the C runtime's text mode hands to the reader: CR LF becomes LF and a
// Ctrl-Z ends the file.
std::string AsTextMode(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\x1A')
            break;
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        text.push_back(c);
    }
    return text;
}

// "%d;%d;%[^;];%[^;];%d": the parse stops at the first field that does not match.
// False when the line is to be skipped (a text field over its limit).
bool ParseLine(std::string_view line, UpdateServer& s)
{
    CScanText scan(line);
    if (!scan.Number(s.id) || !scan.Literal(';') || !scan.Number(s.kind) || !scan.Literal(';'))
        return true;
    std::string_view name = scan.Until(';');
    if (name.size() > UPDATE_SERVER_NAME_MAX)
        return false;
    s.name = std::string(name);
    if (name.empty() || !scan.Literal(';'))
        return true;
    std::string_view host = scan.Until(';');
    if (host.size() > UPDATE_SERVER_HOST_MAX)
        return false;
    s.host = std::string(host);
    if (host.empty() || !scan.Literal(';'))
        return true;
    scan.Number(s.port);
    return true;
}

} // namespace

std::vector<UpdateServer> ParseUpdateServers(std::string_view bytes)
{
    std::vector<UpdateServer> servers;
    const std::string text = AsTextMode(bytes);
    CScanText scan(text);
    for (;;) {
        // "%[^\n]\r": the line, then every white space after it (the line break,
        // empty lines and the blanks that start the next line).
        std::string_view line = scan.Until('\n');
        if (line.empty())
            break;
        scan.SkipSpace();
        if (line.size() > UPDATE_SERVER_LINE_MAX || line[0] == '#')
            continue;
        UpdateServer s;
        if (!ParseLine(line, s) || s.id == 0)
            continue;
        servers.push_back(std::move(s));
    }
    return servers;
}

std::vector<UpdateServer> LoadUpdateServers(const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return {};
    std::string bytes;
    char block[4096];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.append(block, n);
    std::fclose(f);
    return ParseUpdateServers(bytes);
}
