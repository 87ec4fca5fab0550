#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/FolderStore.h"

// The MD5 of bytes as 32 lowercase hexadecimal digits.
std::string Md5Of(const std::string& bytes);
// size bytes that look random, the same for the same seed.
std::string RandomBytes(std::size_t size, unsigned seed = 7);
// Whether anything is at path; false when it cannot be told.
bool Exists(const std::filesystem::path& path);

// Makes a folder refuse every change, even by root (the file system's
// immutable flag), for as long as it lives; the flag is cleared again when it
// goes. Ok() is false when the file system has no such flag.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::filesystem::path& folder);
    ~ImmutableFolder();
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool Ok() const { return m_set; }

private:
    std::filesystem::path m_folder;
    bool m_set = false;
};

// A remembered-folder store held in memory. Read and Write may run on any
// thread; tests look at values directly while no worker runs.
class MemoryFolderStore final : public IFolderStore {
public:
    std::optional<std::string> Read(const std::string& name) const override;
    bool Write(const std::string& name, const std::string& folder) override;

    std::map<std::string, std::string> values;

private:
    mutable std::mutex m_mutex;
};
