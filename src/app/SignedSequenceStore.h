#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// What the program remembers of the signed lists it accepted, so that a
// server (or someone between it and us) cannot hand back an older release:
// per signing key, the highest seq:N accepted and the digest of the pair of
// lists accepted under it. Kept beside the remembered folder, in
// ${XDG_CONFIG_HOME:-$HOME/.config}/Vonmark/Halvane.releases.

// The release accepted last under one key.
struct AcceptedRelease {
    std::uint64_t sequence = 0;
    // SignedListsDigest of update.txt and setup.txt as accepted: 64 lowercase
    // hexadecimal digits.
    std::string listsDigest;

    bool operator==(const AcceptedRelease&) const = default;
};

// Outcome of reading the store. Stable values.
enum class SequenceStoreRead : int {
    Found = 0,   // a release is recorded for the key
    Absent = 1,  // nothing recorded for the key (or no store yet)
    Damaged = 2, // the store exists but cannot be read or understood
};

// Key ids are given as KeyIdText prints them (16 uppercase hexadecimal
// digits). Read and Write may be called from any thread.
class ISignedSequenceStore {
public:
    virtual ~ISignedSequenceStore() = default;
    // out is set only when Found.
    virtual SequenceStoreRead Read(const std::string& keyId, AcceptedRelease& out) const = 0;
    // Records release for keyId, replacing what was there; other keys are
    // kept. Returns false when it could not be stored, or when the store is
    // damaged (a damaged store is never overwritten).
    virtual bool Write(const std::string& keyId, const AcceptedRelease& release) = 0;
};

// Whether lists signed with seq:N and digest may be used. Stable values.
enum class SequenceDecision : int {
    Accept = 0,                  // higher than recorded, nothing recorded, or the same release again
    RefuseLower = 1,             // older than the release accepted before: a rollback
    RefuseSameSeqOtherBytes = 2, // same seq as accepted before but other list bytes
    RefuseStoreDamaged = 3,      // the record cannot be read; refuse rather than forget it
};

// The decision from what is recorded (nullopt: nothing).
SequenceDecision DecideSequence(const std::optional<AcceptedRelease>& recorded, std::uint64_t sequence,
                                const std::string& listsDigest);
// The same, reading the record of keyId from store (Damaged gives RefuseStoreDamaged).
SequenceDecision DecideSequence(const ISignedSequenceStore& store, const std::string& keyId, std::uint64_t sequence,
                                const std::string& listsDigest);

// The store in one small text file: a comment line, then one line per key,
// "KEYID SEQ DIGEST". Writes replace the file atomically (temporary beside
// it, fsync, rename); writers in this process are serialised.
class FileSignedSequenceStore final : public ISignedSequenceStore {
public:
    explicit FileSignedSequenceStore(std::string path);

    SequenceStoreRead Read(const std::string& keyId, AcceptedRelease& out) const override;
    bool Write(const std::string& keyId, const AcceptedRelease& release) override;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A store held in memory, for tests and for runs that must not remember.
class MemorySignedSequenceStore final : public ISignedSequenceStore {
public:
    SequenceStoreRead Read(const std::string& keyId, AcceptedRelease& out) const override;
    bool Write(const std::string& keyId, const AcceptedRelease& release) override;

    // Makes Read answer Damaged and Write fail, as a damaged file does.
    bool damaged = false;
    std::map<std::string, AcceptedRelease> releases;

private:
    mutable std::mutex m_mutex;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/Vonmark/Halvane.releases, beside the
// remembered folder's file, from the environment as it is now; "" when
// neither variable is set.
std::string SystemSignedSequenceStorePath();

// The store at SystemSignedSequenceStorePath(), located anew on each call.
ISignedSequenceStore& SystemSignedSequenceStore();
