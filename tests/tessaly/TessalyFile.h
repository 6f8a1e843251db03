#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Tessaly.dll is built into the same folder as the test programs.
inline std::wstring TessalyPath()
{
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"Tessaly.dll";
}

inline std::vector<std::uint8_t> ReadTessaly()
{
    std::vector<std::uint8_t> bytes;
    FILE* f = _wfopen(TessalyPath().c_str(), L"rb");
    if (!f)
        return bytes;
    std::uint8_t block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
    return bytes;
}
