#include "platform/ProgramLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "planning/Md5.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace fs = std::filesystem;

namespace {

// Waits for the started program and returns its exit status (-1: no exit).
int ExitStatusOf(pid_t child)
{
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Opens path, starts it from the descriptor and waits for it; the exit
// status, or -1000 - errno when it could not be opened or started.
int RunOpened(const std::string& path)
{
    const int fd = OpenProgram(path);
    if (fd < 0)
        return -1000 + fd;
    pid_t child = -1;
    const int error = LaunchOpenedProgram(fd, path, &child);
    ::close(fd);
    return error != 0 ? -1000 - error : ExitStatusOf(child);
}

std::string Script(const std::string& body)
{
    return "#!/bin/sh\n" + body + "\n";
}

} // namespace

TEST(program_launcher, a_script_renamed_over_after_opening_is_not_the_one_run)
{
    TempDir dir;
    const std::string marker = dir.Folder() + "ran";
    const std::string checked = Script("echo checked > '" + marker + "'; exit 3");
    const std::string path = dir.Write("setup/install.sh", checked);
    const int fd = OpenProgram(path);
    ASSERT_GE(fd, 0) << -fd;

    Md5Context context;
    unsigned char digest[16] = {};
    ASSERT_EQ(DigestDescriptor(fd, &context, digest), DigestFileOk);
    EXPECT_EQ(DigestToHex(digest), Md5Of(checked));

    // Someone swaps the installer between the check and the start.
    const std::string swapped = dir.Write("setup/other.sh", Script("echo swapped > '" + marker + "'; exit 4"));
    ::chmod(swapped.c_str(), 0755);
    ASSERT_EQ(std::rename(swapped.c_str(), path.c_str()), 0);

    pid_t child = -1;
    ASSERT_EQ(LaunchOpenedProgram(fd, path, &child), 0);
    EXPECT_EQ(ExitStatusOf(child), 3);
    EXPECT_EQ(ReadFileText(marker), "checked\n");
    // The descriptor still reads from its start: the digest is the same again.
    ASSERT_EQ(DigestDescriptor(fd, &context, digest), DigestFileOk);
    EXPECT_EQ(DigestToHex(digest), Md5Of(checked));
    ::close(fd);
}

// Installers find their own files through $0: a shell script started from
// its descriptor still sees its path there, whatever shell the first line
// names, and its arguments on that line are kept.
TEST(program_launcher, a_shell_script_sees_its_own_path_as_dollar_zero)
{
    const struct {
        const char* shebang;
        int status;
    } cases[] = {{"#!/bin/sh", 7}, {"#!/bin/bash", 7}, {"#!/bin/sh -e", 1}, {"#!/usr/bin/env sh", 7}};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Write(
            "setup/install.sh", std::string(c.shebang) + "\necho \"$0\" > \"$(dirname \"$0\")/ran-as\"\n" +
                                    "false\nexit 7\n");
        EXPECT_EQ(RunOpened(path), c.status) << c.shebang;
        const bool pathKept = std::string(c.shebang) != "#!/usr/bin/env sh";
        if (pathKept) {
            EXPECT_EQ(ReadFileText(dir.Folder() + "setup/ran-as"), path + "\n") << c.shebang;
        }
    }
}

TEST(program_launcher, a_program_swapped_after_opening_is_not_the_one_run)
{
    TempDir dir;
    const std::string path = dir.Folder() + "installer";
    const std::string other = dir.Folder() + "other";
    ASSERT_TRUE(fs::copy_file("/bin/false", path));
    ASSERT_TRUE(fs::copy_file("/bin/true", other));
    const int fd = OpenProgram(path);
    ASSERT_GE(fd, 0) << -fd;
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);

    pid_t child = -1;
    ASSERT_EQ(LaunchOpenedProgram(fd, path, &child), 0);
    EXPECT_EQ(ExitStatusOf(child), 1) << "false ran, not the true put in its place";
    ::close(fd);
    EXPECT_EQ(RunOpened(path), 0) << "opened anew, the new file runs";
}

TEST(program_launcher, adds_the_owner_execute_bit_as_a_downloaded_file_has_none)
{
    TempDir dir;
    const std::string path = dir.Write("install.sh", Script("exit 5"));
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    EXPECT_EQ(RunOpened(path), 5);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0744u);
}

TEST(program_launcher, the_program_gets_no_other_descriptor_and_no_blocked_or_ignored_signal)
{
    TempDir dir;
    const std::string listing = dir.Folder() + "fds";
    const std::string status = dir.Folder() + "status";
    const std::string path = dir.Write(
        "install.sh",
        // The status is read by the shell itself: a child reading the
        // shell's status could catch it inside a fork, with every signal
        // blocked for that moment.
        Script("ls /proc/$$/fd > '" + listing + "'; while IFS= read -r line; do case \"$line\" in " +
               "SigBlk*|SigIgn*) printf '%s\\n' \"$line\";; esac; done < /proc/$$/status > '" + status + "'"));
    // A descriptor the caller left inheritable, at a number the shell does not use.
    const int leaked = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 57), 57);
    ::close(leaked);
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    struct sigaction ignore {};
    struct sigaction oldInt {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGINT, &ignore, &oldInt), 0);

    const int result = RunOpened(path);

    ::sigaction(SIGINT, &oldInt, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(57);
    ASSERT_EQ(result, 0);

    std::istringstream fds(ReadFileText(listing));
    std::string fd;
    int count = 0;
    while (fds >> fd) {
        EXPECT_NE(fd, "57") << "the caller's descriptor reached the program";
        ++count;
    }
    EXPECT_GE(count, 3) << "the listing ran";
    // Nothing blocked; of what the caller ignores (a test runner may ignore
    // terminal signals) only what is not one of the usual signals is kept.
    std::uint64_t ignored = 0;
    {
        std::istringstream self(ReadFileText("/proc/self/status"));
        std::string line;
        while (std::getline(self, line)) {
            if (line.rfind("SigIgn:", 0) == 0)
                ignored = std::stoull(line.substr(7), nullptr, 16);
        }
    }
    for (int usual : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD})
        ignored &= ~(std::uint64_t{1} << (usual - 1));
    char expected[80];
    std::snprintf(expected, sizeof expected, "SigBlk:\t0000000000000000\nSigIgn:\t%016llx\n",
                  static_cast<unsigned long long>(ignored));
    EXPECT_EQ(ReadFileText(status), expected);
}

TEST(program_launcher, failures_come_back_as_errno_values)
{
    TempDir dir;
    const std::string fifo = dir.Folder() + "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0755), 0);
    const struct {
        const char* name;
        std::string path;
        int result;
    } cases[] = {
        {"missing", dir.Folder() + "absent", -1000 - ENOENT},
        {"a folder", dir.Folder(), -1000 - EACCES},
        {"a FIFO (and no hang)", fifo, -1000 - EACCES},
        {"neither a program nor a script", dir.Write("junk.bin", "\x01\x02junk"), -1000 - ENOEXEC},
        {"a script whose interpreter is missing", dir.Write("bad.sh", "#!/nonexistent/shell\n"), -1000 - ENOENT},
        {"a script", dir.Write("good.sh", Script("exit 0")), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunOpened(c.path), c.result) << c.name;
    EXPECT_EQ(LaunchOpenedProgram(-1, "x"), EBADF);
}

TEST(md5_descriptor, digests_from_the_first_byte_whatever_the_offset_and_leaves_it)
{
    TempDir dir;
    const std::string content = RandomBytes(DigestReadBufferSize + 4321);
    const std::string path = dir.Write("big.bin", content);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 1000, SEEK_SET), 1000);
    Md5Context context;
    unsigned char digest[16] = {};
    ASSERT_EQ(DigestDescriptor(fd, &context, digest), DigestFileOk);
    EXPECT_EQ(DigestToHex(digest), Md5Of(content));
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 1000);
    ::close(fd);

    unsigned char untouched[16] = {};
    EXPECT_EQ(DigestDescriptor(-1, &context, untouched), DigestFileCannotOpen);
    const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(DigestDescriptor(folder, &context, untouched), DigestFileReadError);
    ::close(folder);
    EXPECT_EQ(DigestToHex(untouched), std::string(32, '0'));
}
