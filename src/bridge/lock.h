// The lock a bridge run and a gateway run share on one SOUP directory:
// an exclusive flock on SoupDir/.tarnwick.lock, held for the whole run.
#pragma once

#include <string>

namespace twsoup {

inline constexpr const char* kLockName = ".tarnwick.lock";

class SoupLock {
public:
    SoupLock() = default;
    ~SoupLock();
    SoupLock(const SoupLock&) = delete;
    SoupLock& operator=(const SoupLock&) = delete;

    enum class Result { Taken, Held, Failed };
    // Tries for up to wait_seconds (0: once). Held: another run has it;
    // Failed: the lock file cannot be made or locked (errno says why).
    [[nodiscard]] Result acquire(const std::string& soup_dir, int wait_seconds);

private:
    int fd_ = -1;
};

}  // namespace twsoup
