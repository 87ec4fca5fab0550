#pragma once

class IDrives;
class IFolderStore;

// The operating-system services a run reaches: the remembered-folder store
// and the drive list. Both default to the machine's own; tests put their own
// in place before any worker thread starts.
struct RunEnvironment {
    IFolderStore* folderStore = nullptr; // null: SystemFolderStore()
    const IDrives* drives = nullptr;     // null: SystemDrives()

    IFolderStore& FolderStore() const;
    const IDrives& Drives() const;
};
