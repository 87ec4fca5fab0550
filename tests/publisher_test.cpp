#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "planning/Md5.h"
#include "planning/Minisign.h"
#include "planning/ServerLists.h"
#include "support/MinisignTool.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the publisher with the arguments and returns its exit status.
int Publish(const std::string& arguments)
{
    const std::string command = std::string(ZORVATH_BIN_DIR) + "/zorvath-publish " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(publisher, lists_every_file_below_the_folder_in_a_stable_order_with_lowercase_digests)
{
    TempDir dir;
    dir.Write("setup/install.sh", "#!/bin/sh\n");
    dir.Write("data/b/level2.pak", std::string(70000, 'z'));
    dir.Write("data/a.pak", "alpha");
    dir.Write("readme", "");
    const std::string folder = Quote(dir.Path().string());

    ASSERT_EQ(Publish("--base-url http://127.0.0.1:9/game --installer setup/install.sh --game-version '2.0 beta' " +
                      folder),
              0);
    const std::string firstUpdate = ReadFileText(dir.Path() / "update.txt");
    EXPECT_EQ(ReadFileText(dir.Path() / "setup.txt"), "setup\\install.sh\n");

    std::istringstream in(firstUpdate);
    const UpdateListHead head = ReadUpdateListHead(in);
    EXPECT_TRUE(head.Available());
    EXPECT_EQ(head.version, "2.0 beta");
    EXPECT_EQ(head.baseUrl, "http://127.0.0.1:9/game/");
    const auto files = ReadFileLines(in);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"data\\a.pak", Md5Of("alpha")},
        {"data\\b\\level2.pak", Md5Of(std::string(70000, 'z'))},
        {"readme", Md5Of("")},
        {"setup\\install.sh", Md5Of("#!/bin/sh\n")},
    };
    ASSERT_EQ(files.size(), expected.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].name, expected[i].first);
        EXPECT_EQ(std::string(files[i].md5.data(), 32), expected[i].second);
    }

    // Publishing again leaves its own lists out and gives the same bytes;
    // --version with a value is the earlier spelling of --game-version.
    ASSERT_EQ(Publish("--base-url http://127.0.0.1:9/game --installer setup/install.sh --version '2.0 beta' " +
                      folder),
              0);
    EXPECT_EQ(ReadFileText(dir.Path() / "update.txt"), firstUpdate);

    ASSERT_EQ(Publish("--base-url http://127.0.0.1:9/game/ --installer 'setup\\install.sh' --maintenance " + folder),
              0);
    std::istringstream maintenance(ReadFileText(dir.Path() / "update.txt"));
    const UpdateListHead closed = ReadUpdateListHead(maintenance);
    EXPECT_FALSE(closed.Available());
    EXPECT_EQ(closed.version, "");
    EXPECT_EQ(closed.baseUrl, "http://127.0.0.1:9/game/");
}

TEST(publisher, refuses_what_the_lists_cannot_carry)
{
    TempDir dir;
    dir.Write("run.sh", "x");
    const std::string folder = Quote(dir.Path().string());
    TempDir commas;
    commas.Write("run.sh", "x");
    commas.Write("a,b.dat", "y");

    struct Case {
        const char* name;
        std::string arguments;
        int status;
    };
    const Case cases[] = {
        {"no folder", "--base-url http://h/ --installer run.sh", 2},
        {"no base url", "--installer run.sh " + folder, 2},
        {"no installer", "--base-url http://h/ " + folder, 2},
        {"unknown option", "--base-url http://h/ --installer run.sh --fast " + folder, 2},
        {"version line without its text", "--base-url http://h/ --installer run.sh " + folder + " --game-version", 2},
        {"earlier spelling without its text", "--base-url http://h/ --installer run.sh " + folder + " --version", 2},
        {"installer outside", "--base-url http://h/ --installer ../run.sh " + folder, 2},
        {"installer missing", "--base-url http://h/ --installer setup.exe " + folder, 1},
        {"folder missing", "--base-url http://h/ --installer run.sh " + folder + "/nothing", 1},
        {"name with a comma", "--base-url http://h/ --installer run.sh " + Quote(commas.Path().string()), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Publish(c.arguments), c.status) << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir.Path() / "update.txt")) << c.name;
        EXPECT_FALSE(std::filesystem::exists(commas.Path() / "update.txt")) << c.name;
    }
}

namespace {

// The seq:N of a list's signature as our check reads it; ~0 when refused.
std::uint64_t VerifiedSequence(const std::filesystem::path& dir, const std::string& list, const StockKeyPair& pair)
{
    const auto key = ParsePublicKey(pair.publicKeyLine);
    if (!key)
        return ~std::uint64_t{0};
    const ListSignatureResult result =
        VerifyListSignature(ReadFileText(dir / list), ReadFileText(dir / (list + ".minisig")), *key);
    return result.check == SignatureCheck::Ok ? result.sequence : ~std::uint64_t{0};
}

int StockVerify(const std::filesystem::path& dir, const std::string& list, const StockKeyPair& pair)
{
    return RunShell("minisign -V -p " + ShellQuote(pair.publicKeyPath) + " -m " + ShellQuote((dir / list).string()));
}

} // namespace

TEST(publisher_signing, signs_both_lists_so_that_stock_minisign_accepts_them)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir keys;
    const StockKeyPair pair = MakeStockKeyPair(keys, "operator");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    TempDir dir;
    dir.Write("setup/install.sh", "#!/bin/sh\n");
    dir.Write("data.pak", "alpha");
    const std::string arguments =
        "--base-url http://127.0.0.1:9/game/ --installer setup/install.sh --sign " + Quote(pair.secretKeyPath) + " ";

    ASSERT_EQ(Publish(arguments + "--seq 42 " + Quote(dir.Path().string())), 0);
    for (const char* list : {"update.txt", "setup.txt"}) {
        EXPECT_EQ(StockVerify(dir.Path(), list, pair), 0) << list;
        EXPECT_EQ(VerifiedSequence(dir.Path(), list, pair), 42u) << list;
        EXPECT_NE(ReadFileText(dir.Path() / (std::string(list) + ".minisig")).find("file:" + std::string(list)),
                  std::string::npos);
    }
    // Publishing again does not list the signatures as game files.
    ASSERT_EQ(Publish(arguments + "--seq 43 " + Quote(dir.Path().string())), 0);
    EXPECT_EQ(ReadFileText(dir.Path() / "update.txt").find("minisig"), std::string::npos);
    EXPECT_EQ(VerifiedSequence(dir.Path(), "update.txt", pair), 43u);
    EXPECT_EQ(StockVerify(dir.Path(), "update.txt", pair), 0);

    // Without --seq the number is the Unix time of publishing.
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    ASSERT_EQ(Publish(arguments + Quote(dir.Path().string())), 0);
    const auto after = static_cast<std::uint64_t>(std::time(nullptr));
    const std::uint64_t sequence = VerifiedSequence(dir.Path(), "setup.txt", pair);
    EXPECT_GE(sequence, before);
    EXPECT_LE(sequence, after);
    EXPECT_EQ(VerifiedSequence(dir.Path(), "update.txt", pair), sequence) << "both lists carry the same seq";
}

TEST(publisher_signing, password_protected_key_opens_from_the_environment_and_refuses_a_wrong_one)
{
    if (!HaveMinisign())
        GTEST_SKIP() << kMinisignMissing;
    TempDir keys;
    const StockKeyPair pair = MakeStockKeyPair(keys, "operator");
    ASSERT_FALSE(pair.publicKeyLine.empty());
    MinisignSecretKey secret;
    ASSERT_EQ(ParseSecretKey(ReadFileText(pair.secretKeyPath), "", secret), SecretKeyResult::Ok);
    const std::string locked = keys.Write("locked.key", EncryptedKeyFile(secret, "s3cret"));
    TempDir dir;
    dir.Write("run.sh", "x");
    const std::string arguments = "--base-url http://h/ --installer run.sh --sign " + Quote(locked) + " --seq 7 " +
                                  Quote(dir.Path().string());

    // setsid: no terminal to ask on, so the variable is the only way in.
    EXPECT_EQ(RunShell("ZORVATH_SIGN_PASSWORD=wrong setsid -w " + std::string(ZORVATH_BIN_DIR) + "/zorvath-publish " +
                       arguments),
              1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "update.txt")) << "nothing written with a wrong password";
    EXPECT_EQ(RunShell("env -u ZORVATH_SIGN_PASSWORD setsid -w " + std::string(ZORVATH_BIN_DIR) +
                       "/zorvath-publish " + arguments),
              1)
        << "no password and no terminal";
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "update.txt"));
    ASSERT_EQ(RunShell("ZORVATH_SIGN_PASSWORD=s3cret setsid -w " + std::string(ZORVATH_BIN_DIR) +
                       "/zorvath-publish " + arguments),
              0);
    EXPECT_EQ(StockVerify(dir.Path(), "update.txt", pair), 0);
    EXPECT_EQ(VerifiedSequence(dir.Path(), "setup.txt", pair), 7u);
}

TEST(publisher_signing, refuses_bad_signing_arguments)
{
    TempDir dir;
    dir.Write("run.sh", "x");
    const std::string key = dir.Write("not-a-key", "hello\n");
    const std::string base = "--base-url http://h/ --installer run.sh ";
    const std::string folder = Quote(dir.Path().string());
    const struct {
        const char* name;
        std::string arguments;
        int status;
    } cases[] = {
        {"--seq without --sign", base + "--seq 5 " + folder, 2},
        {"--seq not a number", base + "--sign " + Quote(key) + " --seq 5x " + folder, 2},
        {"--seq beyond 2^63", base + "--sign " + Quote(key) + " --seq 9223372036854775809 " + folder, 2},
        {"--sign without a file", base + folder + " --sign", 2},
        {"not a key", base + "--sign " + Quote(key) + " " + folder, 1},
        {"no key file", base + "--sign " + Quote(dir.Folder() + "absent.key") + " " + folder, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Publish(c.arguments), c.status) << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir.Path() / "update.txt")) << c.name;
    }
}
