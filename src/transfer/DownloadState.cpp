#include "transfer/DownloadState.h"

DummyDownloadState& DummyDownloadState::Instance()
{
    static DummyDownloadState instance;
    return instance;
}
