#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
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

// Runs first and second side by side for rounds, alternating who goes first
// so that neither always follows the other; prints each round and the
// medians with "ratio R" (first / second). False when a round failed.
template <class First, class Second>
bool CompareRounds(const char* name, int rounds, First first, Second second, const char* firstName,
                   const char* secondName)
{
    std::vector<double> a;
    std::vector<double> b;
    long peakKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        Run x;
        Run y;
        if (round % 2 == 0) {
            x = first();
            y = second();
        } else {
            y = second();
            x = first();
        }
        if (!x.ok || !y.ok) {
            std::fprintf(stderr, "%s round %d failed (%s %d, %s %d)\n", name, round + 1, firstName, x.ok, secondName,
                         y.ok);
            return false;
        }
        a.push_back(x.seconds);
        b.push_back(y.seconds);
        peakKiB = std::max(peakKiB, x.peakKiB);
        std::printf("%s round %d: %s %.3f s, %s %.3f s, %s peak %.1f MiB\n", name, round + 1, firstName, x.seconds,
                    secondName, y.seconds, firstName, x.peakKiB / 1024.0);
        std::fflush(stdout);
    }
    std::printf("%s: median %s %.3f s, %s %.3f s, %s peak %.1f MiB, ratio %.3f\n", name, firstName, Median(a),
                secondName, Median(b), firstName, peakKiB / 1024.0, Median(a) / Median(b));
    std::fflush(stdout);
    return true;
}
