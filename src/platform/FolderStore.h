#pragma once

#include <optional>
#include <string>

// Stand-in for the registry value that remembers the download folder: per
// user in ${XDG_CONFIG_HOME:-$HOME/.config}/Vonmark/Halvane.conf, section
// [Download], key = the value name ("@default" for an empty name).
class IFolderStore {
public:
    virtual ~IFolderStore() = default;
    // nullopt when the value is absent or cannot be read; "" when cleared.
    virtual std::optional<std::string> Read(const std::string& valueName) const = 0;
    // Atomic write (temporary file, flush, rename). Returns false on failure;
    // callers do not report it.
    virtual bool Write(const std::string& valueName, const std::string& folder) = 0;
};

// The store in the user's configuration folder, located anew on each call
// from the environment.
IFolderStore& SystemFolderStore();
