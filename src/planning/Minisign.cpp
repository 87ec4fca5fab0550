#include "planning/Minisign.h"

#include <cstring>
#include <vector>

#include <sodium.h>

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kSignatureUntrustedComment = "untrusted comment: signature from zorvath-publish secret key";
constexpr std::size_t kTrustedCommentMaxBytes = 1024;

constexpr std::size_t kAlgSize = 2;
constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeyBytes = kAlgSize + kKeyIdSize + 32;     // 42
constexpr std::size_t kSignatureBytes = kAlgSize + kKeyIdSize + 64;     // 74
constexpr std::size_t kGlobalSignatureBytes = 64;
constexpr std::size_t kSaltBytes = 32;
constexpr std::size_t kKeynumSkBytes = kKeyIdSize + 64 + 32;            // key id, secret key, checksum
constexpr std::size_t kSecretKeyBytes = 3 * kAlgSize + kSaltBytes + 8 + 8 + kKeynumSkBytes; // 158

// Beyond these the key file is not one minisign would write; scrypt with
// them could take the machine's memory or hours.
constexpr std::uint64_t kMaxOpsLimit = std::uint64_t{1} << 32;
constexpr std::uint64_t kMaxMemLimit = std::uint64_t{1} << 32;

bool SodiumReady()
{
    // Safe to call from several threads and more than once.
    return sodium_init() >= 0;
}

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Decodes standard base64 (with padding) into exactly size bytes; anything
// else (a stray character, another length) fails.
bool DecodeExactly(std::string_view base64, unsigned char* out, std::size_t size)
{
    if (base64.empty())
        return false;
    std::vector<unsigned char> buffer(size);
    std::size_t length = 0;
    if (sodium_base642bin(buffer.data(), buffer.size(), base64.data(), base64.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    if (length != size)
        return false;
    std::memcpy(out, buffer.data(), size);
    return true;
}

std::string Encode(const unsigned char* bytes, std::size_t size)
{
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Splits at '\n', dropping one '\r' before each; the pieces keep no break.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::uint64_t LoadLittleEndian64(const unsigned char* p)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

struct ParsedSignature {
    bool prehashed = false;
    MinisignKeyId keyId{};
    unsigned char signature[64] = {};
    std::string_view trustedComment;
    unsigned char globalSignature[kGlobalSignatureBytes] = {};
};

SignatureCheck ParseMinisig(std::string_view text, ParsedSignature& out)
{
    if (text.size() > kMinisigMaxBytes)
        return SignatureCheck::TooLarge;
    if (text.find('\0') != std::string_view::npos)
        return SignatureCheck::Malformed;
    std::vector<std::string_view> lines = Lines(text);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.size() != 4 || !StartsWith(lines[0], kUntrustedPrefix) || !StartsWith(lines[2], kTrustedPrefix))
        return SignatureCheck::Malformed;

    unsigned char signatureLine[kSignatureBytes];
    if (!DecodeExactly(lines[1], signatureLine, sizeof signatureLine))
        return SignatureCheck::Malformed;
    if (signatureLine[0] != 'E')
        return SignatureCheck::Malformed;
    if (signatureLine[1] == 'd')
        out.prehashed = false;
    else if (signatureLine[1] == 'D')
        out.prehashed = true;
    else
        return SignatureCheck::Malformed;
    std::memcpy(out.keyId.data(), signatureLine + kAlgSize, kKeyIdSize);
    std::memcpy(out.signature, signatureLine + kAlgSize + kKeyIdSize, 64);

    out.trustedComment = lines[2].substr(kTrustedPrefix.size());
    if (out.trustedComment.size() > kTrustedCommentMaxBytes)
        return SignatureCheck::Malformed;
    if (!DecodeExactly(lines[3], out.globalSignature, sizeof out.globalSignature))
        return SignatureCheck::Malformed;
    return SignatureCheck::Ok;
}

void PrehashList(std::string_view list, unsigned char hash[crypto_generichash_BYTES_MAX])
{
    crypto_generichash(hash, crypto_generichash_BYTES_MAX, reinterpret_cast<const unsigned char*>(list.data()),
                       list.size(), nullptr, 0);
}

// The checksum minisign keeps in a secret key: BLAKE2b-256 of the signature
// algorithm, the key id and the secret key.
void SecretKeyChecksum(const unsigned char* keyIdAndSecret, unsigned char checksum[32])
{
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, 32);
    const unsigned char algorithm[kAlgSize] = {'E', 'd'};
    crypto_generichash_update(&state, algorithm, sizeof algorithm);
    crypto_generichash_update(&state, keyIdAndSecret, kKeyIdSize + 64);
    crypto_generichash_final(&state, checksum, 32);
}

// The base64 line of a key file: the second line after an untrusted
// comment, or the only line.
std::string_view SecretKeyLine(std::string_view text)
{
    std::vector<std::string_view> lines = Lines(Trim(text));
    if (lines.size() == 2 && StartsWith(lines[0], kUntrustedPrefix))
        return Trim(lines[1]);
    if (lines.size() == 1)
        return Trim(lines[0]);
    return {};
}

bool DecodeSecretKey(std::string_view text, unsigned char raw[kSecretKeyBytes])
{
    const std::string_view line = SecretKeyLine(text);
    return !line.empty() && DecodeExactly(line, raw, kSecretKeyBytes) && raw[0] == 'E' && raw[1] == 'd' &&
           raw[4] == 'B' && raw[5] == '2';
}

} // namespace

std::optional<MinisignPublicKey> ParsePublicKey(std::string_view base64Line)
{
    if (!SodiumReady())
        return std::nullopt;
    unsigned char raw[kPublicKeyBytes];
    if (!DecodeExactly(Trim(base64Line), raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd')
        return std::nullopt;
    MinisignPublicKey key;
    std::memcpy(key.keyId.data(), raw + kAlgSize, kKeyIdSize);
    std::memcpy(key.key.data(), raw + kAlgSize + kKeyIdSize, key.key.size());
    return key;
}

std::string PublicKeyLine(const MinisignPublicKey& key)
{
    unsigned char raw[kPublicKeyBytes] = {'E', 'd'};
    std::memcpy(raw + kAlgSize, key.keyId.data(), kKeyIdSize);
    std::memcpy(raw + kAlgSize + kKeyIdSize, key.key.data(), key.key.size());
    return Encode(raw, sizeof raw);
}

std::string KeyIdText(const MinisignKeyId& keyId)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 7; i >= 0; --i) {
        text += digits[keyId[i] >> 4];
        text += digits[keyId[i] & 0x0f];
    }
    return text;
}

SignatureCheck ParseSequence(std::string_view trustedComment, std::uint64_t& sequence)
{
    constexpr std::string_view kSeq = "seq:";
    bool found = false;
    std::uint64_t value = 0;
    std::size_t at = 0;
    while (at < trustedComment.size()) {
        const std::size_t start = trustedComment.find_first_not_of(" \t", at);
        if (start == std::string_view::npos)
            break;
        std::size_t end = trustedComment.find_first_of(" \t", start);
        if (end == std::string_view::npos)
            end = trustedComment.size();
        const std::string_view word = trustedComment.substr(start, end - start);
        at = end;
        if (!StartsWith(word, kSeq))
            continue;
        if (found)
            return SignatureCheck::BadSequence; // two numbers: which one was meant?
        found = true;
        const std::string_view digits = word.substr(kSeq.size());
        if (digits.empty() || digits.size() > 19)
            return SignatureCheck::BadSequence;
        value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return SignatureCheck::BadSequence;
            value = value * 10 + static_cast<std::uint64_t>(c - '0'); // 19 digits cannot overflow 64 bits
        }
        if (value > kMaxSignedSequence)
            return SignatureCheck::BadSequence;
    }
    if (!found)
        return SignatureCheck::NoSequence;
    sequence = value;
    return SignatureCheck::Ok;
}

ListSignatureResult VerifyListSignature(std::string_view listBytes, std::string_view minisigText,
                                        const MinisignPublicKey& publicKey)
{
    ListSignatureResult result;
    if (!SodiumReady())
        return result;
    ParsedSignature parsed;
    result.check = ParseMinisig(minisigText, parsed);
    if (result.check != SignatureCheck::Ok)
        return result;
    result.keyId = parsed.keyId;
    if (parsed.keyId != publicKey.keyId) {
        result.check = SignatureCheck::OtherKey;
        return result;
    }

    int verified = -1;
    if (parsed.prehashed) {
        unsigned char hash[crypto_generichash_BYTES_MAX];
        PrehashList(listBytes, hash);
        verified = crypto_sign_verify_detached(parsed.signature, hash, sizeof hash, publicKey.key.data());
    } else {
        verified = crypto_sign_verify_detached(parsed.signature, reinterpret_cast<const unsigned char*>(listBytes.data()),
                                               listBytes.size(), publicKey.key.data());
    }
    if (verified != 0) {
        result.check = SignatureCheck::BadSignature;
        return result;
    }

    std::string signedComment(reinterpret_cast<const char*>(parsed.signature), 64);
    signedComment += parsed.trustedComment;
    if (crypto_sign_verify_detached(parsed.globalSignature, reinterpret_cast<const unsigned char*>(signedComment.data()),
                                    signedComment.size(), publicKey.key.data()) != 0) {
        result.check = SignatureCheck::BadGlobalSignature;
        return result;
    }

    result.trustedComment = std::string(parsed.trustedComment);
    result.check = ParseSequence(parsed.trustedComment, result.sequence);
    if (result.check != SignatureCheck::Ok)
        result.sequence = 0;
    return result;
}

bool SecretKeyIsEncrypted(std::string_view keyFileText)
{
    if (!SodiumReady())
        return false;
    unsigned char raw[kSecretKeyBytes];
    return DecodeSecretKey(keyFileText, raw) && raw[2] == 'S' && raw[3] == 'c';
}

SecretKeyResult ParseSecretKey(std::string_view keyFileText, std::string_view password, MinisignSecretKey& out)
{
    if (!SodiumReady())
        return SecretKeyResult::KdfFailed;
    unsigned char raw[kSecretKeyBytes];
    if (!DecodeSecretKey(keyFileText, raw))
        return SecretKeyResult::Malformed;
    const unsigned char* salt = raw + 3 * kAlgSize;
    const std::uint64_t opsLimit = LoadLittleEndian64(salt + kSaltBytes);
    const std::uint64_t memLimit = LoadLittleEndian64(salt + kSaltBytes + 8);
    unsigned char* keynumSk = raw + 3 * kAlgSize + kSaltBytes + 16;

    const bool encrypted = raw[2] == 'S' && raw[3] == 'c';
    const bool plain = raw[2] == 0 && raw[3] == 0;
    if (!encrypted && !plain)
        return SecretKeyResult::UnsupportedKdf;
    if (encrypted) {
        if (opsLimit > kMaxOpsLimit || memLimit > kMaxMemLimit)
            return SecretKeyResult::UnsupportedKdf;
        unsigned char stream[kKeynumSkBytes];
        if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(), salt,
                                               opsLimit, static_cast<std::size_t>(memLimit)) != 0) {
            sodium_memzero(raw, sizeof raw);
            return SecretKeyResult::KdfFailed;
        }
        for (std::size_t i = 0; i < kKeynumSkBytes; ++i)
            keynumSk[i] ^= stream[i];
        sodium_memzero(stream, sizeof stream);
    }

    unsigned char checksum[32];
    SecretKeyChecksum(keynumSk, checksum);
    const unsigned char* stored = keynumSk + kKeyIdSize + 64;
    bool valid = sodium_memcmp(checksum, stored, sizeof checksum) == 0;
    if (!valid && plain) {
        // Unencrypted keys from minisign 0.11 carry no checksum (all zero);
        // then the key must at least agree with itself: the public half is
        // the one its seed gives.
        static const unsigned char zero[32] = {};
        unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
        unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
        crypto_sign_seed_keypair(publicKey, secretKey, keynumSk + kKeyIdSize);
        valid = std::memcmp(stored, zero, sizeof zero) == 0 &&
                sodium_memcmp(secretKey, keynumSk + kKeyIdSize, sizeof secretKey) == 0;
        sodium_memzero(secretKey, sizeof secretKey);
    }
    if (!valid) {
        sodium_memzero(raw, sizeof raw);
        return SecretKeyResult::WrongPassword;
    }
    std::memcpy(out.keyId.data(), keynumSk, kKeyIdSize);
    std::memcpy(out.key.data(), keynumSk + kKeyIdSize, out.key.size());
    sodium_memzero(raw, sizeof raw);
    return SecretKeyResult::Ok;
}

MinisignPublicKey PublicKeyOf(const MinisignSecretKey& secretKey)
{
    MinisignPublicKey key;
    key.keyId = secretKey.keyId;
    // libsodium's secret key ends with its public key.
    std::memcpy(key.key.data(), secretKey.key.data() + 32, key.key.size());
    return key;
}

std::optional<std::string> SignList(std::string_view listBytes, const MinisignSecretKey& secretKey,
                                    std::string_view trustedComment)
{
    if (!SodiumReady())
        return std::nullopt;
    if (trustedComment.size() > kTrustedCommentMaxBytes ||
        trustedComment.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return std::nullopt;

    unsigned char signatureLine[kSignatureBytes] = {'E', 'D'};
    std::memcpy(signatureLine + kAlgSize, secretKey.keyId.data(), kKeyIdSize);
    unsigned char* signature = signatureLine + kAlgSize + kKeyIdSize;
    unsigned char hash[crypto_generichash_BYTES_MAX];
    PrehashList(listBytes, hash);
    crypto_sign_detached(signature, nullptr, hash, sizeof hash, secretKey.key.data());

    std::string signedComment(reinterpret_cast<const char*>(signature), 64);
    signedComment += trustedComment;
    unsigned char globalSignature[kGlobalSignatureBytes];
    crypto_sign_detached(globalSignature, nullptr, reinterpret_cast<const unsigned char*>(signedComment.data()),
                         signedComment.size(), secretKey.key.data());

    std::string text(kSignatureUntrustedComment);
    text += "\n" + Encode(signatureLine, sizeof signatureLine) + "\n";
    text += std::string(kTrustedPrefix) + std::string(trustedComment) + "\n";
    text += Encode(globalSignature, sizeof globalSignature) + "\n";
    return text;
}

std::string SignedListsDigest(std::string_view updateList, std::string_view setupList)
{
    if (!SodiumReady())
        return {};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, 32);
    for (std::string_view list : {updateList, setupList}) {
        unsigned char length[8];
        std::uint64_t size = list.size();
        for (unsigned char& byte : length) {
            byte = static_cast<unsigned char>(size);
            size >>= 8;
        }
        crypto_generichash_update(&state, length, sizeof length);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(list.data()), list.size());
    }
    unsigned char digest[32];
    crypto_generichash_final(&state, digest, sizeof digest);
    char hex[2 * sizeof digest + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}
