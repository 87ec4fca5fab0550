#include "platform/InstanceLock.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

// Another process that tries the lock and keeps whatever it got until it is
// killed. Reports through a pipe whether it acquired the lock.
struct LockHolder {
    pid_t pid = -1;
    bool acquired = false;

    explicit LockHolder(const std::string& name)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            InstanceLock lock;
            const char answer = lock.Acquire(name) ? '1' : '0';
            (void)!::write(fds[1], &answer, 1);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char answer = '0';
        if (::read(fds[0], &answer, 1) == 1)
            acquired = answer == '1';
        ::close(fds[0]);
    }

    void Kill()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }

    ~LockHolder() { Kill(); }
};

class instance_lock : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        m_old = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_RUNTIME_DIR", m_dir.Path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_old)
            ::setenv("XDG_RUNTIME_DIR", m_old->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

private:
    TempDir m_dir;
    std::optional<std::string> m_old;
};

} // namespace

TEST_F(instance_lock, second_process_finds_the_lock_by_name)
{
    const struct {
        const char* name;
        std::string first;
        std::string second;
        bool secondStarts;
    } cases[] = {
        {"same name", "Halvane", "Halvane", false},
        {"different names", "Halvane", "Other", true},
        {"empty name takes no lock", "", "", true},
        {"names differing only in unsafe characters", "a/b", "a:b", true},
        {"name with path characters", "../x y/z", "../x y/z", false},
    };
    for (const auto& c : cases) {
        LockHolder first(c.first);
        ASSERT_TRUE(first.acquired) << c.name;
        InstanceLock second;
        EXPECT_EQ(second.Acquire(c.second), c.secondStarts) << c.name;
    }
}

TEST_F(instance_lock, killed_holder_releases_the_lock)
{
    LockHolder first("Halvane");
    ASSERT_TRUE(first.acquired);
    InstanceLock lock;
    ASSERT_FALSE(lock.Acquire("Halvane"));
    first.Kill();
    EXPECT_TRUE(lock.Acquire("Halvane"));
    EXPECT_TRUE(lock.Held());
    // While we hold it, a new process is refused; after release it starts.
    EXPECT_FALSE(LockHolder("Halvane").acquired);
    lock.Release();
    EXPECT_TRUE(LockHolder("Halvane").acquired);
}
