#include "ZorvaneList.h"

#include <cstdio>
#include <map>

#include "Url.h"
#include "Utf8.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    return Utf8FromWide(text);
}

std::string EscapeXml(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

bool HasExtension(const std::string& path, const char* ext)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    return EqualsNoCaseAscii(WideFromUtf8(path.substr(dot)), WideFromUtf8(ext));
}

bool IsProgramName(const std::string& path)
{
    return HasExtension(path, ".exe") || HasExtension(path, ".dll") || HasExtension(path, ".ocx");
}

bool IsDottedVersion(const std::wstring& v)
{
    if (v.empty())
        return false;
    bool digit = false;
    for (wchar_t c : v) {
        if (c >= L'0' && c <= L'9')
            digit = true;
        else if (c == L'.' && digit)
            digit = false;
        else
            return false;
    }
    return digit;
}

} // namespace

std::string FileTimeText(FileTimeValue t)
{
    const std::uint64_t ticks = (static_cast<std::uint64_t>(t.High) << 32) | t.Low;
    // Days and seconds since 1601 are enough for a readable UTC stamp.
    const std::int64_t unix = static_cast<std::int64_t>(ticks / 10000000u) - 11644473600LL;
    std::int64_t days = unix >= 0 ? unix / 86400 : (unix - 86399) / 86400;
    const std::int64_t secs = unix - days * 86400;
    // Civil date from days since 1970-01-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld UTC", static_cast<long long>(y + (m <= 2)),
                  m, d, static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60));
    return text;
}

std::wstring PlaceKey(const ListedFile& e)
{
    std::wstring key = DescribeTarget(e);
    for (wchar_t& c : key) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return key;
}

namespace {

// A number the clients read with wrapping: true when the text is exactly the
// decimal digits of a value in 0..max (an optional "-" allowed for signed fields).
bool IsPlainNumber(const std::wstring& text, std::uint64_t max, bool allowMinus)
{
    std::size_t i = 0;
    if (allowMinus && !text.empty() && text[0] == L'-')
        i = 1;
    if (i == text.size() || text.size() - i > 10)
        return false;
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        v = v * 10 + static_cast<std::uint64_t>(text[i] - L'0');
    }
    return v <= max;
}

// " (first at line N)", when the reader knows lines.
std::string FirstAt(int line)
{
    return line > 0 ? " (first at line " + std::to_string(line) + ")" : std::string();
}

} // namespace

std::string EncodeUrlPath(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string DecodeUrlPath(const std::string& path)
{
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && hex(path[i + 1]) >= 0 && hex(path[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(path[i + 1]) * 16 + hex(path[i + 2])));
            i += 2;
        } else {
            out.push_back(path[i]);
        }
    }
    return out;
}

std::vector<ListedFile> ReadListedFiles(const std::vector<XmlFileElement>& elements)
{
    std::vector<ListedFile> out;
    out.reserve(elements.size());
    for (const XmlFileElement& element : elements) {
        ListedFile e;
        e.line = element.line;
        for (const XmlChild& child : element.children)
            StoreListValue(e, child.name, child.text);
        out.push_back(std::move(e));
    }
    return out;
}

std::wstring DescribeTarget(const ListedFile& entry)
{
    std::wstring base;
    switch (SelectBaseFolder(entry.InstallDir)) {
    case BASE_MODULE: base = L"<program folder>"; break;
    case BASE_WINDOWS: base = L"<Windows folder>"; break;
    case BASE_SYSTEM: base = L"<system folder>"; break;
    }
    return JoinFullPath(base, entry.LocalPath, entry.FileName);
}

std::vector<ListedFile> PlanZorvaneList(const std::vector<ReleaseFile>& files, PublishRules& rules, CReport& report)
{
    std::vector<ListedFile> out;
    for (const ReleaseFile& f : files) {
        const FileRule rule = rules.RuleFor(f.path);
        if (rule.skip.value_or(false))
            continue;
        ListedFile e;
        e.sourcePath = f.path;
        const std::size_t slash = f.path.rfind('/');
        const std::string name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
        std::string folder = slash == std::string::npos ? std::string() : f.path.substr(0, slash);
        for (char& c : folder) {
            if (c == '/')
                c = '\\';
        }
        e.FileName = WideFromUtf8(name);
        e.LocalPath = WideFromUtf8(rule.localPath.value_or(folder));
        e.InstallDir = WideFromUtf8(rule.installDir.value_or("CURRENTDIR"));
        e.Register = rule.registerFile.value_or(false);
        e.Execute = rule.execute.value_or(false);
        e.ExecutePar = WideFromUtf8(rule.executePar.value_or(std::string()));
        e.Length = static_cast<std::int64_t>(f.size);
        e.FileTime = f.lastWrite;
        e.URL = WideFromUtf8(rules.baseUrl + EncodeUrlPath(f.path));

        const CompareBy by = rule.compare.value_or(CompareBy::Auto);
        if (f.version && by != CompareBy::Time) {
            e.FileVersion = FormatVersion(f.version->fileVersionMS, f.version->fileVersionLS);
            e.ProductVersion = FormatVersion(f.version->productVersionMS, f.version->productVersionLS);
        } else if (by == CompareBy::Version || (by == CompareBy::Auto && IsProgramName(f.path))) {
            report.Warn(f.path, 0,
                        f.isPe ? "has no version resource: listed without FileVersion, so clients compare its file time"
                               : "is not a program image with a version resource: listed without FileVersion, so "
                                 "clients compare its file time");
        }
        if (e.Register && !(f.isPe && HasExtension(f.path, ".dll")) && !(f.isPe && HasExtension(f.path, ".ocx")))
            report.Warn(f.path, 0, "Register is set, but regsvr32 registers only DLL images");
        if (e.Execute && !(f.isPe && HasExtension(f.path, ".exe")))
            report.Warn(f.path, 0, "Execute is set, but the file is no .exe program image");
        if (f.size > 0x7FFFFFFFu)
            report.Warn(f.path, 0,
                        "is " + std::to_string(f.size) +
                            " bytes long: clients read Length as a signed 32-bit number, so it wraps");
        if (e.LocalPath.find(L"..") != std::wstring::npos)
            report.Warn(f.path, 0, "LocalPath climbs out of the install folder with \"..\"");
        out.push_back(std::move(e));
    }
    // Two release files on one client path: the clients would install both there.
    std::map<std::wstring, std::string> landed;
    for (const ListedFile& e : out) {
        const auto [it, added] = landed.emplace(PlaceKey(e), e.sourcePath);
        if (!added)
            report.Error(e.sourcePath, 0,
                         "lands on " + Narrow(DescribeTarget(e)) + " like " + it->second +
                             " (clients compare paths without case): give one of them another name or LocalPath");
    }
    for (const RuleSection& s : rules.sections) {
        if (!s.used)
            report.Warn(rules.file, s.line, "[" + s.pattern + "] matches no file of the release");
    }
    return out;
}

std::string WriteZorvaneList(const std::vector<ListedFile>& entries)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<UpdateList>\r\n";
    const auto field = [&xml](const char* key, const std::string& value) {
        xml += "    <";
        xml += key;
        xml += '>';
        xml += EscapeXml(value);
        xml += "</";
        xml += key;
        xml += ">\r\n";
    };
    for (const ListedFile& e : entries) {
        xml += "  <File>\r\n";
        field("FileName", Narrow(e.FileName));
        field("FileVersion", Narrow(e.FileVersion));
        field("ProductVersion", Narrow(e.ProductVersion));
        field("Length", std::to_string(e.Length));
        field("FileDateLow", std::to_string(e.FileTime.Low));
        field("FileDateHigh", std::to_string(e.FileTime.High));
        field("InstallDir", Narrow(e.InstallDir));
        field("LocalPath", Narrow(e.LocalPath));
        field("Register", e.Register ? "YES" : "NO");
        field("Execute", e.Execute ? "YES" : "NO");
        if (!e.ExecutePar.empty())
            field("ExecutePar", Narrow(e.ExecutePar));
        field("URL", Narrow(e.URL));
        xml += "  </File>\r\n";
    }
    xml += "</UpdateList>\r\n";
    return xml;
}

void CheckZorvaneList(const std::vector<XmlFileElement>& elements, const std::string& file, CReport& report)
{
    if (elements.empty())
        report.Warn(file, 0, "the document has no File element: clients find nothing to update");
    std::map<std::wstring, int> places;
    for (const XmlFileElement& element : elements) {
        const int line = element.line;
        ListedFile e;
        e.line = line;
        std::map<ListKey, int> seen;
        for (const XmlChild& child : element.children) {
            const int at = child.line ? child.line : line;
            const std::string name = Narrow(child.name);
            const ListKey key = MatchKey(child.name);
            StoreListValue(e, child.name, child.text);
            if (key == LISTKEY_NONE) {
                if (child.name != L"File")
                    report.Warn(file, at, "<" + name + "> is no key of a File element: clients ignore it");
                continue;
            }
            const std::string canonical = Narrow(KeyName(key));
            if (child.name != KeyName(key))
                report.Warn(file, at, "<" + name + "> is read as " + canonical + " (keys match in any case)");
            if (seen.count(key))
                report.Warn(file, at, canonical + " given twice" + FirstAt(seen[key]) + ": clients take the last one");
            seen[key] = at;
            const std::wstring& v = child.text;
            switch (key) {
            case LISTKEY_LENGTH:
                if (!IsPlainNumber(v, 0x7FFFFFFFu, false))
                    report.Warn(file, at,
                                "Length \"" + Narrow(v) + "\" reads as " + std::to_string(ReadLength(v)) +
                                    " (a signed 32-bit number, leading digits only)");
                break;
            case LISTKEY_FILEDATELOW:
            case LISTKEY_FILEDATEHIGH:
                if (!IsPlainNumber(v, 0xFFFFFFFFu, false))
                    report.Warn(file, at,
                                canonical + " \"" + Narrow(v) + "\" reads as " + std::to_string(ReadDecimalBits(v)) +
                                    " (leading digits, wrapping modulo 2^32)");
                break;
            case LISTKEY_REGISTER:
            case LISTKEY_EXECUTE:
            case LISTKEY_ZIPFILE:
            case LISTKEY_FORCEOVERWRITE:
                if (!EqualsNoCaseAscii(v, L"YES") && !EqualsNoCaseAscii(v, L"NO") && !v.empty())
                    report.Warn(file, at, canonical + " \"" + Narrow(v) + "\" reads as NO (only YES sets a flag)");
                break;
            case LISTKEY_INSTALLDIR:
                if (!EqualsNoCaseAscii(v, L"CURRENTDIR") && !EqualsNoCaseAscii(v, L"WINDOWSDIR") &&
                    !EqualsNoCaseAscii(v, L"SYSTEMDIR"))
                    report.Warn(file, at,
                                "InstallDir \"" + Narrow(v) + "\" is no known word: clients use their own folder");
                break;
            case LISTKEY_FILEVERSION:
                if (!v.empty() && !IsDottedVersion(v))
                    report.Warn(file, at,
                                "FileVersion \"" + Narrow(v) +
                                    "\" is not a dotted number such as 1.0.0.10: it compares as text against the "
                                    "local version \"%u.%u.%u.%u\"");
                break;
            default: break;
            }
        }
        const std::string target = Narrow(DescribeTarget(e));
        if (element.insideFile)
            report.Note(file, line, "File element inside another File element: an entry of its own");
        if (e.FileName.empty())
            report.Error(file, line, "entry without FileName: clients fetch into the folder path itself and fail");
        if (e.URL.empty()) {
            report.Error(file, line, "entry without URL: clients cannot fetch it");
        } else {
            const std::optional<ParsedUrl> url = ParseUrl(e.URL);
            if (!url || url->service != UrlService::Http)
                report.Error(file, line, "URL \"" + Narrow(e.URL) + "\" is no http:// address the clients can fetch");
        }
        if (e.Length < 0)
            report.Warn(file, line, "Length reads as the negative " + std::to_string(e.Length));
        const std::wstring place = PlaceKey(e);
        if (!e.FileName.empty() && places.count(place))
            report.Warn(file, line, target + " is listed again" + FirstAt(places[place]) + ": clients fetch it twice");
        places.emplace(place, line);
        std::string how = e.FileVersion.empty()
                              ? "fetched when missing or when its last-write time is before " + FileTimeText(e.FileTime)
                              : "fetched when missing or when its version is below " + Narrow(e.FileVersion);
        if (e.Register)
            how += "; registered with regsvr32";
        if (e.Execute)
            how += "; run" + (e.ExecutePar.empty() ? std::string() : " with \"" + Narrow(e.ExecutePar) + "\"");
        report.Note(file, line, target + ": " + how);
    }
}
