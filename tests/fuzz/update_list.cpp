// update.txt as the server might send it: whatever is accepted has safe
// names and 32-digit digests; a refusal names a line that exists.
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
    UpdateList list;
    const auto refusal = ReadUpdateList(in, list);
    if (refusal) {
        FUZZ_CHECK(refusal->list == UpdateListName);
        FUZZ_CHECK(refusal->lineNumber >= 1);
        FUZZ_CHECK(static_cast<std::size_t>(refusal->lineNumber) <= size + 1);
        FUZZ_CHECK(refusal->fault != ListFault::None);
        FUZZ_CHECK((refusal->fault == ListFault::UnsafeName) == (refusal->nameFault != NameFault::None));
        return 0;
    }
    int previous = FirstFileLineNumber - 1;
    for (const FileLine& file : list.files) {
        FUZZ_CHECK(UnsafeNameFault(file.name) == NameFault::None);
        FUZZ_CHECK(UnsafeNameFault(file.name) == NameFault::None);
        FUZZ_CHECK(IsDigestText(std::string(file.md5.data(), file.md5.size())));
        FUZZ_CHECK(file.name.size() <= MaxListLineBytes);
        FUZZ_CHECK(file.lineNumber > previous);
        previous = file.lineNumber;
    }
    return 0;
}
