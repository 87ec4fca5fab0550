#include "app/RunEnvironment.h"

#include "app/SignedSequenceStore.h"
#include "platform/Drives.h"
#include "platform/FolderStore.h"

IFolderStore& RunEnvironment::FolderStore() const
{
    return folderStore != nullptr ? *folderStore : SystemFolderStore();
}

const IDrives& RunEnvironment::Drives() const
{
    return drives != nullptr ? *drives : SystemDrives();
}

ISignedSequenceStore& RunEnvironment::SequenceStore() const
{
    return sequenceStore != nullptr ? *sequenceStore : SystemSignedSequenceStore();
}
