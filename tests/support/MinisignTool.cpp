#include "support/MinisignTool.h"

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include <sodium.h>

#include "support/TempDir.h"

bool HaveMinisign()
{
    return RunShell("command -v minisign") == 0;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunShell(const std::string& command)
{
    const std::string quiet = "(" + command + ") >/dev/null 2>&1";
    const int status = std::system(quiet.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

StockKeyPair MakeStockKeyPair(const TempDir& dir, const std::string& name)
{
    StockKeyPair pair;
    pair.publicKeyPath = (dir.Path() / (name + ".pub")).string();
    pair.secretKeyPath = (dir.Path() / (name + ".key")).string();
    if (RunShell("minisign -G -W -p " + ShellQuote(pair.publicKeyPath) + " -s " + ShellQuote(pair.secretKeyPath) +
                 " </dev/null") != 0)
        return pair;
    std::istringstream lines(ReadFileText(pair.publicKeyPath));
    std::string comment;
    std::getline(lines, comment);
    std::getline(lines, pair.publicKeyLine);
    return pair;
}

std::string StockSign(const StockKeyPair& pair, const std::string& file, const std::string& trustedComment,
                      bool legacy)
{
    const std::string signature = file + ".minisig";
    std::filesystem::remove(signature);
    const int status = RunShell("minisign -S " + std::string(legacy ? "-l " : "") + "-s " +
                                ShellQuote(pair.secretKeyPath) + " -m " + ShellQuote(file) + " -t " +
                                ShellQuote(trustedComment) + " </dev/null");
    return status == 0 ? ReadFileText(signature) : "";
}

namespace {

std::string ToBase64(const std::vector<unsigned char>& bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

void PutLe64(unsigned char* p, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i, value >>= 8)
        p[i] = static_cast<unsigned char>(value);
}

} // namespace

std::string EncryptedKeyFile(const MinisignSecretKey& key, const std::string& password)
{
    if (sodium_init() < 0)
        return {};
    std::vector<unsigned char> raw(158, 0);
    std::memcpy(raw.data(), "EdScB2", 6);
    unsigned char* salt = raw.data() + 6;
    randombytes_buf(salt, 32);
    const std::uint64_t ops = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_MIN;
    const std::uint64_t mem = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_MIN;
    PutLe64(raw.data() + 38, ops);
    PutLe64(raw.data() + 46, mem);
    unsigned char* keynum = raw.data() + 54;
    std::memcpy(keynum, key.keyId.data(), 8);
    std::memcpy(keynum + 8, key.key.data(), 64);
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, 32);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>("Ed"), 2);
    crypto_generichash_update(&state, keynum, 72);
    crypto_generichash_final(&state, keynum + 72, 32);
    unsigned char stream[104];
    if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(), salt, ops, mem) != 0)
        return {};
    for (int i = 0; i < 104; ++i)
        keynum[i] ^= stream[i];
    return "untrusted comment: minisign encrypted secret key\n" + ToBase64(raw) + "\n";
}

