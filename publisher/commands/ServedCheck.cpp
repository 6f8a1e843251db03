#include "ServedCheck.h"

#include <cstdio>

#include "Crc32.h"
#include "ListRules.h"
#include "ReleaseFolder.h"
#include "UpdateRules.h"
#include "Utf8.h"
#include "pe/PeImage.h"

namespace {

bool HasHighBytes(const std::string& text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return true;
    }
    return false;
}

} // namespace

void CFetchProgress::Start(const std::string& what)
{
    ++m_index;
    if (m_quiet)
        return;
    std::printf("[%*zu/%zu] %s ... ", static_cast<int>(std::to_string(m_count).size()), m_index, m_count, what.c_str());
    std::fflush(stdout);
}

void CFetchProgress::End(const std::string& what, const std::string& problem, std::uint64_t bytes)
{
    if (problem.empty()) {
        ++m_tally.ok;
        m_tally.bytes += bytes;
        if (!m_quiet)
            std::printf("ok (%llu bytes)\n", static_cast<unsigned long long>(bytes));
    } else {
        ++m_tally.failed;
        if (!m_quiet)
            std::printf("FAILED: %s\n", problem.c_str());
        m_tally.failures.push_back(what + ": " + problem);
    }
    std::fflush(stdout);
}

std::string StatusProblem(const HttpGetResult& r)
{
    if (!r.ok && r.head.status == 0)
        return r.error;
    if (r.head.status != 200)
        return "status " + std::to_string(r.head.status) + " " + r.head.reason + " (clients take only 200)";
    if (!r.ok)
        return r.error;
    return std::string();
}

std::string CompareServedList(const HttpGetResult& r, const std::vector<std::uint8_t>& local)
{
    std::string problem = StatusProblem(r);
    if (problem.empty() && r.body != local)
        problem = "differs from the local list (" + std::to_string(r.body.size()) + " bytes served, " +
                  std::to_string(local.size()) + " published)";
    return problem;
}

void PrintTally(const char* who, const VerifyTally& tally)
{
    std::printf("%s: %zu fetched, %zu ok, %zu failed, %.1f MB checked\n", who, tally.ok + tally.failed, tally.ok,
                tally.failed, static_cast<double>(tally.bytes) / 1048576.0);
    for (const std::string& f : tally.failures)
        std::printf("  failed: %s\n", f.c_str());
}

bool CReleaseCopy::Open(const std::filesystem::path& root, std::string& error)
{
    m_root = root;
    FolderContents contents;
    if (!ListReleaseFolder(m_root, contents, error))
        return false;
    m_files = contents.files;
    return true;
}

std::optional<std::string> CReleaseCopy::PathOfUrl(const std::string& object) const
{
    std::optional<std::string> best;
    for (const std::string& f : m_files) {
        const std::string tail = "/" + EncodeUrlPath(f);
        if (object.size() >= tail.size() && object.compare(object.size() - tail.size(), tail.size(), tail) == 0 &&
            (!best || f.size() > best->size()))
            best = f;
    }
    return best;
}

std::optional<CReleaseCopy::Facts> CReleaseCopy::FactsOf(const std::string& path)
{
    const auto it = m_facts.find(path);
    if (it != m_facts.end())
        return it->second;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(m_root / PathFromUtf8(path), bytes))
        return std::nullopt;
    Facts f;
    f.size = bytes.size();
    f.crc = Crc32(CRC32_START, bytes.data(), bytes.size());
    m_facts.emplace(path, f);
    return f;
}

std::string CReleaseCopy::Compare(const std::string& path, const HttpGetResult& r)
{
    const std::optional<Facts> f = FactsOf(path);
    if (!f)
        return "the release folder has no file " + path;
    if (r.bodyBytes != f->size)
        return std::to_string(r.bodyBytes) + " bytes served, the release file " + path + " has " +
               std::to_string(f->size);
    if (r.crc != f->crc)
        return "other bytes than the release file " + path + " (same length, checksum " +
               std::to_string(static_cast<std::int32_t>(r.crc)) + " served, " +
               std::to_string(static_cast<std::int32_t>(f->crc)) + " in the release)";
    return std::string();
}

void CheckZorvaneFiles(const std::vector<ListedFile>& entries, const std::string& file,
                       const std::optional<Target>& server, int timeoutSeconds, CReleaseCopy* release,
                       CFetchProgress& progress)
{
    HttpGetOptions options;
    options.zorvaneHeaders = true;
    options.timeoutMs = timeoutSeconds * 1000;
    for (const ListedFile& e : entries) {
        const std::string url = Utf8FromWide(e.URL);
        std::optional<Target> t = TargetOfUrl(url);
        progress.Start(url.empty() ? "(no URL)" : url);
        if (!t) {
            progress.End(file + ":" + std::to_string(e.line), "no http:// address the clients can fetch", 0);
            continue;
        }
        if (server) {
            t->host = server->host;
            t->port = server->port;
        }
        HttpGetOptions fileOptions = options;
        fileOptions.keepBody = !e.FileVersion.empty();
        const HttpGetResult r = HttpGet(t->host, t->port, t->object, fileOptions);
        std::string problem = StatusProblem(r);
        const std::uint32_t listed = static_cast<std::uint32_t>(static_cast<std::uint64_t>(e.Length));
        if (problem.empty() && static_cast<std::uint32_t>(r.bodyBytes) != listed)
            problem = std::to_string(r.bodyBytes) + " bytes served, Length " + std::to_string(e.Length) + " listed";
        if (problem.empty() && !e.FileVersion.empty()) {
            PeResult<FileVersion> v = ReadFileVersion(r.body);
            const std::wstring served =
                v ? FormatVersion((static_cast<std::uint32_t>(v->major) << 16) | v->minor,
                                  (static_cast<std::uint32_t>(v->build) << 16) | v->revision)
                  : std::wstring();
            if (!EqualsNoCaseAscii(served, e.FileVersion))
                problem = "version " + (served.empty() ? std::string("(none)") : Utf8FromWide(served)) +
                          " served, " + Utf8FromWide(e.FileVersion) + " listed";
        }
        if (problem.empty() && release) {
            const std::optional<std::string> path = release->PathOfUrl(t->object);
            problem = path ? release->Compare(*path, r) : "no file of the release folder has this address";
        }
        progress.End(url, problem, r.bodyBytes);
    }
}

VerifyTally CheckQuilletServer(const QuilletSource& source, const std::vector<FileEntry>& entries,
                               const std::vector<std::uint8_t>& listBytes, int timeoutSeconds, CReleaseCopy* release,
                               bool quiet)
{
    std::vector<std::pair<FileEntry, std::string>> fetches;
    for (FileEntry e : entries) {
        e.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
        if (e.kind != ENTRY_FILE || IsSkippedEntry(e))
            continue;
        const std::optional<EntryTarget> target = TargetOf(e, source.folder);
        if (!target)
            continue;
        fetches.emplace_back(e, source.prefix + QuilletRequestTarget(target->urlPath));
    }
    HttpGetOptions options;
    options.timeoutMs = timeoutSeconds * 1000;
    VerifyTally tally;
    CFetchProgress progress(tally, fetches.size() + 1, quiet);
    const Target& t = source.server;
    {
        progress.Start(source.listPath);
        HttpGetOptions listOptions = options;
        listOptions.keepBody = true;
        const HttpGetResult r = HttpGet(t.host, t.port, source.listPath, listOptions);
        progress.End(source.listPath, CompareServedList(r, listBytes), r.bodyBytes);
        // A server that cannot be reached fails every fetch the same way: one line says so.
        if (!r.ok && r.head.status == 0 && r.bodyBytes == 0 && r.error.rfind("the connection", 0) != 0) {
            tally.failed += fetches.size();
            if (!fetches.empty())
                tally.failures.push_back(std::to_string(fetches.size()) + " files not fetched: " + r.error);
            return tally;
        }
    }
    for (const auto& [e, path] : fetches) {
        const std::string shown = Utf8FromGbk(path);
        progress.Start(shown);
        // Quillet sends the name's GBK bytes as they are.
        const HttpGetResult r = HttpGet(t.host, t.port, path, options);
        std::string problem = StatusProblem(r);
        if (r.head.status == 404 && HasHighBytes(path)) {
            // A server that stored the name in UTF-8 has it under another address.
            HttpGetOptions probe = options;
            probe.headOnly = true;
            const HttpGetResult utf8 = HttpGet(t.host, t.port, shown, probe);
            if (utf8.ok && utf8.head.status == 200)
                problem = "status 404 for the GBK name that Quillet asks for; the server has the file under its "
                          "UTF-8 name: store it under its GBK name (docs/publishing.md, \"Files with Chinese names\")";
        }
        if (problem.empty() && !r.head.contentLength)
            problem = "no Content-Length (Quillet refuses such an answer)";
        if (problem.empty() && static_cast<std::int32_t>(r.crc) != e.checksum)
            problem = "checksum " + std::to_string(static_cast<std::int32_t>(r.crc)) + " served, " +
                      std::to_string(e.checksum) + " listed";
        if (problem.empty() && release)
            problem = release->Compare(ReleasePathOf(e), r);
        progress.End(shown, problem, r.bodyBytes);
    }
    return tally;
}
