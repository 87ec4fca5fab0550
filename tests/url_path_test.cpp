#include "transfer/UrlPath.h"

#include <gtest/gtest.h>

namespace {

struct UrlCase {
    const char* name;
    const char* in;
    const char* out;
};

const UrlCase kCases[] = {
    {"plain", "http://h/a/b.bin", "http://h/a/b.bin"},
    {"backslashes", "http://h/base/data\\maps\\m1.pak", "http://h/base/data/maps/m1.pak"},
    {"space", "http://h/a b/c d.txt", "http://h/a%20b/c%20d.txt"},
    {"utf8", "http://h/\xE6\x96\x87\xE4\xBB\xB6.bin", "http://h/%E6%96%87%E4%BB%B6.bin"},
    {"existing escape kept", "http://h/a%20b/x%2Fy", "http://h/a%20b/x%2Fy"},
    {"lone percent", "http://h/100%/a%g1", "http://h/100%25/a%25g1"},
    {"controls and specials", "http://h/a\tb\"<>#{}|^`[]", "http://h/a%09b%22%3C%3E%23%7B%7D%7C%5E%60%5B%5D"},
    {"sub-delims kept", "http://h/a!$&'()*+,;=:@-._~", "http://h/a!$&'()*+,;=:@-._~"},
    {"query left alone", "http://h/a b?t=1 2&x=\\", "http://h/a%20b?t=1 2&x=\\"},
    {"host and port kept", "https://user@127.0.0.1:8080\\dir\\f", "https://user@127.0.0.1:8080/dir/f"},
    {"no path", "http://h", "http://h"},
};

TEST(url_path_test, encodes_each_case_of_the_table)
{
    for (const auto& c : kCases)
        EXPECT_EQ(EncodeUrlPath(c.in), c.out) << c.name;
}

} // namespace
