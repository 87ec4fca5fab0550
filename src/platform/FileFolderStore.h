#pragma once

#include <string>

#include "platform/FolderStore.h"

// The folder store kept in one small file: section [Download], one
// "name=folder" line per value name. Names match without regard to ASCII
// case, as registry value names do. '%', '=', '[', CR and LF are written as
// %XX so that any name and folder survive. Writes replace the file
// atomically; concurrent writers in this process are serialised.
class FileFolderStore final : public IFolderStore {
public:
    explicit FileFolderStore(std::string path);

    std::optional<std::string> Read(const std::string& valueName) const override;
    bool Write(const std::string& valueName, const std::string& folder) override;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/Vonmark/Halvane.conf, from the
// environment as it is now; "" when neither variable is set.
std::string SystemFolderStorePath();
