// setup.txt as the server might send it: an accepted installer name is safe
// and holds no line break; a refusal is line 1 of setup.txt.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzCheck.h"
#include "planning/ServerLists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    std::string name;
    const auto refusal = ReadSetupList(in, name);
    FUZZ_CHECK(name.size() <= SetupListBytes);
    if (refusal) {
        FUZZ_CHECK(refusal->list == SetupListName && refusal->lineNumber == 1);
        FUZZ_CHECK(refusal->nameFault != NameFault::None);
        return 0;
    }
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    FUZZ_CHECK(UnsafeNameFault(name) == NameFault::None);
    return 0;
}
