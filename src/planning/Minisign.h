#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Signatures of the published lists (update.txt, setup.txt) in minisign's
// file formats, so that an operator can sign with the stock minisign tool or
// with zorvath-publish, and check with `minisign -V`. Pure: nothing here reads
// or writes a file; callers pass the texts. Any thread may call any function.

// A .minisig text longer than this is refused before it is looked at.
inline constexpr std::size_t kMinisigMaxBytes = 4096;
// The largest sequence number a trusted comment may carry (seq:N).
inline constexpr std::uint64_t kMaxSignedSequence = std::uint64_t{1} << 63;

// Eight random bytes minisign gives each key pair; a signature names the key
// that made it.
using MinisignKeyId = std::array<unsigned char, 8>;

struct MinisignPublicKey {
    MinisignKeyId keyId{};
    std::array<unsigned char, 32> key{}; // Ed25519 public key
};

// Parses the base64 line of a minisign.pub file ("RW..."): algorithm "Ed",
// key id, key. Spaces and line breaks around it are ignored; nullopt when it
// is not such a line.
std::optional<MinisignPublicKey> ParsePublicKey(std::string_view base64Line);
// The base64 line of minisign.pub for key.
std::string PublicKeyLine(const MinisignPublicKey& key);
// The key id as minisign prints it (16 uppercase hexadecimal digits, the
// eight bytes read as a little-endian number), e.g. "DB4510DB050291C3".
std::string KeyIdText(const MinisignKeyId& keyId);

// Outcome of checking one list against its .minisig. Stable values: they
// may be logged or stored.
enum class SignatureCheck : int {
    Ok = 0,                 // both signatures hold and the trusted comment carries one seq:N
    TooLarge = 1,           // the .minisig text is over kMinisigMaxBytes
    Malformed = 2,          // a line is missing or extra, bad base64, a wrong length, unknown algorithm
    OtherKey = 3,           // signed by a key other than the one we trust (key ids differ)
    BadSignature = 4,       // the list bytes are not the bytes that were signed
    BadGlobalSignature = 5, // the trusted comment (or the signature line) was altered after signing
    NoSequence = 6,         // genuine, but the trusted comment holds no seq:N word
    BadSequence = 7,        // seq: is not a decimal up to 2^63, or appears more than once
};

struct ListSignatureResult {
    SignatureCheck check = SignatureCheck::Malformed;
    // The key id named by the signature; set from Malformed on (zero before).
    MinisignKeyId keyId{};
    // Set only once both signatures have held (Ok, NoSequence, BadSequence):
    // an unverified comment is never handed out.
    std::string trustedComment;
    // The N of "seq:N"; meaningful only when check is Ok.
    std::uint64_t sequence = 0;
};

// Checks listBytes against minisigText with publicKey: the signature over the
// list (legacy "Ed": the bytes themselves; "ED": their BLAKE2b-512), then the
// global signature over signature || trusted comment, then the seq:N word of
// the trusted comment (words are separated by spaces or tabs, e.g.
// "timestamp:1765000000 file:update.txt seq:1765000000").
ListSignatureResult VerifyListSignature(std::string_view listBytes, std::string_view minisigText,
                                        const MinisignPublicKey& publicKey);

// The "seq:N" of a trusted comment: Ok with N, NoSequence or BadSequence.
SignatureCheck ParseSequence(std::string_view trustedComment, std::uint64_t& sequence);

// A secret key as minisign keeps it once decrypted.
struct MinisignSecretKey {
    MinisignKeyId keyId{};
    std::array<unsigned char, 64> key{}; // Ed25519 secret key as libsodium holds it: seed || public key
};

// Outcome of reading a minisign secret key file. Stable values.
enum class SecretKeyResult : int {
    Ok = 0,
    Malformed = 1,      // not a minisign secret key (lines, base64, length, algorithms)
    UnsupportedKdf = 2, // key protection other than none or scrypt, or limits beyond reason
    WrongPassword = 3,  // the checksum does not match: wrong password or a damaged file
    KdfFailed = 4,      // scrypt could not run (memory)
};

// Whether the secret key file text is password protected (scrypt); false
// for keys made with `minisign -G -W` and for texts that are no key at all.
bool SecretKeyIsEncrypted(std::string_view keyFileText);
// Reads a minisign secret key file ("untrusted comment: ..." line, then the
// base64 line; the base64 line alone is accepted too). password is used only
// when the key is encrypted.
SecretKeyResult ParseSecretKey(std::string_view keyFileText, std::string_view password, MinisignSecretKey& out);
MinisignPublicKey PublicKeyOf(const MinisignSecretKey& secretKey);

// A .minisig text for listBytes in the prehashed "ED" form, which
// `minisign -V -p key.pub -m FILE` accepts. nullopt when trustedComment holds
// a line break or a NUL, or is longer than 1024 bytes.
std::optional<std::string> SignList(std::string_view listBytes, const MinisignSecretKey& secretKey,
                                    std::string_view trustedComment);

// One digest over both lists' bytes, the pair as one release: 64 lowercase
// hexadecimal digits of BLAKE2b-256 over each list's length (8 bytes, little
// endian) and bytes, update.txt first. The sequence store keeps it to tell a
// replay of the same release from other lists under the same seq.
std::string SignedListsDigest(std::string_view updateList, std::string_view setupList);
