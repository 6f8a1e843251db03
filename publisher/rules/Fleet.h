#pragma once

// The publisher's fleet: the tree where releases are kept side by side, the
// servers that serve it (this machine's nginx and the mirrors), how each one
// takes a new shares file, and the salt that places the players. Read from
// fleet.ini:
//
//   root = /srv/vexa                 releases/<name>/ side by side; nginx's root here
//   url = http://updates.example.com the players' address of this server, if it serves
//   nginx-conf = /etc/nginx/conf.d/vexa-shares.conf
//   reload = nginx -s reload
//   salt = vexa
//
//   [mirror east]
//   root = east.example.com:/srv/vexa                     (as rsync takes it)
//   url = http://east.updates.example.com
//   nginx-conf = east.example.com:/etc/nginx/conf.d/vexa-shares.conf
//   reload = ssh east.example.com nginx -s reload
//
// The shares file and the history of its states are kept beside fleet.ini
// (shares.conf, history.log).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Report.h"

struct FleetServer {
    std::string name;      // "this server" or the mirror's name
    std::string root;      // its copy of the tree (the master itself for this server)
    std::string url;       // http://host[:port], no "/" at the end
    std::string nginxConf; // where its nginx reads the shares
    std::string reload;    // the command that makes its nginx read them again; empty: printed
    bool mirror = false;
};

struct Fleet {
    std::string root; // the master tree on this machine
    std::string salt;
    std::vector<FleetServer> servers; // this server first when it serves, then the mirrors in file order
};

// The fleet, or nothing with the problems in the report under `file`.
std::optional<Fleet> ReadFleet(std::string_view text, const std::string& file, CReport& report);
