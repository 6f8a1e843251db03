#include "LogFile.h"

#include <cstring>

#include <zlib.h>

namespace {

constexpr std::size_t BLOCK = 1 << 20;
// A line longer than this is no access log's: the reader gives up on the file.
constexpr std::size_t LONGEST = 64u << 20;

} // namespace

struct CLogFile::Zlib {
    z_stream stream{};
    bool open = false;
    ~Zlib()
    {
        if (open)
            inflateEnd(&stream);
    }
};

CLogFile::CLogFile() = default;
CLogFile::~CLogFile() = default;

bool CLogFile::Open(const std::filesystem::path& path, std::string& error)
{
    std::error_code ec;
    m_size = std::filesystem::file_size(path, ec);
    m_in.open(path, std::ios::binary);
    if (ec || !m_in) {
        error = ec ? ec.message() : "cannot be opened";
        return false;
    }
    m_buffer.resize(BLOCK);
    char magic[2] = {};
    m_in.read(magic, 2);
    const std::streamsize got = m_in.gcount();
    m_in.clear();
    m_in.seekg(0);
    m_gzip = got == 2 && static_cast<unsigned char>(magic[0]) == 0x1f && static_cast<unsigned char>(magic[1]) == 0x8b;
    if (m_gzip) {
        m_zlib = std::make_unique<Zlib>();
        // 16 + the window: a gzip header, not a zlib one.
        if (inflateInit2(&m_zlib->stream, 16 + MAX_WBITS) != Z_OK) {
            error = "zlib cannot start";
            return false;
        }
        m_zlib->open = true;
        m_raw.resize(256 * 1024);
    }
    return true;
}

bool CLogFile::NextLine(std::string_view& line)
{
    for (;;) {
        const char* start = m_buffer.data() + m_begin;
        const void* newline = std::memchr(start, '\n', m_end - m_begin);
        if (newline) {
            const char* at = static_cast<const char*>(newline);
            line = std::string_view(start, static_cast<std::size_t>(at - start));
            m_begin = static_cast<std::size_t>(at - m_buffer.data()) + 1;
            return true;
        }
        if (m_eof || !m_problem.empty()) {
            if (m_begin == m_end)
                return false;
            line = std::string_view(start, m_end - m_begin); // the last line, without its line break
            m_begin = m_end;
            return true;
        }
        // Keep the start of the line, make room, read on.
        std::memmove(m_buffer.data(), start, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        if (m_end == m_buffer.size()) {
            if (m_buffer.size() >= LONGEST) {
                m_problem = "a line longer than " + std::to_string(LONGEST >> 20) + " MB";
                m_end = 0;
                return false;
            }
            m_buffer.resize(m_buffer.size() * 2);
        }
        if (!Fill() && m_problem.empty())
            m_eof = true;
    }
}

// More text at the end of the buffer; false at the end of the file.
bool CLogFile::Fill()
{
    if (m_gzip)
        return Inflate();
    m_in.read(m_buffer.data() + m_end, static_cast<std::streamsize>(m_buffer.size() - m_end));
    const auto got = static_cast<std::size_t>(m_in.gcount());
    m_end += got;
    m_consumed += got;
    return got > 0;
}

bool CLogFile::Inflate()
{
    z_stream& z = m_zlib->stream;
    const std::size_t before = m_end;
    while (m_end == before) {
        if (z.avail_in == 0) {
            m_in.read(m_raw.data(), static_cast<std::streamsize>(m_raw.size()));
            const auto got = static_cast<std::size_t>(m_in.gcount());
            m_consumed += got;
            if (got == 0) {
                if (m_zlib->open && z.total_in > 0 && !m_eof)
                    m_problem = "the compressed data ends early (a file still being compressed?)";
                return false;
            }
            z.next_in = reinterpret_cast<Bytef*>(m_raw.data());
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = reinterpret_cast<Bytef*>(m_buffer.data() + m_end);
        z.avail_out = static_cast<uInt>(m_buffer.size() - m_end);
        const int rc = inflate(&z, Z_NO_FLUSH);
        m_end = m_buffer.size() - z.avail_out;
        if (rc == Z_STREAM_END) {
            // gzip files may hold several members one after the other.
            inflateReset(&z);
            if (z.avail_in == 0 && m_in.peek() == std::char_traits<char>::eof()) {
                return m_end > before;
            }
            continue;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            m_problem = std::string("the compressed data is damaged (") + (z.msg ? z.msg : "zlib error") + ")";
            return m_end > before;
        }
    }
    return true;
}
