#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// What the benchmarks measure of one side of a round: its time, its own peak
// memory, and whether it did its work.
struct Run {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Runs body in a child process so that its peak memory is its own. The
// caller must have no threads of its own at the fork.
template <class Body>
Run InChild(Body body)
{
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.peakKiB = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// A program (full path first) in a child of its own.
inline Run RunProgram(std::vector<std::string> arguments)
{
    return InChild([&] {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        return false;
    });
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
