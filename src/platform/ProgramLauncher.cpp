#include "platform/ProgramLauncher.h"

#include <algorithm>
#include <string>
#include <vector>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

constexpr int kDefaultSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD};

// Closes descriptors first..last in the child; close_range does it in one
// call, the loop stands in on kernels without it. Only async-signal-safe
// calls: this runs between fork and exec.
void CloseRange(unsigned first, unsigned last, unsigned loopLimit)
{
    if (first > last)
        return;
    if (::close_range(first, last, 0) == 0)
        return;
    for (unsigned fd = first; fd <= last && fd < loopLimit; ++fd)
        ::close(static_cast<int>(fd));
}

// A shell script run straight from its descriptor would see "/dev/fd/N" as
// its $0, and installers commonly find their own files through $0. A script
// whose interpreter is a POSIX shell is therefore run as
// `SHELL [ARG] -c '. /dev/fd/N' PATH`: the shell reads the very bytes that
// were digested, and $0 is the installer's path. Anything else (a program,
// another interpreter) is started from the descriptor itself.
struct ShellScript {
    std::string interpreter;        // empty: not such a script
    std::vector<std::string> argv;
};

ShellScript ShellScriptOf(int fd, const std::string& path)
{
    char head[256];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got < 2 || head[0] != '#' || head[1] != '!')
        return {};
    const std::string line(head + 2, static_cast<std::size_t>(got) - 2);
    const auto end = line.find('\n');
    if (end == std::string::npos)
        return {};
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < end) {
        const auto first = line.find_first_not_of(" \t\r", at);
        if (first == std::string::npos || first >= end)
            break;
        auto last = line.find_first_of(" \t\r\n", first);
        last = std::min(last == std::string::npos ? end : last, end);
        words.push_back(line.substr(first, last - first));
        at = last;
    }
    if (words.empty() || words.size() > 2)
        return {};
    const std::string& interpreter = words[0];
    const std::string name = interpreter.substr(interpreter.rfind('/') + 1);
    if (interpreter.front() != '/' || (name != "sh" && name != "bash" && name != "dash"))
        return {};
    ShellScript script;
    script.interpreter = interpreter;
    script.argv = words;
    script.argv.push_back("-c");
    script.argv.push_back(". /dev/fd/" + std::to_string(fd));
    script.argv.push_back(path);
    return script;
}

[[noreturn]] void RunInChild(int programFd, int reportFd, const char* interpreter, char* const argv[],
                             unsigned loopLimit)
{
    // Handlers of the caller mean nothing here; the usual signals get their
    // defaults even when the caller ignores them, as LaunchProgram does.
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0)
            continue;
        const bool caught = (current.sa_flags & SA_SIGINFO) != 0 ||
                            (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
        const bool usual = std::find(std::begin(kDefaultSignals), std::end(kDefaultSignals), signal) !=
                           std::end(kDefaultSignals);
        if (caught || usual) {
            struct sigaction defaults {};
            defaults.sa_handler = SIG_DFL;
            ::sigaction(signal, &defaults, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    unsigned next = 3;
    for (int keep : {std::min(programFd, reportFd), std::max(programFd, reportFd)}) {
        const unsigned kept = static_cast<unsigned>(keep);
        if (kept >= next) {
            CloseRange(next, kept - 1, loopLimit);
            next = kept + 1;
        }
    }
    CloseRange(next, ~0u, loopLimit);

    // A script is run by its interpreter from /dev/fd/N, which needs the
    // descriptor to survive the exec.
    int error = 0;
    if (::fcntl(programFd, F_SETFD, 0) != 0) {
        error = errno;
    } else {
        if (interpreter != nullptr)
            ::execv(interpreter, argv);
        else
            ::fexecve(programFd, argv, environ);
        error = errno;
    }
    while (::write(reportFd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

} // namespace

int OpenProgram(const std::string& path)
{
    // Non-blocking so that a FIFO in its place does not hang us; it is
    // refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -errno;
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = EACCES;
    else if ((info.st_mode & S_IXUSR) == 0 && ::fchmod(fd, (info.st_mode & 07777) | S_IXUSR) != 0)
        error = errno;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        return -error;
    }
    return fd;
}

int LaunchOpenedProgram(int fd, const std::string& path, pid_t* child)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode) || (info.st_mode & S_IXUSR) == 0)
        return EACCES;

    // Everything the child needs is made before fork: after it, in a
    // program with threads, only async-signal-safe calls are allowed.
    const ShellScript shell = ShellScriptOf(fd, path);
    std::vector<char*> argv;
    if (shell.interpreter.empty()) {
        argv = {const_cast<char*>(path.c_str()), nullptr};
    } else {
        for (const std::string& word : shell.argv)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
    }
    struct rlimit limit {};
    unsigned loopLimit = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < loopLimit)
        loopLimit = static_cast<unsigned>(limit.rlim_cur);
    // The child writes its errno here when the exec fails; a successful exec
    // closes it (close-on-exec), which the parent reads as success.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;

    // No signal handler of ours may run in the child before it resets them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0)
        RunInChild(fd, report[1], shell.interpreter.empty() ? nullptr : shell.interpreter.c_str(), argv.data(),
                   loopLimit);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return forkError;
    }

    int childError = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        ::waitpid(pid, nullptr, 0); // the child has ended; do not leave it behind
        return childError != 0 ? childError : ENOEXEC;
    }
    if (child != nullptr)
        *child = pid;
    return 0;
}
