#include "platform/ProcessEnd.h"

#include <thread>

#include <unistd.h>

void EndProcessAfter(std::chrono::milliseconds delay)
{
    // sleep_for resumes after signals, so the full delay always passes.
    std::this_thread::sleep_for(delay);
    ::_exit(0);
}
