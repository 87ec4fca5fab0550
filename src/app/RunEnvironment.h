#pragma once

class IDrives;
class IFolderStore;
class ISignedSequenceStore;

// The operating-system services a run reaches: the remembered-folder store,
// the drive list and the record of accepted signed releases. All default to
// the machine's own; tests put their own in place before any worker thread
// starts.
struct RunEnvironment {
    IFolderStore* folderStore = nullptr; // null: SystemFolderStore()
    const IDrives* drives = nullptr;     // null: SystemDrives()
    ISignedSequenceStore* sequenceStore = nullptr; // null: SystemSignedSequenceStore()

    IFolderStore& FolderStore() const;
    const IDrives& Drives() const;
    ISignedSequenceStore& SequenceStore() const;
};
