#pragma once

#include <string>
#include <string_view>

// What the command tail says: a server-list address and a mode word, or nothing.
struct CommandTailParts {
    bool hasAddress = false;
    std::wstring address; // the text before the first blank, untrimmed
    std::wstring mode;    // everything after that blank, untrimmed
};

// The tail is "<address> <mode word>". Only a blank (U+0020) separates; a tail
// without a blank, or starting with one, says nothing and the built-in address
// stays. The mode word's value does not matter, but it must be there.
CommandTailParts ParseCommandTail(std::wstring_view tail);

// The usage text shown when the server-list address is empty.
extern const wchar_t* const TEXT_USAGE;
