#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A worker thread with the suspend/resume handshake of the run:
// SuspendSelf() parks the calling worker until Resume(); a Resume() that
// arrives while the worker is not parked has no effect. Handles are shared:
// the running thread keeps its own object alive until its procedure returns.
class WorkerThread : public std::enable_shared_from_this<WorkerThread> {
public:
    // Creates the object and starts proc on a new, detached thread.
    static std::shared_ptr<WorkerThread> Start(std::function<void()> proc);
    // Creates the object without starting it, so the handle can be published
    // before the thread runs; Run() starts it.
    static std::shared_ptr<WorkerThread> Create(std::function<void()> proc);
    void Run();

    // Called by the worker itself: waits until Resume().
    void SuspendSelf();
    // Wakes a parked worker; returns whether one was parked.
    bool Resume();
    bool IsSuspended() const;

    // Blocks until the procedure has returned.
    void Wait();
    bool Finished() const;

    // The WorkerThread running the calling code, or null on other threads.
    static WorkerThread* Current();

    // Called on each worker's own thread once its procedure has returned and
    // Finished() holds, so that a waiter which polls can look at once (the
    // console client's loop). Null: nothing is called. Any thread.
    using FinishedHook = void (*)(WorkerThread& finished);
    static void SetFinishedHook(FinishedHook hook);

private:
    explicit WorkerThread(std::function<void()> proc);

    std::function<void()> m_proc;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_started = false;
    bool m_suspended = false;
    bool m_finished = false;
};
