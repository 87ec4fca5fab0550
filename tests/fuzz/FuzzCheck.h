#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep; a broken one is a finding, in the fuzzer
// and in the replay tests alike.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
