#pragma once

#include <cstdint>
#include <string>

// The machine-info report library: libsysrep.so, found by the loader's
// ordinary search (LD_LIBRARY_PATH, the program's $ORIGIN run path, the
// system folders; then the program's own folder), loaded anew on each call
// and never unloaded.
//
// Its export, with C linkage; texts are UTF-8, the result is ignored:
extern "C" {
using GetAndSendMachineInfoFunction = std::int32_t (*)(const char* iniPath, const char* version,
                                                       const char* steps, std::int32_t, std::int32_t,
                                                       std::int32_t);
}

inline constexpr const char* kReportLibraryName = "libsysrep.so";
inline constexpr const char* kReportFunctionName = "GetAndSendMachineInfo";

// Loads the library and calls its export on the calling thread, which it
// blocks for as long as the library takes. Returns false, having done
// nothing, when the library or the export is missing.
bool CallReportLibrary(const std::string& iniPath, const std::string& version, const std::string& steps,
                       std::int32_t first, std::int32_t second, std::int32_t third);

// Tests use another file name to play a machine without the library.
void SetReportLibraryNameForTest(const char* fileName);
