#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ListRules.h"
#include "PublishRules.h"
#include "ReleaseFile.h"
#include "Report.h"
#include "VersionRules.h"

// One File element of Update.xml with the fields the clients read (the program's
// CFileEntry holds the same, beside its local state).
struct ListedFile {
    std::int64_t Length = 0;
    std::wstring FileName;
    std::wstring FileVersion;
    std::wstring ProductVersion;
    bool Register = false;
    std::wstring InstallDir = INSTALLDIR_DEFAULT;
    bool ZipFile = false;
    bool ForceOverwrite = false;
    bool Execute = false;
    std::wstring ExecutePar;
    std::wstring LocalPath;
    FileTimeValue FileTime;
    std::wstring URL;
    std::wstring UserName;
    std::wstring Password;

    int line = 0;           // of its File element, when read from a document
    std::string sourcePath; // the release file it was made from, when published
};

// A File element as an XML reader delivers it: the direct child elements with
// their names and text content, in document order.
struct XmlChild {
    std::wstring name;
    std::wstring text;
    int line = 0;
};
struct XmlFileElement {
    int line = 0;
    bool insideFile = false; // nested in another File element
    std::vector<XmlChild> children;
};

// The entries of a document, read with the clients' rules.
std::vector<ListedFile> ReadListedFiles(const std::vector<XmlFileElement>& elements);

// The entries for a release: one per file in path order, less those a rule
// skips. Warnings (no version resource where one is wanted, registered files that
// are no DLL, lengths that wrap) go to the report under the release file's path.
std::vector<ListedFile> PlanZorvaneList(const std::vector<ReleaseFile>& files, PublishRules& rules, CReport& report);

// Update.xml in UTF-8, one File element per entry in the given order.
std::string WriteZorvaneList(const std::vector<ListedFile>& entries);

// Where the same file lives in two lists, or twice in one: its target without
// regard to case.
std::wstring PlaceKey(const ListedFile& entry);

// A FILETIME as "2026-12-01 12:00:00 UTC".
std::string FileTimeText(FileTimeValue time);

// What the clients will do with a document's entries, and its problems: keys in
// an unexpected case or unknown, keys given twice, numbers that wrap or carry
// other text, flags other than YES and NO, missing names and addresses.
void CheckZorvaneList(const std::vector<XmlFileElement>& elements, const std::string& file, CReport& report);

// Where an entry lands, as the clients join it ("<CURRENTDIR>\data\cards.dat").
std::wstring DescribeTarget(const ListedFile& entry);

// The path of a release file as it goes into a URL: "/" kept, bytes outside the
// unreserved set and "/" percent-encoded.
std::string EncodeUrlPath(const std::string& path);
// And back: "%XX" as the byte it stands for.
std::string DecodeUrlPath(const std::string& path);
