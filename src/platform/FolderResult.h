#pragma once

// Outcome of one file operation inside a folder reached through FolderBeneath.
// Stable values: they may be logged and compared across versions.
enum class FolderResult : int {
    Ok = 0,
    NotFound = 1,   // no such entry (or a folder on the way is missing)
    Link = 2,       // a symbolic link where a file or folder was expected
    NotRegular = 3, // a FIFO, device, socket or folder where a file is expected
                    // (or a file where a folder is expected)
    Outside = 4,    // the name is absolute or has an empty, "." or ".." component
    Exists = 5,     // a fresh file was asked for and the name is taken
    IoError = 6,    // anything else; FolderStatus::error holds errno
};

struct FolderStatus {
    FolderResult result = FolderResult::Ok;
    int error = 0; // errno for IoError, else 0

    bool Ok() const { return result == FolderResult::Ok; }
};
