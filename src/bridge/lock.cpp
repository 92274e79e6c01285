#include "bridge/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace twsoup {

SoupLock::~SoupLock() {
    if (fd_ >= 0) ::close(fd_);
}

SoupLock::Result SoupLock::acquire(const std::string& soup_dir, int wait_seconds) {
    std::string path = soup_dir + kLockName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return Result::Failed;
    Result result = Result::Held;
    for (int waited = 0;; ++waited) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Taken;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            result = Result::Failed;
            break;
        }
        if (waited >= wait_seconds) break;
        ::sleep(1);
    }
    int saved = errno;
    ::close(fd_);
    fd_ = -1;
    errno = saved;
    return result;
}

}  // namespace twsoup
