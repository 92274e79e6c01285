#include "platform/read_window.h"

#include <cstring>

namespace tw::platform {

std::string_view ReadWindow::fetch(long long from, std::size_t want) {
    if (want > cap_) want = cap_;
    if (from >= base_ && from <= base_ + (long long)len_) {
        std::size_t off = std::size_t(from - base_);
        std::size_t have = len_ - off;
        if (have >= want) return std::string_view(data_ + off, have);
        std::memmove(data_, data_ + off, have);
        len_ = have;
    } else {
        len_ = 0;
    }
    base_ = from;
    // Whole blocks: the window is filled, not just brought to `want`.
    if (from >= 0 && file_.seek(base_ + (long long)len_)) {
        while (len_ < cap_) {
            std::size_t got = file_.read(data_ + len_, cap_ - len_);
            if (got == 0) break;
            len_ += got;
        }
    }
    return std::string_view(data_, len_);
}

bool ReadWindow::span(long long from, long long to, std::string_view& out) {
    if (from < 0 || to < from || to - from > (long long)cap_) return false;
    std::size_t n = std::size_t(to - from);
    std::string_view v = fetch(from, n);
    if (v.size() < n) return false;
    out = v.substr(0, n);
    return true;
}

}  // namespace tw::platform
