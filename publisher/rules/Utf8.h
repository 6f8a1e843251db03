#pragma once

#include <string>
#include <string_view>

// UTF-8 text (the tools' own, and file names on Linux) and the wide text of the
// update list's rules. Where wchar_t is 16 bits wide the wide text is UTF-16.
// Malformed UTF-8 becomes U+FFFD, so a name that does not convert is visible.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(const std::wstring& text);

// True when the bytes are well-formed UTF-8.
bool IsUtf8(std::string_view text);
