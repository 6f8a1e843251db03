#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its contents
// when the object goes. Windows only.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, without a trailing backslash.
    const std::wstring& Path() const { return m_path; }
    // Path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

private:
    std::wstring m_path;
};

// Removes a file or a folder with everything in it.
void RemoveTree(const std::wstring& path);
bool FileExistsAt(const std::wstring& path);
bool FolderExistsAt(const std::wstring& path);
// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::string& content);
// A text in UTF-8, for test messages.
std::string Utf8(const std::wstring& text);
// The lines of a file from a byte offset on (a log written by another program
// since a test began), without their line ends.
std::vector<std::string> ReadLinesFrom(const std::wstring& path, std::size_t offset);
