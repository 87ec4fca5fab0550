#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class IFolderStore;

// Characters a configuration value keeps, including the terminator of the
// original buffer: a value holds at most ConfigValueLength - 1 characters.
inline constexpr int ConfigValueLength = 512;
// Characters of the remembered folder and of the drive list buffer.
inline constexpr int FolderPathLength = 260;

// Transfers at once when config.ini does not say, and the most it may say.
inline constexpr int DefaultConnections = 6;
inline constexpr int MaxConnections = 64;
// Characters of the "mirrors" value: room for many base URLs, so that a long
// list is never cut inside one.
inline constexpr int MirrorsValueLength = 8192;

// The deployment settings from ./config.ini, section "settings". Read once
// when the main window is created and never changed afterwards.
struct LocalConfig {
    std::string m_strUpdate;
    std::string m_strSetup;
    std::string m_strGuanwang;
    std::string m_strZhuce;
    std::string m_strAd;
    std::string m_strRegKey;
    std::string m_strDir;
    // The base64 line of the operator's minisign.pub; "" (the key absent):
    // the lists are taken unsigned.
    std::string m_strPubkey;
    // Files fetched (and size queries asked) at once; 1 keeps one at a time
    // in list order.
    int m_connections = DefaultConnections;
    // Bytes per second for all transfers of the run together; 0: no limit.
    // config.ini gives it in KiB/s ("limit").
    std::uint64_t m_limitBytesPerSecond = 0;
    // Base URLs (each ending with '/') to fetch game files from after the
    // update list's own base URL, in the order written.
    std::vector<std::string> m_mirrors;
    // Items of "mirrors" left out for not being http:// or https:// URLs.
    int m_skippedMirrors = 0;
};

// The items of a "mirrors" value and how many were left out.
struct MirrorList {
    std::vector<std::string> bases;
    int skipped = 0;
};

// Splits a "mirrors" value at blanks (spaces, tabs); empty items are no items.
// An item that is not an http:// or https:// URL with a host is left out and
// counted; a base without a trailing '/' gets one.
MirrorList ParseMirrors(const std::string& text);

// A "connections" value as a count from 1 to MaxConnections; nothing when the
// text is no such number.
std::optional<int> ParseConnections(const std::string& text);

// A "limit" value (KiB/s, whole number) in bytes per second, 0 for none;
// nothing when the text is no such number.
std::optional<std::uint64_t> ParseLimitKiB(const std::string& text);

// Reads the eight keys "update", "setup", "guanwang", "zhuce", "ad",
// "reg_key", "dir", "pubkey" from the ini file (default "./config.ini"), and
// "connections" (DefaultConnections when absent or not a count), "limit"
// (no limit when absent or not a number) and "mirrors" (ParseMirrors).
LocalConfig ReadLocalConfig(const std::string& iniPath = "./config.ini");

// The remembered download folder, or "" when absent, empty or unreadable.
std::string LoadStoredFolder(const IFolderStore& store, const std::string& regKey);
// Remembers the folder (or the empty text). Failures are not reported.
void StoreFolder(IFolderStore& store, const std::string& regKey, const std::string& folder);
