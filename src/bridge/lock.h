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

    // Tries for up to wait_seconds (0: once). False when another run holds it
    // or the file cannot be made.
    bool acquire(const std::string& soup_dir, int wait_seconds);

private:
    int fd_ = -1;
};

}  // namespace twsoup
