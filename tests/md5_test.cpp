#include "planning/Md5.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

std::string HexOf(const void* bytes, std::size_t length)
{
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, bytes, length);
    Md5Final(&context);
    return DigestToHex(context.digest);
}

std::string HexOf(const std::string& text)
{
    return HexOf(text.data(), text.size());
}

// Bytes that differ from position to position, so a misplaced byte shows.
std::string Pattern(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
    return bytes;
}

} // namespace

TEST(md5, matches_the_rfc_1321_suite)
{
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexOf(c.input), c.digest) << '"' << c.input << '"';
}

// Lengths around the padding boundaries: 55 leaves room for the length in
// the same block, 56..63 need a second block, 64 and 65 start a new one.
TEST(md5, pads_correctly_at_block_boundaries_and_in_any_split)
{
    const struct {
        std::size_t length;
        const char* digest;
    } cases[] = {
        {0, "d41d8cd98f00b204e9800998ecf8427e"},   {55, "52c0e574e1198de5fe3f8f11440dcb1b"},
        {56, "46c9907fc908ee68b1e7b8e71286a518"},  {63, "a62f6d59e837867693f042f5b8f5a236"},
        {64, "7160b8fb5e9e4023d549c3971fbaeead"},  {65, "70bd662e7aefbda85a0f7244167b7897"},
        {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
    };
    for (const auto& c : cases) {
        const std::string input = Pattern(c.length);
        EXPECT_EQ(HexOf(input), c.digest) << c.length << " bytes";
        // Fed in two pieces split anywhere, and byte by byte: the same digest.
        for (std::size_t split = 0; split <= c.length; ++split) {
            Md5Context context;
            Md5Init(&context);
            Md5Update(&context, input.data(), split);
            Md5Update(&context, input.data() + split, c.length - split);
            Md5Final(&context);
            ASSERT_EQ(DigestToHex(context.digest), c.digest) << c.length << " split at " << split;
        }
        Md5Context context;
        Md5Init(&context);
        for (char byte : input)
            Md5Update(&context, &byte, 1);
        Md5Final(&context);
        EXPECT_EQ(DigestToHex(context.digest), c.digest) << c.length << " byte by byte";
    }
}

TEST(md5, transform_compresses_one_block_of_words)
{
    // The padded empty message is one block: 0x80 then zeros, bit length 0.
    std::uint32_t block[16] = {0x80};
    std::uint32_t state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    Md5Transform(state, block);
    unsigned char digest[16];
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<unsigned char>(state[i / 4] >> (8 * (i % 4)));
    EXPECT_EQ(DigestToHex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(md5, bit_count_carries_into_the_high_word)
{
    Md5Context context;
    Md5Init(&context);
    context.count[0] = 0xfffffff8u; // one byte short of 2^32 bits
    Md5Update(&context, "xy", 2);
    EXPECT_EQ(context.count[0], 8u);
    EXPECT_EQ(context.count[1], 1u);
}

TEST(md5, digest_to_hex_gives_32_lowercase_digits)
{
    unsigned char digest[16];
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<unsigned char>(i * 17);
    EXPECT_EQ(DigestToHex(digest), "00112233445566778899aabbccddeeff");
}

TEST(md5_file, file_larger_than_the_read_buffer_equals_a_single_pass)
{
    TempDir dir;
    const std::string content = Pattern(2 * DigestReadBufferSize + 12345);
    const std::string path = dir.Write("big.bin", content);
    Md5Context context;
    unsigned char output[16] = {};
    ASSERT_EQ(DigestFile(path, &context, output), DigestFileOk);
    EXPECT_EQ(DigestToHex(output), HexOf(content));
}

TEST(md5_file, small_and_empty_files)
{
    TempDir dir;
    const struct {
        const char* content;
        const char* digest;
    } cases[] = {{"", "d41d8cd98f00b204e9800998ecf8427e"}, {"abc", "900150983cd24fb0d6963f7d28e17f72"}};
    for (const auto& c : cases) {
        const std::string path = dir.Write("f.bin", c.content);
        Md5Context context;
        unsigned char output[16] = {};
        ASSERT_EQ(DigestFile(path, &context, output), DigestFileOk);
        EXPECT_EQ(DigestToHex(output), c.digest);
    }
}

TEST(md5_file, failures_leave_the_output_untouched)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string path;
        bool nullOutput;
        int result;
    } cases[] = {
        {"missing file", dir.Folder() + "absent.bin", false, DigestFileCannotOpen},
        {"no output", dir.Write("present.bin", "abc"), true, DigestFileCannotOpen},
        {"a folder reads with an error", dir.Folder(), false, DigestFileReadError},
    };
    for (const auto& c : cases) {
        Md5Context context;
        unsigned char output[16];
        std::memset(output, 0, sizeof output);
        EXPECT_EQ(DigestFile(c.path, &context, c.nullOutput ? nullptr : output), c.result) << c.name;
        EXPECT_EQ(DigestToHex(output), std::string(32, '0')) << c.name;
    }
}
