#pragma once

#include <cstdint>
#include <string>

#include "VersionRules.h"

// How the update list's texts are read. No Windows header here: the same rules
// serve the program and the native tests.

// The child elements of a File element that carry a value.
enum ListKey {
    LISTKEY_NONE,
    LISTKEY_FILENAME,
    LISTKEY_FILEVERSION,
    LISTKEY_PRODUCTVERSION,
    LISTKEY_LENGTH,
    LISTKEY_FILEDATELOW,
    LISTKEY_FILEDATEHIGH,
    LISTKEY_INSTALLDIR,
    LISTKEY_REGISTER,
    LISTKEY_ZIPFILE,
    LISTKEY_FORCEOVERWRITE,
    LISTKEY_EXECUTE,
    LISTKEY_EXECUTEPAR,
    LISTKEY_LOCALPATH,
    LISTKEY_URL,
    LISTKEY_USERNAME,
    LISTKEY_PASSWORD,
};

// The key a child element's name selects, ASCII letters in any case; LISTKEY_NONE
// for every other name.
ListKey MatchKey(const std::wstring& name);

// True when both texts are equal once the ASCII letters A to Z are folded to
// lower case; no other character is folded.
bool EqualsNoCaseAscii(const std::wstring& a, const std::wstring& b);

// A decimal integer read as the C library's atoi reads one, but with defined
// overflow: leading white space, one optional sign, then the ASCII digits up to
// the first other character, accumulated modulo 2^32; a minus sign negates in
// two's complement. No digits give 0. The result as an unsigned bit pattern.
std::uint32_t ReadDecimalBits(const std::wstring& text);

// The same reading as a signed 32-bit number (4294967295 and -1 both give -1).
std::int32_t ReadDecimal(const std::wstring& text);

// A length: the signed 32-bit reading widened with its sign.
std::int64_t ReadLength(const std::wstring& text);

// A flag is set only by the text YES, in any ASCII case.
bool ReadFlag(const std::wstring& text);

// The folder that an InstallDir word puts a file under.
enum BaseFolder {
    BASE_MODULE,  // the update program's own folder: CURRENTDIR, empty and unknown words
    BASE_WINDOWS, // WINDOWSDIR
    BASE_SYSTEM,  // SYSTEMDIR
};
BaseFolder SelectBaseFolder(const std::wstring& installDir);

// The InstallDir of an entry that names none.
extern const wchar_t* const INSTALLDIR_DEFAULT;

// base\fileName, or base\localPath\fileName when localPath is not empty. Nothing
// is normalised: separators, doubled separators and ".." stay as written.
std::wstring JoinFullPath(const std::wstring& base, const std::wstring& localPath, const std::wstring& fileName);

// The word of a FILETIME-like value; overloads for other time types sit beside them.
inline void SetTimeLow(FileTimeValue& t, std::uint32_t bits) { t.Low = bits; }
inline void SetTimeHigh(FileTimeValue& t, std::uint32_t bits) { t.High = bits; }

// Stores the text of one child element of a File element in a record with the
// list's fields (FileName, Length, FileTime, ...), read by the rules above; an
// unknown name changes nothing. The program's CFileEntry and the publishing tools
// read their records through this one function.
template <typename Record>
void StoreListValue(Record& r, const std::wstring& name, const std::wstring& text)
{
    switch (MatchKey(name)) {
    case LISTKEY_FILENAME: r.FileName = text; break;
    case LISTKEY_FILEVERSION: r.FileVersion = text; break;
    case LISTKEY_PRODUCTVERSION: r.ProductVersion = text; break;
    case LISTKEY_LENGTH: r.Length = ReadLength(text); break;
    case LISTKEY_FILEDATELOW: SetTimeLow(r.FileTime, ReadDecimalBits(text)); break;
    case LISTKEY_FILEDATEHIGH: SetTimeHigh(r.FileTime, ReadDecimalBits(text)); break;
    case LISTKEY_INSTALLDIR: r.InstallDir = text; break;
    case LISTKEY_REGISTER: r.Register = ReadFlag(text); break;
    case LISTKEY_ZIPFILE: r.ZipFile = ReadFlag(text); break;
    case LISTKEY_FORCEOVERWRITE: r.ForceOverwrite = ReadFlag(text); break;
    case LISTKEY_EXECUTE: r.Execute = ReadFlag(text); break;
    case LISTKEY_EXECUTEPAR: r.ExecutePar = text; break;
    case LISTKEY_LOCALPATH: r.LocalPath = text; break;
    case LISTKEY_URL: r.URL = text; break;
    case LISTKEY_USERNAME: r.UserName = text; break;
    case LISTKEY_PASSWORD: r.Password = text; break;
    case LISTKEY_NONE: break;
    }
}

// The name a key is documented under (FileName for LISTKEY_FILENAME); empty for LISTKEY_NONE.
const wchar_t* KeyName(ListKey key);
