#pragma once

#include <string>
#include <sys/types.h>

// Replaces the file at path with content as one step: the bytes go into a
// new temporary beside it (mkstemp), are flushed to the disk, and the
// temporary is renamed over path. A reader sees the old file or the new one,
// never a part; a crash leaves at most a stray temporary. The file gets the
// given permission bits. False when any step failed (the temporary is then
// removed and path is as it was). Any thread.
bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode = 0644);

// Writes every byte of content at fd's position, retrying short writes and
// interrupted calls. False when a write failed.
bool WriteWholly(int fd, const std::string& content);
