#pragma once

#include <cstdint>

// Why a file job ended DownloadNetError, for a caller that can fetch the same
// file from another server. Values are stable.
enum class TransferFault : std::int32_t {
    None = 0,         // the job did not fail on the network
    NoConnection = 1, // no answer at all: refused, unreachable, a connect
                      // timeout, closed before the answer's headers
    ServerError = 2,  // a 5xx answer
    Refused = 3,      // a 4xx answer (404, 403, 416...): this server does not
                      // serve this file, which says nothing of the server
    BadAnswer = 4,    // another status, an encoded body, a 200 shorter than
                      // the bytes present, a redirect that could not be followed
    Stalled = 5,      // nothing came for the stall limit
    CutShort = 6,     // the connection failed in the middle of the body
};
