#pragma once

#include <cstdint>
#include <string>

#include "planning/ServerLists.h"

// How a check run ended. The values are stable: the console client maps them
// to exit statuses.
enum class CheckOutcome : int {
    Ready = 0,           // the plan is built and something is to fetch
    NothingToFetch = 1,  // every listed file is present: the installer is ready
    FolderGone = 2,      // the download folder vanished: the player chooses again
    NoSpace = 3,         // too little free space in the folder (and no other drive took it)
    ListsNotFetched = 4, // a list could not be fetched: the network or the server
    ListsNotWritten = 5, // the download folder cannot be written (read-only, full, not ours)
    Maintenance = 6,     // the server says no update is available now
    ListRefused = 7,     // a list names something the run will not touch
    NoWindow = 8,        // no window was published: nothing was done
    SignatureRefused = 9, // a public key is configured and the lists' signatures do not hold
    Failed = 10,          // the check ended on an unexpected error (out of memory)
};

// Why signed lists were refused (SignatureRefused). Stable values.
enum class SignatureRefusal : int {
    None = 0,
    BadPublicKey = 1,     // config.ini's pubkey is not the base64 line of a minisign public key
    Missing = 2,          // a .minisig could not be fetched (not on the server, or the network)
    TooLarge = 3,         // a .minisig is over kMinisigMaxBytes
    Malformed = 4,        // a .minisig is not one minisign writes
    OtherKey = 5,         // signed by a key other than the configured one
    NotMatching = 6,      // the list, the signature or its trusted comment was altered
    NoSequence = 7,       // the trusted comment carries no usable seq:N
    SequenceMismatch = 8, // update.txt and setup.txt carry different seq:N
    Rollback = 9,         // older than a release accepted before
    SameSequenceOtherLists = 10, // same seq:N as a release accepted before, other lists
    StoreDamaged = 11,    // the record of accepted releases cannot be read
};

// What a refused list said, for the message that names it.
struct CheckRefusal {
    std::string list;      // "update.txt" or "setup.txt"
    int line = 0;          // 1-based
    ListFault fault = ListFault::None;
    NameFault nameFault = NameFault::None; // for ListFault::UnsafeName
    std::string name;      // the offending name as listed (locale's character set, may hold controls)
};

struct CheckResult {
    CheckOutcome outcome = CheckOutcome::NoWindow;
    std::string folder;          // the folder the run checked
    std::uint64_t bytesNeeded = 0; // NoSpace: bytes still to fetch
    std::uint64_t bytesFree = 0;   // NoSpace: bytes free in the folder
    CheckRefusal refusal;           // ListRefused only
    SignatureRefusal signature = SignatureRefusal::None; // SignatureRefused only
    std::string unwritablePath;     // ListsNotWritten: where the folder refused a write
};

// The outcomes that end the program in the window: the lists cannot be used.
inline bool EndsTheProgram(CheckOutcome outcome)
{
    return outcome == CheckOutcome::ListsNotFetched || outcome == CheckOutcome::ListsNotWritten ||
           outcome == CheckOutcome::Maintenance || outcome == CheckOutcome::ListRefused ||
           outcome == CheckOutcome::SignatureRefused || outcome == CheckOutcome::Failed;
}
