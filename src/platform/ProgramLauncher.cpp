#include "platform/ProgramLauncher.h"

#include <cerrno>
#include <csignal>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>

extern char** environ;

int LaunchProgram(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EACCES;
    if ((info.st_mode & S_IXUSR) == 0 && ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR) != 0)
        return errno;

    // The caller may have blocked or caught signals for its own use (the
    // console client waits for Ctrl-C with them blocked); the program gets
    // the defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t child = 0;
    const int result = ::posix_spawn(&child, path.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    return result;
}
