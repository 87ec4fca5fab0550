// Base URL plus listed name, as any list may give them: the path that goes
// on the wire holds no blank, control or non-ASCII byte and no '\'.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "transfer/UrlPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string url = "http://h/" + std::string(reinterpret_cast<const char*>(data), size);
    const std::string encoded = EncodeUrlPath(url);
    const std::size_t query = encoded.find('?');
    const std::size_t end = query == std::string::npos ? encoded.size() : query;
    for (std::size_t i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(encoded[i]);
        FUZZ_CHECK(byte > 0x20 && byte < 0x7F);
        FUZZ_CHECK(byte != '\\');
    }
    return 0;
}
