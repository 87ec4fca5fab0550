#pragma once

#include <string>

// Whether something (file or folder) exists at path: the stand-in for an
// access test with mode 0. A path that cannot be looked at counts as missing.
bool PathExists(const std::string& path);
