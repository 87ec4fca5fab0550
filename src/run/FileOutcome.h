#pragma once

#include <string>

// How one file of the download run ended. The values are stable.
enum class FileResult : int {
    Placed = 0,        // complete, digest as listed, in its final place
    NetworkFailed = 1, // the transfer failed on the network or the server
    DiskFailed = 2,    // the partial or side file could not be written
    Stopped = 3,       // a pause or the close stopped the transfer
    SizeFailed = 4,    // the server's size answer could not be used
    WrongDigest = 5,   // the bytes did not digest to the listed value
    FileInUse = 6,     // a file could not be removed or renamed
    NotAFile = 7,      // a link, FIFO, device or folder holds one of the file's names
    Failed = 8,        // an unexpected error (out of memory) ended the step
};

struct FileOutcome {
    int entry = -1;   // index in the plan
    std::string path; // the file's full local path
    FileResult result = FileResult::Placed;
};
