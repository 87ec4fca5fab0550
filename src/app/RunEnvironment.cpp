#include "app/RunEnvironment.h"

#include "platform/Drives.h"
#include "platform/FolderStore.h"

RunEnvironment& TheRunEnvironment()
{
    static RunEnvironment environment;
    return environment;
}

IFolderStore& RunFolderStore()
{
    IFolderStore* store = TheRunEnvironment().folderStore;
    return store != nullptr ? *store : SystemFolderStore();
}

const IDrives& RunDrives()
{
    const IDrives* drives = TheRunEnvironment().drives;
    return drives != nullptr ? *drives : SystemDrives();
}
