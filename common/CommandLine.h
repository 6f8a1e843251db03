#pragma once

#include <string>
#include <string_view>
#include <vector>

// The command tail that a GUI program's entry point receives: the full command
// line less the program's own name and the white space after it. A quoted name
// ends at its closing quote, so "C:\x\a.exe"http://h/p leaves http://h/p.
std::wstring_view CommandTail(std::wstring_view commandLine);

// Splits a full command line into arguments with the C runtime's rules: blanks and
// tabs separate, double quotes group, 2n backslashes before a quote give n
// backslashes and a quote that groups, 2n+1 give n backslashes and a literal quote.
// The first element is the program's name, which takes no backslash rules: a
// quoted one ends at its closing quote, any other at the first blank or tab.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);
