#pragma once

#include <string>

#include "planning/Minisign.h"

class TempDir;

// The stock minisign tool, run by tests to make and check signatures the way
// an operator would.

// Whether `minisign` is on PATH. Tests that need it skip with
// kMinisignMissing when it is not (scripts/common.sh installs it).
bool HaveMinisign();
inline constexpr const char* kMinisignMissing =
    "the minisign tool is not installed (Debian package minisign; scripts/test installs it)";

// text in single quotes for /bin/sh.
std::string ShellQuote(const std::string& text);
// Runs command with /bin/sh, its output thrown away unless captured by the
// command itself; returns the exit status, -1 when it did not exit.
int RunShell(const std::string& command);

struct StockKeyPair {
    std::string publicKeyPath; // minisign.pub as written by minisign -G
    std::string secretKeyPath;
    std::string publicKeyLine; // its base64 line
};

// A key pair without password (minisign -G -W) in dir as NAME.pub / NAME.key.
// publicKeyLine is empty when minisign failed.
StockKeyPair MakeStockKeyPair(const TempDir& dir, const std::string& name);

// Signs file with the stock tool as an operator does:
// `minisign -S [-l] -s KEY -m FILE -t COMMENT`, writing FILE.minisig. Returns
// the .minisig text ("" when minisign failed).
std::string StockSign(const StockKeyPair& pair, const std::string& file, const std::string& trustedComment,
                      bool legacy = false);

// key as a password-protected minisign key file ("Sc": scrypt), written with
// scrypt's smallest limits so that tests stay fast (minisign -G itself asks
// for 1 GiB). "" when scrypt failed.
std::string EncryptedKeyFile(const MinisignSecretKey& key, const std::string& password);
