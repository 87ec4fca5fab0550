#include "planning/Minisign.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sodium.h>

#include "support/MinisignTool.h"
#include "support/TempDir.h"

namespace {

const std::string kList = "1\n2.0\nhttp://127.0.0.1:9/game/\ndata\\a.pak,0cc175b9c0f1b6a831c399e269772661\n";

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::vector<unsigned char> FromBase64(const std::string& text)
{
    std::vector<unsigned char> bytes(text.size());
    std::size_t length = 0;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return {};
    bytes.resize(length);
    return bytes;
}

std::string ToBase64(const std::vector<unsigned char>& bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Rewrites the decoded bytes of one base64 line of a .minisig text.
std::string EditLine(const std::string& minisig, std::size_t line,
                     const std::function<void(std::vector<unsigned char>&)>& edit)
{
    std::vector<std::string> lines = SplitLines(minisig);
    std::vector<unsigned char> bytes = FromBase64(lines.at(line));
    edit(bytes);
    lines[line] = ToBase64(bytes);
    return JoinLines(lines);
}

int StockVerify(const StockKeyPair& pair, const std::string& file)
{
    return RunShell("minisign -V -p " + ShellQuote(pair.publicKeyPath) + " -m " + ShellQuote(file));
}

MinisignPublicKey PublicKey(const StockKeyPair& pair)
{
    const auto key = ParsePublicKey(pair.publicKeyLine);
    EXPECT_TRUE(key.has_value()) << pair.publicKeyLine;
    return key.value_or(MinisignPublicKey{});
}

MinisignSecretKey SecretKey(const StockKeyPair& pair)
{
    MinisignSecretKey key;
    EXPECT_EQ(ParseSecretKey(ReadFileText(pair.secretKeyPath), "", key), SecretKeyResult::Ok);
    return key;
}

} // namespace

TEST(minisign_sequence, reads_one_decimal_seq_word_up_to_two_to_the_63)
{
    const struct {
        const char* comment;
        SignatureCheck check;
        std::uint64_t sequence;
    } cases[] = {
        {"seq:5", SignatureCheck::Ok, 5},
        {"timestamp:1765000000\tfile:update.txt\tseq:1765000000", SignatureCheck::Ok, 1765000000},
        {"seq:0 file:setup.txt", SignatureCheck::Ok, 0},
        {"seq:9223372036854775808", SignatureCheck::Ok, std::uint64_t{1} << 63},
        {"seq:9223372036854775809", SignatureCheck::BadSequence, 0},
        {"seq:99999999999999999999", SignatureCheck::BadSequence, 0},
        {"seq:", SignatureCheck::BadSequence, 0},
        {"seq:12a", SignatureCheck::BadSequence, 0},
        {"seq:-1", SignatureCheck::BadSequence, 0},
        {"seq:+1", SignatureCheck::BadSequence, 0},
        {"seq:1 seq:2", SignatureCheck::BadSequence, 0},
        {"seq:1 seq:1", SignatureCheck::BadSequence, 0},
        {"", SignatureCheck::NoSequence, 0},
        {"timestamp:1 file:update.txt", SignatureCheck::NoSequence, 0},
        {"myseq:5 sequence:5 SEQ:5", SignatureCheck::NoSequence, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t sequence = 77;
        EXPECT_EQ(ParseSequence(c.comment, sequence), c.check) << c.comment;
        if (c.check == SignatureCheck::Ok)
            EXPECT_EQ(sequence, c.sequence) << c.comment;
        else
            EXPECT_EQ(sequence, 77u) << "untouched on refusal: " << c.comment;
    }
}

TEST(minisign_keys, public_key_line_parses_and_refuses_other_lines)
{
    MinisignPublicKey key;
    for (std::size_t i = 0; i < key.keyId.size(); ++i)
        key.keyId[i] = static_cast<unsigned char>(0x10 + i);
    for (std::size_t i = 0; i < key.key.size(); ++i)
        key.key[i] = static_cast<unsigned char>(0xa0 + i);
    const std::string line = PublicKeyLine(key);
    const auto parsed = ParsePublicKey("  " + line + "\r\n");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->keyId, key.keyId);
    EXPECT_EQ(parsed->key, key.key);
    EXPECT_EQ(KeyIdText(key.keyId), "1716151413121110");

    std::vector<unsigned char> raw = FromBase64(line);
    ASSERT_EQ(raw.size(), 42u);
    auto withAlgorithm = raw;
    withAlgorithm[1] = 'D';
    const std::vector<unsigned char> shorter(raw.begin(), raw.end() - 1);
    auto longer = raw;
    longer.push_back(0);
    const struct {
        const char* name;
        std::string text;
    } refused[] = {
        {"empty", ""},
        {"algorithm ED is for signatures", ToBase64(withAlgorithm)},
        {"41 bytes", ToBase64(shorter)},
        {"43 bytes", ToBase64(longer)},
        {"a stray character", line.substr(0, 10) + "*" + line.substr(11)},
        {"url-safe alphabet", "RW-_" + line.substr(4)},
        {"the whole .pub file", "untrusted comment: minisign public key\n" + line},
    };
    for (const auto& c : refused)
        EXPECT_FALSE(ParsePublicKey(c.text).has_value()) << c.name;
}

TEST(minisign_stock, signatures_of_the_stock_tool_verify_in_both_forms)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir dir;
    const StockKeyPair pair = MakeStockKeyPair(dir, "operator");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    const MinisignPublicKey key = PublicKey(pair);
    // The key id we print is the one minisign prints in the .pub comment,
    // where it drops leading zeros ("%" PRIX64).
    std::string printed = KeyIdText(key.keyId);
    printed.erase(0, std::min(printed.find_first_not_of('0'), printed.size() - 1));
    EXPECT_NE(ReadFileText(pair.publicKeyPath).find("minisign public key " + printed + "\n"), std::string::npos)
        << KeyIdText(key.keyId);

    const std::string list = dir.Write("update.txt", kList);
    const std::string comment = "timestamp:1765000000\tfile:update.txt seq:5";
    for (bool legacy : {false, true}) {
        const std::string minisig = StockSign(pair, list, comment, legacy);
        ASSERT_FALSE(minisig.empty()) << "legacy " << legacy;
        // The algorithm bytes say which form minisign wrote.
        EXPECT_EQ(FromBase64(SplitLines(minisig).at(1)).at(1), legacy ? 'd' : 'D');
        const ListSignatureResult result = VerifyListSignature(kList, minisig, key);
        EXPECT_EQ(result.check, SignatureCheck::Ok) << "legacy " << legacy;
        EXPECT_EQ(result.sequence, 5u);
        EXPECT_EQ(result.trustedComment, comment);
        EXPECT_EQ(result.keyId, key.keyId);
    }
}

TEST(minisign_stock, stock_tool_accepts_what_sign_list_writes_with_its_key)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir dir;
    const StockKeyPair pair = MakeStockKeyPair(dir, "operator");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    const MinisignSecretKey secret = SecretKey(pair);
    EXPECT_EQ(PublicKeyLine(PublicKeyOf(secret)), pair.publicKeyLine);

    const std::string list = dir.Write("setup.txt", "setup\\install.sh\n");
    const auto minisig = SignList("setup\\install.sh\n", secret, "file:setup.txt seq:1765000000");
    ASSERT_TRUE(minisig.has_value());
    dir.Write("setup.txt.minisig", *minisig);
    EXPECT_EQ(StockVerify(pair, list), 0) << *minisig;
    EXPECT_EQ(RunShell("minisign -V -H -p " + ShellQuote(pair.publicKeyPath) + " -m " + ShellQuote(list)), 0)
        << "prehashed form";

    const ListSignatureResult ours = VerifyListSignature("setup\\install.sh\n", *minisig, PublicKey(pair));
    EXPECT_EQ(ours.check, SignatureCheck::Ok);
    EXPECT_EQ(ours.sequence, 1765000000u);

    // And the stock tool refuses it for other bytes, so the check above means something.
    dir.Write("setup.txt", "setup\\other.sh\n");
    EXPECT_NE(StockVerify(pair, list), 0);

    EXPECT_FALSE(SignList(kList, secret, "seq:1\nseq:2").has_value());
    EXPECT_FALSE(SignList(kList, secret, "seq:1\r").has_value());
    EXPECT_FALSE(SignList(kList, secret, std::string(1025, 'x')).has_value());
}

TEST(minisign_verify, refuses_every_kind_of_tampering)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir dir;
    const StockKeyPair pair = MakeStockKeyPair(dir, "operator");
    const StockKeyPair other = MakeStockKeyPair(dir, "stranger");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    ASSERT_FALSE(other.publicKeyLine.empty());
    const MinisignPublicKey key = PublicKey(pair);
    const std::string file = dir.Write("update.txt", kList);
    const std::string good = StockSign(pair, file, "timestamp:1 file:update.txt seq:5");
    const std::string legacy = StockSign(pair, file, "timestamp:1 file:update.txt seq:5", true);
    const std::string noSeq = StockSign(pair, file, "timestamp:1 file:update.txt");
    const std::string byStranger = StockSign(other, file, "seq:5");
    const std::string ours = SignList(kList, SecretKey(pair), "seq:5").value_or("");
    ASSERT_FALSE(good.empty() || legacy.empty() || noSeq.empty() || byStranger.empty() || ours.empty());

    std::string flippedList = kList;
    flippedList[20] ^= 0x01;
    std::vector<std::string> lines = SplitLines(good);
    ASSERT_EQ(lines.size(), 4u);
    const auto flipAt = [](std::size_t at) { return [at](std::vector<unsigned char>& b) { b.at(at) ^= 0x40; }; };
    const auto without = [&](std::size_t line) {
        std::vector<std::string> fewer = lines;
        fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(line));
        return JoinLines(fewer);
    };
    // A stranger's signature under our key id: only the cryptography can tell.
    const std::string strangerKeyId = EditLine(byStranger, 1, [&](std::vector<unsigned char>& b) {
        std::memcpy(b.data() + 2, key.keyId.data(), 8);
    });
    std::string crlf;
    for (const std::string& line : lines)
        crlf += line + "\r\n";
    std::string padded = good;
    padded.resize(kMinisigMaxBytes, '\n');

    const struct {
        const char* name;
        std::string list;
        std::string minisig;
        SignatureCheck check;
    } cases[] = {
        {"as signed", kList, good, SignatureCheck::Ok},
        {"legacy Ed as signed", kList, legacy, SignatureCheck::Ok},
        {"ours as signed", kList, ours, SignatureCheck::Ok},
        {"CR LF line ends", kList, crlf, SignatureCheck::Ok},
        {"padded to exactly 4 KiB with blank lines", kList, padded, SignatureCheck::Ok},
        {"a flipped byte in the list", flippedList, good, SignatureCheck::BadSignature},
        {"a flipped byte in the list, legacy Ed", flippedList, legacy, SignatureCheck::BadSignature},
        {"a byte more in the list", kList + "x", good, SignatureCheck::BadSignature},
        {"an empty list", "", good, SignatureCheck::BadSignature},
        {"a flipped byte in the signature", kList, EditLine(good, 1, flipAt(40)), SignatureCheck::BadSignature},
        {"legacy Ed relabelled as prehashed", kList, EditLine(legacy, 1, [](auto& b) { b[1] = 'D'; }),
         SignatureCheck::BadSignature},
        {"an unknown algorithm", kList, EditLine(good, 1, [](auto& b) { b[1] = 'x'; }), SignatureCheck::Malformed},
        {"a flipped byte in the key id", kList, EditLine(good, 1, flipAt(5)), SignatureCheck::OtherKey},
        {"signed by another key", kList, byStranger, SignatureCheck::OtherKey},
        {"another key's signature under our key id", kList, strangerKeyId, SignatureCheck::BadSignature},
        {"trusted comment altered", kList, JoinLines({lines[0], lines[1], "trusted comment: timestamp:1 file:update.txt seq:6", lines[3]}),
         SignatureCheck::BadGlobalSignature},
        {"trusted comment with a space added", kList, JoinLines({lines[0], lines[1], lines[2] + " ", lines[3]}),
         SignatureCheck::BadGlobalSignature},
        {"a flipped byte in the global signature", kList, EditLine(good, 3, flipAt(10)),
         SignatureCheck::BadGlobalSignature},
        {"untrusted comment altered", kList, JoinLines({"untrusted comment: anything", lines[1], lines[2], lines[3]}),
         SignatureCheck::Ok},
        {"no seq in the trusted comment", kList, noSeq, SignatureCheck::NoSequence},
        {"one byte over 4 KiB", kList, padded + "\n", SignatureCheck::TooLarge},
        {"far over 4 KiB", kList, good + std::string(100000, 'A'), SignatureCheck::TooLarge},
        {"empty", kList, "", SignatureCheck::Malformed},
        {"no untrusted comment line", kList, without(0), SignatureCheck::Malformed},
        {"no signature line", kList, without(1), SignatureCheck::Malformed},
        {"no trusted comment line", kList, without(2), SignatureCheck::Malformed},
        {"no global signature line", kList, without(3), SignatureCheck::Malformed},
        {"a line more", kList, good + "extra\n", SignatureCheck::Malformed},
        {"trusted comment without its prefix", kList, JoinLines({lines[0], lines[1], "seq:5", lines[3]}),
         SignatureCheck::Malformed},
        {"a stray character in the signature", kList, JoinLines({lines[0], "!" + lines[1], lines[2], lines[3]}),
         SignatureCheck::Malformed},
        {"signature a byte short", kList, EditLine(good, 1, [](auto& b) { b.pop_back(); }), SignatureCheck::Malformed},
        {"signature a byte long", kList, EditLine(good, 1, [](auto& b) { b.push_back(0); }), SignatureCheck::Malformed},
        {"global signature a byte short", kList, EditLine(good, 3, [](auto& b) { b.pop_back(); }),
         SignatureCheck::Malformed},
        {"a NUL in the trusted comment", kList,
         JoinLines({lines[0], lines[1], lines[2] + std::string(1, '\0'), lines[3]}), SignatureCheck::Malformed},
    };
    for (const auto& c : cases) {
        const ListSignatureResult result = VerifyListSignature(c.list, c.minisig, key);
        EXPECT_EQ(result.check, c.check) << c.name;
        const bool verified = c.check == SignatureCheck::Ok || c.check == SignatureCheck::NoSequence;
        EXPECT_EQ(result.trustedComment.empty(), !verified) << c.name << ": comment only once verified";
        EXPECT_EQ(result.sequence, c.check == SignatureCheck::Ok ? 5u : 0u) << c.name;
    }

    // The stock tool agrees on the first rows, so the table tests the format, not only us.
    dir.Write("update.txt", flippedList);
    EXPECT_NE(StockVerify(pair, file), 0);
}

TEST(minisign_secret_key, encrypted_key_opens_with_its_password_and_the_stock_tool_signs_with_it)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir dir;
    const StockKeyPair pair = MakeStockKeyPair(dir, "operator");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    const MinisignSecretKey plain = SecretKey(pair);
    const std::string encrypted = EncryptedKeyFile(plain, "correct horse");
    ASSERT_FALSE(encrypted.empty());
    const std::string encryptedPath = dir.Write("locked.key", encrypted);

    EXPECT_TRUE(SecretKeyIsEncrypted(encrypted));
    EXPECT_FALSE(SecretKeyIsEncrypted(ReadFileText(pair.secretKeyPath)));
    MinisignSecretKey opened;
    ASSERT_EQ(ParseSecretKey(encrypted, "correct horse", opened), SecretKeyResult::Ok);
    EXPECT_EQ(opened.keyId, plain.keyId);
    EXPECT_EQ(opened.key, plain.key);
    MinisignSecretKey wrong;
    EXPECT_EQ(ParseSecretKey(encrypted, "correct horsE", wrong), SecretKeyResult::WrongPassword);
    EXPECT_EQ(ParseSecretKey(encrypted, "", wrong), SecretKeyResult::WrongPassword);

    // minisign reads the password from standard input when it is no terminal;
    // that it can sign with our file shows the layout is minisign's own.
    const std::string list = dir.Write("update.txt", kList);
    ASSERT_EQ(RunShell("printf 'correct horse\\n' | minisign -S -s " + ShellQuote(encryptedPath) + " -m " +
                       ShellQuote(list) + " -t 'seq:9'"),
              0);
    const ListSignatureResult result = VerifyListSignature(kList, ReadFileText(list + ".minisig"), PublicKey(pair));
    EXPECT_EQ(result.check, SignatureCheck::Ok);
    EXPECT_EQ(result.sequence, 9u);
}

TEST(minisign_secret_key, refuses_damaged_and_foreign_key_files)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir dir;
    const StockKeyPair pair = MakeStockKeyPair(dir, "operator");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    const std::vector<std::string> lines = SplitLines(ReadFileText(pair.secretKeyPath));
    ASSERT_EQ(lines.size(), 2u);
    const std::vector<unsigned char> raw = FromBase64(lines[1]);
    ASSERT_EQ(raw.size(), 158u);
    const auto edited = [&](const std::function<void(std::vector<unsigned char>&)>& edit) {
        std::vector<unsigned char> bytes = raw;
        edit(bytes);
        return lines[0] + "\n" + ToBase64(bytes) + "\n";
    };
    const struct {
        const char* name;
        std::string text;
        SecretKeyResult result;
    } cases[] = {
        {"as written by minisign -G -W", lines[0] + "\n" + lines[1] + "\n", SecretKeyResult::Ok},
        {"the base64 line alone", lines[1], SecretKeyResult::Ok},
        {"a flipped byte in the secret key", edited([](auto& b) { b[54 + 8 + 3] ^= 1; }), SecretKeyResult::WrongPassword},
        {"a flipped byte in the public half", edited([](auto& b) { b[54 + 8 + 40] ^= 1; }),
         SecretKeyResult::WrongPassword},
        {"an unknown key protection", edited([](auto& b) { b[2] = 'A'; b[3] = 'r'; }), SecretKeyResult::UnsupportedKdf},
        {"another checksum algorithm", edited([](auto& b) { b[4] = 'X'; }), SecretKeyResult::Malformed},
        {"a public key file", ReadFileText(pair.publicKeyPath), SecretKeyResult::Malformed},
        {"a byte short", edited([](auto& b) { b.pop_back(); }), SecretKeyResult::Malformed},
        {"empty", "", SecretKeyResult::Malformed},
    };
    for (const auto& c : cases) {
        MinisignSecretKey key;
        EXPECT_EQ(ParseSecretKey(c.text, "", key), c.result) << c.name;
    }
}

TEST(minisign_digest, lists_digest_tells_the_pair_apart_from_its_bytes_moved)
{
    const std::string digest = SignedListsDigest("ab", "c");
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(SignedListsDigest("ab", "c"), digest);
    EXPECT_NE(SignedListsDigest("a", "bc"), digest);
    EXPECT_NE(SignedListsDigest("c", "ab"), digest);
    EXPECT_NE(SignedListsDigest("ab", "d"), digest);
}
