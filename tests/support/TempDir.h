#pragma once

#include <filesystem>
#include <string>

// A fresh folder under the system's temporary directory, removed with all its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The path as a folder text ending with '/'.
    std::string Folder() const { return m_path.string() + "/"; }
    // Writes a file (parents made) and returns its full path.
    std::string Write(const std::string& relative, const std::string& content) const;

private:
    std::filesystem::path m_path;
};

// The whole content of a file, or "" when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);
