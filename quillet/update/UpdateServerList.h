#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One line of updatelist.ini: "id;kind;name;host;port".
struct UpdateServer {
    std::int32_t id = 0;   // never 0 in a list
    std::int32_t kind = 0; // group; the window asks for kind 1
    std::string name;      // label, at most UPDATE_SERVER_NAME_MAX bytes
    std::string host;      // host name or address, at most UPDATE_SERVER_HOST_MAX bytes
    std::int32_t port = 0; // as written; only its low 16 bits are used
};

constexpr std::size_t UPDATE_SERVER_LINE_MAX = 1299;
constexpr std::size_t UPDATE_SERVER_NAME_MAX = 259;
constexpr std::size_t UPDATE_SERVER_HOST_MAX = 63;

// The TCP port the updater connects to.
inline std::uint16_t ServerPort(const UpdateServer& server) noexcept
{
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(server.port) & 0xFFFFu);
}

// Reads the servers from the bytes of updatelist.ini, as the file reads in text
// mode. Lines starting with "#" are comments; an empty line ends the list; a line
// that parses only partly keeps zero or empty later fields; id 0 is dropped.
// Lines longer than UPDATE_SERVER_LINE_MAX bytes, and lines whose name or host is
// longer than its limit, are skipped whole.
std::vector<UpdateServer> ParseUpdateServers(std::string_view bytes);

// The servers of the file at path; empty when it cannot be read.
std::vector<UpdateServer> LoadUpdateServers(const char* path);
