#include "Processes.h"

#include <cerrno>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int Run(const std::vector<std::string>& argv, std::string& output)
{
    output.clear();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        output = std::strerror(errno);
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        output = std::strerror(errno);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return -1;
    }
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execvp(args[0], args.data());
        const std::string why = std::string("cannot start ") + args[0] + ": " + std::strerror(errno) + "\n";
        (void)!::write(2, why.data(), why.size());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n > 0)
            output.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

} // namespace

int RunProgram(const std::vector<std::string>& argv, std::string& output)
{
    if (argv.empty())
        return -1;
    return Run(argv, output);
}

int RunShell(const std::string& command, std::string& output)
{
    return Run({"/bin/sh", "-c", command}, output);
}
