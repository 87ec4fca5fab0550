#pragma once

#include <cstddef>
#include <cstdint>

#include "transfer/DownloadState.h"
#include "transfer/TransferFault.h"

// Where TransferEngine hands one file job's body. All three are called on the
// thread that drives the engine (TransferEngine::Run), never at the same time
// for one job; the sink must outlive its job (until OnEnd) and must not throw
// (its calls run inside libcurl's callbacks).
class ITransferSink {
public:
    virtual ~ITransferSink() = default;
    // Once, when the server accepted the body request, before any block.
    // total: the file's whole length (0 when unknown). startOffset: where the
    // first block goes in the file: the offset asked for, or 0 when the server
    // sends the whole file instead; then the bytes present must be dropped,
    // never appended to.
    virtual void OnBegin(std::uint64_t total, std::uint64_t startOffset) = 0;
    // The next bytes of the body, in order, up to TransferEngineBlockSize at a
    // time. False stops the job after this block (it counts as delivered).
    virtual bool OnBlock(const char* data, std::size_t size) = 0;
    // Exactly once per job, last. DownloadOk: the body is complete (or the file
    // was already whole: then OnBegin never came). DownloadStopped: the sink or
    // a Stop ended it; the blocks delivered stand. DownloadNetError: no or a
    // wrong answer, a failed body, a stall; blocks before the failure were
    // delivered and stand.
    virtual void OnEnd(DownloadState result) = 0;
    // Just before OnEnd(DownloadNetError), and only then: what failed. Never
    // TransferFault::None. Sinks that do not go elsewhere need not listen.
    virtual void OnFault(TransferFault fault) { (void)fault; }
};
