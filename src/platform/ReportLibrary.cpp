#include "platform/ReportLibrary.h"

#include <atomic>

#include <dlfcn.h>

namespace {

std::atomic<const char*> g_libraryName{kReportLibraryName};

} // namespace

bool CallReportLibrary(const std::string& iniPath, const std::string& version, const std::string& steps,
                       std::int32_t first, std::int32_t second, std::int32_t third)
{
    void* library = ::dlopen(g_libraryName.load(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return false;
    auto* function = reinterpret_cast<GetAndSendMachineInfoFunction>(::dlsym(library, kReportFunctionName));
    if (function == nullptr)
        return false;
    function(iniPath.c_str(), version.c_str(), steps.c_str(), first, second, third);
    return true;
}

void SetReportLibraryNameForTest(const char* fileName)
{
    g_libraryName = fileName;
}
