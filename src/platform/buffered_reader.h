// Buffered reading of a file with byte offsets, optionally bounded: the one
// reader under the message extents of the SOUP files and the list files.
#pragma once

#include <climits>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/platform.h"

namespace tw::platform {

class BufferedReader {
public:
    static constexpr long long kNoEnd = LLONG_MAX;

    // Reads the file from where it stands, which counts as offset 0.
    explicit BufferedReader(File& file) : file_(&file), data_(buf_) {}
    // Reads [start, end) of the file and never past end.
    BufferedReader(File& file, long long start, long long end);
    // The same when `bytes` is null; else the file's bytes [start, end) are
    // already there, in memory, and are read in place.
    BufferedReader(File& file, long long start, long long end, const char* bytes);
    BufferedReader(const BufferedReader&) = delete;
    BufferedReader& operator=(const BufferedReader&) = delete;

    int get();   // next byte, or -1 at the end
    int peek();  // the same without taking it
    // Byte offset of the next unread byte.
    long long offset() const { return base_ + (long long)pos_; }

    // Continues reading at a byte offset; buffered bytes are reused when
    // the offset lies among them. False when the file cannot seek there.
    bool seek(long long offset);

    // fgets-like: at most cap-1 bytes, through the first LF, whole runs of
    // bytes copied at a time. -1 when nothing is left.
    long read_line(char* out, std::size_t cap);
    // The same line left where it is, for bytes that are in memory (the
    // constructor given `bytes`): `line` points at it. Not for a file.
    long view_line(std::size_t cap, const char*& line) {
        if (cap == 0 || pos_ >= len_) return -1;
        std::size_t take = len_ - pos_;
        if (take > cap - 1) take = cap - 1;
        line = data_ + pos_;
        const void* nl = std::memchr(line, '\n', take);
        std::size_t n = nl ? std::size_t(static_cast<const char*>(nl) - line) + 1 : take;
        pos_ += n;
        return long(n);
    }
    bool in_memory() const { return file_ == nullptr; }

    // Text mode: a CR before LF is dropped. Reads the next line into buf
    // (NUL-terminated, without its line feed). Piece mode (whole = false)
    // works like fgets with cap: at most cap - 1 characters, the line feed
    // included, so a longer line is read in pieces. Whole mode keeps the
    // first cap - 1 characters and skips the rest of the physical line.
    // terminated tells whether a line feed ended it. false at the end of
    // the file with nothing read.
    bool read_line(char* buf, std::size_t cap, bool whole, bool& terminated);
    // Bytes the last text-mode read_line stored (a line may hold NUL bytes).
    std::size_t length() const { return stored_; }

    // Text mode: skips to just after the next line feed (or the end).
    void skip_line();

private:
    bool fill();
    int next_text();  // next byte, CR LF read as LF; -1 at the end

    File* file_;          // null: the bytes are in memory
    const char* data_;    // buf_, or the caller's bytes
    long long base_ = 0;  // file offset of data_[0]
    long long end_ = kNoEnd;
    std::size_t pos_ = 0, len_ = 0;
    std::size_t stored_ = 0;
    char buf_[65536];
};

}  // namespace tw::platform
