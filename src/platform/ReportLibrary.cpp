#include "platform/ReportLibrary.h"

#include <atomic>
#include <filesystem>

#include <dlfcn.h>

namespace {

std::atomic<const char*> g_libraryName{kReportLibraryName};

void* OpenLibrary(const char* name)
{
    if (void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL))
        return library;
    // The loader applies the run path of the object that calls dlopen; when
    // an interposer (a sanitizer runtime) makes the call for us, the
    // program's $ORIGIN is lost. Look beside the program ourselves then.
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return nullptr;
    return ::dlopen((program.parent_path() / name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

} // namespace

bool CallReportLibrary(const std::string& iniPath, const std::string& version, const std::string& steps,
                       std::int32_t first, std::int32_t second, std::int32_t third)
{
    void* library = OpenLibrary(g_libraryName.load());
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
