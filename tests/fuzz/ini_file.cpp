// A configuration file of any content: values are read without fault and
// keep to the character limit.
#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "FuzzCheck.h"
#include "platform/IniFile.h"

namespace {

// Code points of UTF-8 text: bytes that do not continue a sequence.
std::size_t CountCharacters(const std::string& text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The reader takes a path: hand it an in-memory file.
    static const int fd = ::memfd_create("ini", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    static const char* const keys[][2] = {
        {"Download", "update"}, {"download", "SETUP"}, {"", ""}, {"a", "b"}, {"[", "="},
    };
    for (const auto& key : keys) {
        const std::string value = ReadIniValue(path, key[0], key[1], 16);
        FUZZ_CHECK(CountCharacters(value) <= 16);
    }
    return 0;
}
