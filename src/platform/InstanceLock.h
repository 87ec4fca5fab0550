#pragma once

#include <string>

// The single-instance lock: an exclusive flock on a file named after the lock
// name in $XDG_RUNTIME_DIR (or /tmp). The kernel drops it when the process
// ends in any way, killed included, and programs started from this one do not
// inherit it. Used by start-up on the user-interface thread.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock named name. Returns false only when another holder has
    // it. An empty name takes nothing and returns true, so every copy starts;
    // a lock file that cannot be created also returns true (start as the
    // first copy).
    bool Acquire(const std::string& name);
    void Release();
    bool Held() const { return m_fd >= 0; }

    // The file that carries the lock for name.
    static std::string LockFilePath(const std::string& name);

private:
    int m_fd = -1;
};
