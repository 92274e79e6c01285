#include "platform/buffered_reader.h"

#include <cstring>

namespace tw::platform {

BufferedReader::BufferedReader(File& file, long long start, long long end)
    : file_(&file), data_(buf_), base_(start), end_(end) {
    file_->seek(start);
}

BufferedReader::BufferedReader(File& file, long long start, long long end, const char* bytes)
    : file_(bytes ? nullptr : &file), data_(bytes ? bytes : buf_), base_(start), end_(end) {
    if (bytes)
        len_ = end > start ? std::size_t(end - start) : 0;
    else
        file_->seek(start);
}

bool BufferedReader::fill() {
    if (!file_) return false;
    base_ += (long long)len_;
    pos_ = len_ = 0;
    if (base_ >= end_) return false;
    long long want = end_ - base_;
    len_ = file_->read(buf_, want < (long long)sizeof buf_ ? std::size_t(want) : sizeof buf_);
    return len_ > 0;
}

int BufferedReader::get() {
    if (pos_ >= len_ && !fill()) return -1;
    return (unsigned char)data_[pos_++];
}

int BufferedReader::peek() {
    if (pos_ >= len_ && !fill()) return -1;
    return (unsigned char)data_[pos_];
}

bool BufferedReader::seek(long long offset) {
    if (offset >= base_ && offset <= base_ + (long long)len_) {
        pos_ = std::size_t(offset - base_);
        return true;
    }
    if (!file_) return false;
    pos_ = len_ = 0;
    base_ = offset;
    return offset >= 0 && file_->seek(offset);
}

long BufferedReader::read_line(char* out, std::size_t cap) {
    if (cap == 0) return -1;
    std::size_t n = 0;
    bool any = false;
    while (n + 1 < cap) {
        if (pos_ >= len_ && !fill()) break;
        std::size_t take = len_ - pos_;
        if (take > cap - 1 - n) take = cap - 1 - n;
        const char* src = data_ + pos_;
        const char* nl = static_cast<const char*>(std::memchr(src, '\n', take));
        std::size_t len = nl ? std::size_t(nl - src) + 1 : take;
        std::memcpy(out + n, src, len);
        n += len;
        pos_ += len;
        any = true;
        if (nl) break;
    }
    out[n] = 0;
    return any ? long(n) : -1;
}

int BufferedReader::next_text() {
    if (pos_ == len_ && !fill()) return -1;
    unsigned char c = (unsigned char)data_[pos_++];
    if (c == '\r') {
        if (pos_ == len_ && !fill()) return c;
        if (data_[pos_] == '\n') {
            ++pos_;
            return '\n';
        }
    }
    return c;
}

bool BufferedReader::read_line(char* buf, std::size_t cap, bool whole, bool& terminated) {
    terminated = false;
    std::size_t stored = 0;
    bool any = false;
    while (whole || stored + 1 < cap) {
        int c = next_text();
        if (c < 0) break;
        any = true;
        if (c == '\n') {
            terminated = true;
            break;
        }
        if (stored + 1 < cap) buf[stored++] = char(c);
    }
    if (cap) buf[stored] = 0;
    stored_ = stored;
    return any;
}

void BufferedReader::skip_line() {
    for (int c = next_text(); c >= 0 && c != '\n'; c = next_text()) {
    }
}

}  // namespace tw::platform
