#pragma once

#include <cstdint>

// When the console client resumes a paused download, and when it gives up.
//
// Failures count in a row per file: the count starts again when another file
// fails, or when bytes arrived since the last failure (the session's
// bytesDone grew), so a slow line that makes progress between cuts is never
// given up. The wait before a resume starts at the first wait and doubles
// with every failure in a row, up to the longest wait. Pure; one thread.
class RetryPolicy {
public:
    static constexpr double LongestWaitSeconds = 300.0;

    RetryPolicy(int retries, double firstWaitSeconds, double longestWaitSeconds = LongestWaitSeconds)
        : m_retries(retries), m_firstWait(firstWaitSeconds), m_longestWait(longestWaitSeconds)
    {
    }

    struct Decision {
        bool giveUp = false;
        int failuresInRow = 0;
        double waitSeconds = 0.0; // before the resume (when not given up)
    };

    // One more failure, on the plan entry entry, with the session's bytesDone
    // as it stands now.
    Decision OnFailure(int entry, std::uint64_t bytesDone);

private:
    int m_retries;
    double m_firstWait;
    double m_longestWait;
    int m_entry = -2;
    bool m_anyFailure = false;
    std::uint64_t m_bytesAtFailure = 0;
    int m_inRow = 0;
};
