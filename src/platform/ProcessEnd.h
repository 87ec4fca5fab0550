#pragma once

#include <chrono>

// Ends the whole process with exit status 0 after the delay: no destructor,
// no exit handler, no buffered stream flushed; every thread ends with it.
// Any thread may call it.
[[noreturn]] void EndProcessAfter(std::chrono::milliseconds delay);
