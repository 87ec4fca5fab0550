#pragma once

#include <exception>

#include "transfer/DownloadState.h"

// A failure inside the transfer layer, carrying its result. Raised by the
// client and the local file, caught by Download and QueryRemoteSize only.
class TransferError : public std::exception {
public:
    explicit TransferError(DownloadState state) : m_state(state) {}
    DownloadState State() const { return m_state; }
    const char* what() const noexcept override { return "transfer failed"; }

private:
    DownloadState m_state;
};
