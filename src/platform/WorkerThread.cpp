#include "platform/WorkerThread.h"

namespace {
thread_local WorkerThread* t_current = nullptr;
std::atomic<WorkerThread::FinishedHook> s_finishedHook{nullptr};
}

void WorkerThread::SetFinishedHook(FinishedHook hook)
{
    s_finishedHook = hook;
}

WorkerThread::WorkerThread(std::function<void()> proc) : m_proc(std::move(proc)) {}

std::shared_ptr<WorkerThread> WorkerThread::Create(std::function<void()> proc)
{
    return std::shared_ptr<WorkerThread>(new WorkerThread(std::move(proc)));
}

std::shared_ptr<WorkerThread> WorkerThread::Start(std::function<void()> proc)
{
    auto thread = Create(std::move(proc));
    thread->Run();
    return thread;
}

void WorkerThread::Run()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_started)
            return;
        m_started = true;
    }
    std::thread([self = shared_from_this()] {
        t_current = self.get();
        self->m_proc();
        t_current = nullptr;
        {
            std::lock_guard lock(self->m_mutex);
            self->m_finished = true;
            self->m_cv.notify_all();
        }
        if (const FinishedHook hook = s_finishedHook.load())
            hook(*self);
    }).detach();
}

void WorkerThread::SuspendSelf()
{
    std::unique_lock lock(m_mutex);
    m_suspended = true;
    m_cv.notify_all();
    m_cv.wait(lock, [this] { return !m_suspended; });
}

bool WorkerThread::Resume()
{
    std::lock_guard lock(m_mutex);
    if (!m_suspended)
        return false;
    m_suspended = false;
    m_cv.notify_all();
    return true;
}

bool WorkerThread::IsSuspended() const
{
    std::lock_guard lock(m_mutex);
    return m_suspended;
}

void WorkerThread::Wait()
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_finished; });
}

bool WorkerThread::Finished() const
{
    std::lock_guard lock(m_mutex);
    return m_finished;
}

WorkerThread* WorkerThread::Current()
{
    return t_current;
}
