#pragma once

// The programs the fleet's commands start: rsync for the mirrors, the command
// that makes a server's nginx read its shares again.

#include <string>
#include <vector>

// Runs a program with its arguments as they are (no shell), waits for it, and
// gives its exit code (-1 when it could not be started) and what it wrote to
// its output and error streams.
int RunProgram(const std::vector<std::string>& argv, std::string& output);

// Runs a command line of the publisher's through the system's shell.
int RunShell(const std::string& command, std::string& output);
