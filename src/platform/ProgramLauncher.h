#pragma once

#include <string>

#include <sys/types.h>

// Starts a downloaded program the way the installer is started: the file
// itself is the program, with no arguments; the working directory and the
// environment are the caller's. A file fetched over HTTP has no execute bit,
// so the owner's execute bit is added first. The new process is not waited
// for and outlives the caller.
//
// Returns 0 when the process was started, otherwise the errno value that
// explains why not (the file is missing, not executable, has a bad format...).
int LaunchProgram(const std::string& path);

// Starting the very file that was checked. Between checking a file's digest
// and starting it by name, the file could be replaced; opening it once,
// digesting the open descriptor (DigestDescriptor) and starting the program
// from that same descriptor closes that gap.
//
// OpenProgram opens path for reading (close-on-exec), requires a regular
// file and adds the owner's execute bit as LaunchProgram does. Returns the
// descriptor (>= 0), which the caller closes, or -errno.
int OpenProgram(const std::string& path);

// Starts the program open on fd (from OpenProgram) with no arguments; path
// is its name for argv[0]. A script for a POSIX shell (sh, bash, dash) is
// read by its shell from fd too, with path as its $0, so that it finds the
// files beside it as when started by path. The caller's working directory and
// environment are kept; the signal mask and the usual signals' dispositions
// are reset as for LaunchProgram; the new program gets descriptors 0, 1, 2
// and, so that a script's interpreter can read it through /dev/fd/N, fd
// itself, but no other descriptor of the caller. fd stays open in the
// caller. The new process is not waited for; its id goes to *child when
// child is not null.
//
// Returns 0 when the program was started, otherwise the errno value that
// explains why not (from the start itself too: ENOEXEC, EACCES, ENOENT for
// a script whose interpreter is missing...).
int LaunchOpenedProgram(int fd, const std::string& path, pid_t* child = nullptr);
