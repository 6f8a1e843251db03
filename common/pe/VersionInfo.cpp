#include "VersionInfo.h"

#include <algorithm>
#include <tuple>

namespace {

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Dword(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// Offsets inside a version block are aligned relative to the block's start,
// which the resource compiler places on a 4-byte boundary.
std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

// One node of the block: wLength, wValueLength, wType, a zero-terminated key,
// padding, the value, padding, the children.
struct Node {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint16_t type = 0;
    std::u16string key;
    std::size_t valueBegin = 0;
    std::size_t valueSize = 0; // in bytes, within the node
    std::size_t childrenBegin = 0;
};

PeError Fault(PeStatus status, std::size_t at) { return PeError{status, at}; }

PeResult<Node> ReadNode(PeBytes block, std::size_t at, std::size_t limit)
{
    if (at > limit || limit - at < 6)
        return Fault(PeStatus::Truncated, at);
    const std::uint8_t* p = block.data + at;
    std::uint16_t length = Word(p);
    std::uint16_t valueLength = Word(p + 2);
    Node n;
    n.begin = at;
    n.type = Word(p + 4);
    if (length < 6)
        return Fault(PeStatus::BadVersionBlock, at);
    if (length > limit - at)
        return Fault(PeStatus::Truncated, at);
    n.end = at + length;

    std::size_t pos = at + 6;
    for (;;) {
        if (n.end - pos < 2)
            return Fault(PeStatus::BadVersionBlock, pos); // the key has no terminating zero
        char16_t c = static_cast<char16_t>(Word(block.data + pos));
        pos += 2;
        if (c == 0)
            break;
        n.key += c;
    }

    n.valueBegin = std::min(Align4(pos), n.end);
    std::size_t room = n.end - n.valueBegin;
    if (n.type == 1) {
        // Text: the length counts characters; some writers counted bytes, so
        // keep to the node and let the terminating zero end the text.
        n.valueSize = std::min<std::size_t>(std::size_t(valueLength) * 2, room);
    } else {
        if (valueLength > room)
            return Fault(PeStatus::BadVersionBlock, at);
        n.valueSize = valueLength;
    }
    n.childrenBegin = std::min(Align4(n.valueBegin + n.valueSize), n.end);
    return n;
}

std::u16string TextValue(PeBytes block, const Node& n)
{
    std::u16string text;
    for (std::size_t pos = n.valueBegin; pos + 2 <= n.valueBegin + n.valueSize; pos += 2) {
        char16_t c = static_cast<char16_t>(Word(block.data + pos));
        if (c == 0)
            break;
        text += c;
    }
    return text;
}

// Calls visit(child) for every child of a node; stops at the first fault.
template <typename Visit>
PeError ForEachChild(PeBytes block, const Node& parent, Visit visit)
{
    std::size_t pos = parent.childrenBegin;
    // Fewer than six bytes at the end are padding, not a node.
    while (pos < parent.end && parent.end - pos >= 6) {
        PeResult<Node> child = ReadNode(block, pos, parent.end);
        if (!child)
            return child.Error();
        PeError e = visit(*child);
        if (e.status != PeStatus::Ok)
            return e;
        pos = Align4(child->end);
    }
    return PeError{};
}

FixedFileInfo ReadFixed(const std::uint8_t* p)
{
    FixedFileInfo f;
    std::uint32_t* fields[] = {&f.signature,     &f.strucVersion,     &f.fileVersionMS, &f.fileVersionLS, &f.productVersionMS,
                               &f.productVersionLS, &f.fileFlagsMask, &f.fileFlags,     &f.fileOS,        &f.fileType,
                               &f.fileSubtype,   &f.fileDateMS,       &f.fileDateLS};
    for (std::uint32_t* field : fields) {
        *field = Dword(p);
        p += 4;
    }
    return f;
}

constexpr std::size_t FIXED_FILE_INFO_SIZE = 13 * 4;

} // namespace

FileVersion FileVersion::FromWords(std::uint32_t ms, std::uint32_t ls)
{
    return FileVersion{static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms & 0xFFFF),
                       static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls & 0xFFFF)};
}

std::string FileVersion::ToString() const
{
    return std::to_string(major) + '.' + std::to_string(minor) + '.' + std::to_string(build) + '.' +
           std::to_string(revision);
}

bool FileVersion::operator==(const FileVersion& other) const
{
    return std::tie(major, minor, build, revision) == std::tie(other.major, other.minor, other.build, other.revision);
}

bool FileVersion::operator<(const FileVersion& other) const
{
    return std::tie(major, minor, build, revision) < std::tie(other.major, other.minor, other.build, other.revision);
}

std::optional<std::u16string> VersionInfo::Value(std::u16string_view key, std::u16string_view table) const
{
    for (const VersionStringTable& t : stringTables) {
        if (!table.empty() && t.key != table)
            continue;
        for (const VersionString& s : t.strings)
            if (s.key == key)
                return s.value;
        if (table.empty())
            break;
    }
    return std::nullopt;
}

PeResult<VersionInfo> ParseVersionInfo(PeBytes block)
{
    PeResult<Node> root = ReadNode(block, 0, block.size);
    if (!root)
        return root.Error();
    if (root->key != u"VS_VERSION_INFO")
        return Fault(PeStatus::BadVersionBlock, 0);

    VersionInfo info;
    if (root->valueSize != 0) {
        if (root->valueSize < FIXED_FILE_INFO_SIZE)
            return Fault(PeStatus::BadVersionBlock, root->valueBegin);
        FixedFileInfo fixed = ReadFixed(block.data + root->valueBegin);
        if (fixed.signature != VS_FIXED_SIGNATURE)
            return Fault(PeStatus::BadVersionBlock, root->valueBegin);
        info.fixed = fixed;
    }

    PeError e = ForEachChild(block, *root, [&](const Node& section) {
        if (section.key == u"StringFileInfo") {
            return ForEachChild(block, section, [&](const Node& table) {
                VersionStringTable t;
                t.key = table.key;
                PeError inner = ForEachChild(block, table, [&](const Node& s) {
                    t.strings.push_back(VersionString{s.key, TextValue(block, s)});
                    return PeError{};
                });
                info.stringTables.push_back(std::move(t));
                return inner;
            });
        }
        if (section.key == u"VarFileInfo") {
            return ForEachChild(block, section, [&](const Node& var) {
                if (var.key == u"Translation")
                    for (std::size_t pos = var.valueBegin; pos + 4 <= var.valueBegin + var.valueSize; pos += 4)
                        info.translations.push_back(
                            VersionTranslation{Word(block.data + pos), Word(block.data + pos + 2)});
                return PeError{};
            });
        }
        return PeError{}; // a block this reader does not know is skipped
    });
    if (e.status != PeStatus::Ok)
        return e;
    return info;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}
