// A bounded window of a file's bytes in memory: the import reads each
// message file once, in large blocks, and frames and converts the messages
// from here. A message larger than the window is still read, from the file.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace tw::platform {

class ReadWindow {
public:
    static constexpr std::size_t kMinCapacity = 64;

    // Reads `file` up to its end (or its limit) into `buffer`, which the
    // caller owns: `capacity` bytes, kMinCapacity at least.
    ReadWindow(File& file, char* buffer, std::size_t capacity) : file_(file), cap_(capacity), data_(buffer) {}

    std::size_t capacity() const { return cap_; }

    // The bytes from `from` on that are in memory, at least `want` of them
    // (fewer only at the end of the file, or when `want` exceeds the
    // capacity: then as many as fit). Bytes before `from` may be dropped.
    std::string_view fetch(long long from, std::size_t want);

    // The byte at `at`, or -1 at the end of the file.
    int byte_at(long long at) {
        if (at >= base_ && at < base_ + (long long)len_) return (unsigned char)data_[at - base_];
        std::string_view v = fetch(at, 1);
        return v.empty() ? -1 : (unsigned char)v[0];
    }

    // The bytes [from, to) wholly in memory (fetched when need be); false
    // when they do not fit in the window or the file ends before `to`.
    bool span(long long from, long long to, std::string_view& out);

private:
    File& file_;
    std::size_t cap_;
    char* data_;
    long long base_ = 0;  // file offset of data_[0]
    std::size_t len_ = 0;
};

}  // namespace tw::platform
