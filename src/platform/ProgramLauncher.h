#pragma once

#include <string>

// Starts a downloaded program the way the installer is started: the file
// itself is the program, with no arguments; the working directory and the
// environment are the caller's. A file fetched over HTTP has no execute bit,
// so the owner's execute bit is added first. The new process is not waited
// for and outlives the caller.
//
// Returns 0 when the process was started, otherwise the errno value that
// explains why not (the file is missing, not executable, has a bad format...).
int LaunchProgram(const std::string& path);
