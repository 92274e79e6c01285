// The platform layer: every file-system call, the clock and the environment
// go through here. Paths may use '\' or '/' as separators; the layer turns
// '\' into '/' before the system sees them. Names written by other programs
// are found without regard to letter case.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tw::platform {

// Path text as the system wants it ('\' becomes '/').
std::string native_path(std::string_view path);

// Index of the file-name part: just after the last '\' or, failing that,
// the last '/'; 0 when the path holds no separator.
std::size_t file_name_pos(std::string_view path);

// Appends the separator a directory setting lacks: '/' when the value holds
// a '/' and no '\', else '\'. Values ending in either are left alone.
void append_separator(std::string& dir);

// Case-blind lookup: the exact name when it exists, else the first entry of
// its directory whose name equals it ignoring case, else the path unchanged.
// The result keeps the caller's spelling of the directory part.
std::string resolve_case(std::string_view path);

bool exists(std::string_view path);          // exact or case-blind
// The same question for the first-free-name searches, which ask about many
// absent names of one directory: the case-blind part is answered from a
// listing read once and kept up to date with this process's own changes
// (and read again when the directory changed otherwise). A name someone
// else takes meanwhile is still never overwritten: files under such names
// are created with O_EXCL.
bool name_taken(std::string_view path);
// Tests: forget the kept listings.
void forget_listings();
bool exists_exact(std::string_view path);
bool is_directory(std::string_view path);
bool remove_file(std::string_view path);     // case-blind
[[nodiscard]] bool rename_file(std::string_view from, std::string_view to);
// Gives a finished file its final name, never replacing a file of that
// name: false when the name is taken (or the file system refuses).
[[nodiscard]] bool publish_file(std::string_view from, std::string_view to);
// Makes the names created or removed in a directory durable (fsync of the
// directory), before an input whose mail they hold is deleted. `dir` may
// end in a separator.
[[nodiscard]] bool sync_directory(std::string_view dir);
// Waits until the data of a closed file is on the disk (fdatasync).
[[nodiscard]] bool sync_file_data(std::string_view path);
bool modification_time(std::string_view path, std::time_t& out);
long long file_size(std::string_view path);  // -1 when unknown
bool is_regular_file(std::string_view path);  // case-blind; false for devices, pipes, directories
// The absolute path with every symbolic link, "." and ".." resolved
// (case-blind lookup first); false when the file does not exist.
bool real_path(std::string_view path, std::string& out);

// Entries of a directory whose names match a DOS wildcard pattern
// ('*' and '?', ignoring case). The callback gets the bare entry name and
// returns false to stop. Order is sorted by name so runs are repeatable.
void list_directory(std::string_view dir, std::string_view pattern,
                    const std::function<bool(const std::string&)>& each);

bool wildcard_match(std::string_view pattern, std::string_view name);

enum class OpenMode {
    Read,         // existing file, reading
    ReadWrite,    // existing file, reading and writing
    Write,        // create or truncate
    Append,       // create or append
    CreateNew,    // create, failing when the name exists (O_EXCL)
};

enum class Share {
    All,        // others may read and write
    DenyWrite,  // others may read but not write: exclusive advisory lock
};

// One open file. Text mode drops a CR standing before LF on reading and
// writes LF as it is; binary mode passes bytes through.
class File {
public:
    File() = default;
    ~File() { release(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Only plain files are opened (devices and FIFOs could stall or feed
    // a run forever), except for appending, which a log may do to a device.
    bool open(std::string_view path, OpenMode mode, Share share = Share::All, bool text = false);
    bool is_open() const { return fp_ != nullptr; }
    explicit operator bool() const { return is_open(); }
    // False when anything written since the open did not reach the file.
    [[nodiscard]] bool close();
    // Closes without a verdict: for a file only read, or one whose writes
    // are given up anyway.
    void release() {
        if (fp_) (void)close();
    }

    // Reading stops at the size the file has now, however it grows.
    void limit_to_size();

    // Writes gather in a buffer of the File's own and reach the stream in
    // blocks of 256 KB: for a file written in many small pieces (a packet).
    // Every few MB the system is asked to start writing them to the disk,
    // so that a large output is mostly there by the time it is synced.
    // Until the next open; call it right after opening.
    void buffer_writes();
    // From here on the bytes written form one unit (a reply message) that a
    // full buffer does not split: only what came before it is handed on,
    // unless the unit alone fills the buffer. So a run killed meanwhile
    // leaves whole units in the file.
    void keep_together() { unit_ = wlen_; }

    // Reads up to n bytes; returns the count (0 at end or error).
    std::size_t read(void* buf, std::size_t n);
    // Next byte or EOF (text mode drops CR before LF). Binary reading stays
    // inline: the FTN readers take their text a byte at a time.
    int getc() {
        if (!fp_ || text_ || wlen_) return getc_text();
        if (limit_ >= 0) {
            if (left_ <= 0) return EOF;
            --left_;
        }
        int c = getc_unlocked(fp_);
        if (c != EOF && pos_ >= 0) ++pos_;
        return c;
    }
    // The bytes the stream has read ahead and not yet handed out (binary,
    // unbounded reading; empty otherwise, or when nothing is buffered): a
    // reader scans them in place, then skips what it took.
    // Inline, as the export's line reader asks once a piece.
    std::string_view buffered() const {
#if defined(__GLIBC__)
        if (fp_ && !text_ && limit_ < 0 && pos_ >= 0 && wlen_ == 0 && fp_->_IO_write_ptr == fp_->_IO_write_base &&
            fp_->_IO_read_ptr != nullptr && fp_->_IO_read_ptr < fp_->_IO_read_end)
            return std::string_view(fp_->_IO_read_ptr, std::size_t(fp_->_IO_read_end - fp_->_IO_read_ptr));
#endif
        return {};
    }
    // n at most buffered().size().
    void skip_buffered(std::size_t n) {
#if defined(__GLIBC__)
        fp_->_IO_read_ptr += n;
        pos_ += (long long)n;
#else
        (void)n;
#endif
    }
    // Like fgets: at most cap-1 bytes, stops after LF, NUL-terminates.
    // Returns the number of bytes stored, 0 at end of file.
    std::size_t read_line(char* buf, std::size_t cap);

    bool write(const void* buf, std::size_t n) {
        if (wcap_ && n <= wcap_ - wlen_) {
            // A copy of unknown length goes to the library's memcpy: inlined,
            // it becomes a `rep movs`, slow to start for a line's few bytes.
            if (__builtin_constant_p(n))
                std::memcpy(wbuf_.get() + wlen_, buf, n);
            else
                copy_bytes(wbuf_.get() + wlen_, buf, n);
            wlen_ += n;
            if (pos_ >= 0) pos_ += (long long)n;
            return true;
        }
        return write_stream(buf, n);
    }
    bool write(std::string_view s) { return write(s.data(), s.size()); }
    // s and one byte after it (a line and its end), with one test for room.
    bool write_line(std::string_view s, char end) {
        std::size_t n = s.size();
        if (wcap_ && n < wcap_ - wlen_) {
            char* to = wbuf_.get() + wlen_;
            copy_bytes(to, s.data(), n);
            to[n] = end;
            wlen_ += n + 1;
            if (pos_ >= 0) pos_ += (long long)(n + 1);
            return true;
        }
        return write(s) && put(end);
    }
    bool printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    bool put(char c) { return write(&c, 1); }

    // Replaces n bytes written earlier at offset, leaving the position at
    // the end: in the stream's buffer while they are still there.
    bool overwrite(long long offset, const void* data, std::size_t n);
    bool seek(long long offset);  // from the start
    bool seek_end();
    long long tell() { return fp_ && pos_ >= 0 ? pos_ : tell_stream(); }
    long long size();
    [[nodiscard]] bool flush();
    // Flushes and waits until the bytes are on the disk itself.
    [[nodiscard]] bool sync();
    // The same for the data alone (fdatasync): enough before an input whose
    // mail this file now holds may go.
    [[nodiscard]] bool sync_data();
    bool truncate(long long length);
    bool error() const;
    bool eof() const;
    std::FILE* stream() {
        (void)spill();
        pos_ = -1;  // the caller may move it
        return fp_;
    }

private:
    static void copy_bytes(char* to, const void* from, std::size_t n);
    int getc_text();
    long long tell_stream();
    bool write_stream(const void* buf, std::size_t n);
    // Hands what the own buffer holds to the stream; false when it failed.
    bool spill() { return wlen_ == 0 || spill_now(); }
    bool spill_now();
    // Room for more of the unit: hands on the whole units before it, or
    // everything when there are none.
    bool make_room();
    void write_behind();

    std::FILE* fp_ = nullptr;
    // The stream's buffer: large, so that a packet or message file is read
    // and written in few system calls and readers step back within it.
    std::unique_ptr<char[]> buf_;
    bool text_ = false;
    long long pos_ = -1;  // the stream's position as counted here; -1 unknown
    long long limit_ = -1;  // readable bytes, -1: no limit
    long long left_ = 0;    // of them, not yet read
    // buffer_writes(): the own buffer, wlen_ bytes of it not yet handed on
    // (pos_ counts them); wcap_ 0 when not in use.
    std::unique_ptr<char[]> wbuf_;
    std::size_t wcap_ = 0, wlen_ = 0;
    std::size_t unit_ = 0;  // of wlen_, the bytes before the unit being written
    long long behind_ = 0;  // offset up to which writing to the disk was started
};

// One run at a time on a site: an exclusive advisory lock (flock) on
// kSiteLockName in a directory, held until the object goes. The gateway's
// import, export and pack and the SOUP bridge all take it in SoupDir, so
// none of them meets another in the SOUP packet, the outbound or the list
// files.
inline constexpr const char* kSiteLockName = ".tarnwick.lock";

class SiteLock {
public:
    SiteLock() = default;
    ~SiteLock() { release(); }
    SiteLock(const SiteLock&) = delete;
    SiteLock& operator=(const SiteLock&) = delete;

    // `dir` ends in a separator. Tries for up to wait_seconds (0: once);
    // false when another run holds it or the file cannot be made.
    [[nodiscard]] bool acquire(std::string_view dir, int wait_seconds = 0);
    void release();
    // After a failed acquire: true when another run holds the lock, false
    // when the lock file could not be opened at all.
    bool busy() const { return busy_; }

private:
    int fd_ = -1;
    bool busy_ = false;
};

// Current calendar time and its local broken-down form.
std::time_t now();
void local_time(std::time_t t, std::tm& out);

// Environment value, or nullptr.
const char* env(const char* name);

}  // namespace tw::platform
