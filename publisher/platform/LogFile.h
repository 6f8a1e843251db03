#pragma once

// An access log as it lies on the disk: plain, or compressed with gzip as
// logrotate leaves it (access.log.2.gz), told by its first bytes rather than its
// name; read in large blocks and cut into lines. zlib inflates.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CLogFile {
public:
    CLogFile();
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // False, with the reason, when it cannot be opened.
    bool Open(const std::filesystem::path& path, std::string& error);
    // The next line without its line break (the last one may have none); false
    // at the end, or when the rest cannot be read (Problem() says why).
    bool NextLine(std::string_view& line);

    const std::string& Problem() const { return m_problem; }
    bool Compressed() const { return m_gzip; }
    std::uint64_t Size() const { return m_size; }
    std::uint64_t Consumed() const { return m_consumed; } // bytes of the file read so far

private:
    bool Fill();
    bool Inflate();

    struct Zlib;
    std::ifstream m_in;
    std::unique_ptr<Zlib> m_zlib;
    bool m_gzip = false;
    bool m_eof = false;
    std::uint64_t m_size = 0;
    std::uint64_t m_consumed = 0;
    std::vector<char> m_raw;    // compressed bytes read, not yet inflated
    std::vector<char> m_buffer; // text
    std::size_t m_begin = 0;    // the next line starts here
    std::size_t m_end = 0;      // text ends here
    std::string m_problem;
};
