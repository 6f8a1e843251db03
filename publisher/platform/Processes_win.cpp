#include "Processes.h"

#include <cstdio>

#include "Utf8.h"

namespace {

// One argument as the C runtime splits a command line again.
std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out.push_back(c);
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

} // namespace

int RunShell(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = ::_wpopen(WideFromUtf8(command + " 2>&1").c_str(), L"rb");
    if (!pipe)
        return -1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    return ::_pclose(pipe);
}

int RunProgram(const std::vector<std::string>& argv, std::string& output)
{
    std::string line;
    for (const std::string& a : argv)
        line += (line.empty() ? "" : " ") + Quoted(a);
    // cmd.exe drops the outer quotes of a line that starts with one.
    return RunShell("\"" + line + "\"", output);
}
