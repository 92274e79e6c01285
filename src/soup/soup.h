// The SOUP packet in SoupDir: the AREAS index and its message files coming
// in, the REPLIES index and its reply message files going out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/message.h"
#include "driver/types.h"
#include "platform/platform.h"
#include "platform/read_window.h"
#include "platform/text.h"

namespace tw {

// ---------------------------------------------------------------- AREAS

// One AREAS line: prefix <tab> area name <tab> type.
struct SoupArea {
    std::string prefix;         // the message file is prefix + ".msg"
    Field name;                 // first 127 characters of the area name
    char format;                // type letter: 'u' rnews, 'm' mailbox, 'M' MMDF, 'b'/'B' binary
    AreaKind kind;
    std::string message_path;   // SoupDir + prefix + ".msg" (filled by AreasReader)
};

enum class AreaLineStatus : std::uint8_t {
    Good,
    Error,          // no first or second tab, or a prefix that is no plain file name
    UnknownFormat,  // a type letter the framing reader does not know
};

// Parses one line as read (its line end may still stand at its end).
AreaLineStatus parse_areas_line(std::string_view line, SoupArea& area);

// Reads SoupDir + "AREAS" line by line (254 characters at most a line, as
// the index has always been read; a longer line counts as several),
// reporting and skipping the lines that cannot be used.
class AreasReader {
public:
    // False when AREAS cannot be opened; the caller reports that.
    bool open(std::string_view soup_dir);
    // The next good area; false at the end of the index.
    bool next(SoupArea& area);
    void close() { file_.release(); }
    long line_number() const { return line_; }          // of the last line read, from 1
    bool unknown_format_seen() const { return unknown_; } // AREAS must then be kept
    const std::string& path() const { return path_; }

private:
    platform::File file_;
    std::string dir_;
    std::string path_;
    long line_ = 0;
    bool unknown_ = false;
};

// ------------------------------------------------------------- framing

// The byte range of one message in a message file.
struct MessageExtent {
    long long start;  // first byte of the message
    long long end;    // first byte after it
};

enum class FrameResult : std::uint8_t { Message, EndOfFile, BadFile };

// Reads the next frame from the file's current offset. On Message the file
// is left at `extent.start` and `extent` lies within [current offset, size],
// with `extent.end` beyond the offset the call began at; the caller seeks to
// `extent.end` for the next call. `size` is the file's size in bytes and
// `format` the area's type letter.
FrameResult read_soup_frame(platform::File& file, long long size, char format, MessageExtent& extent);

// The same from a window over the file, for a frame that begins at offset
// `at`; the file's own position is of no account. On BadFile,
// `extent.start` is where the broken frame header ends (when one was read).
FrameResult read_soup_frame(platform::ReadWindow& window, long long at, long long size, char format,
                            MessageExtent& extent);

// ------------------------------------------------------------- replies

// Registers the current reply file of the kind in REPLIES when it received
// messages (a file is registered with its first message already), and picks
// the next free name (nothing when the current file is named and still
// empty).
void rotate_reply_file(ReplyKind kind);

// Appends one message to the current reply file of the kind, length-framed.
// False, with nothing written or counted, when the file can be neither
// opened nor created.
bool append_reply_message(ReplyKind kind, std::string_view text);

// Full path of the current reply file of the kind (empty before the first
// rotate_reply_file of the run).
const std::string& reply_file_path(ReplyKind kind);

// How a finished message reaches the disk.
enum class ReplyCommit : std::uint8_t {
    Now,    // flushed at once (list replies and copies, which a journal follows)
    Later,  // may wait in the buffer until commit_replies()
};

// One message written piece by piece into the current reply file, for
// writers that produce their text as they go. begin() opens the file (it
// stays open for the next message) and writes the length placeholder;
// finish() fixes the length, counts, (SeparateMSG) commits and rotates. A
// message neither finished nor kept is taken out of the file again. The
// file is written through a large buffer that is handed on at message
// ends, so the file holds whole messages unless one is larger than the
// buffer.
class ReplyMessage {
public:
    ReplyMessage() = default;
    ~ReplyMessage() { abandon(); }
    ReplyMessage(const ReplyMessage&) = delete;
    ReplyMessage& operator=(const ReplyMessage&) = delete;

    // False also while another message is being written into the file.
    bool begin(ReplyKind kind);
    platform::File& file() { return *file_; }
    bool write(std::string_view text) { return file_->write(text); }
    // False, with the message taken out again, when it did not reach the
    // file whole or the file could not be registered in REPLIES. A file is
    // registered with its first message, which is flushed for it.
    [[nodiscard]] bool finish(ReplyCommit when = ReplyCommit::Now);
    void abandon();
    // After finish(Later): the message made a REPLIES line or, with
    // SeparateMSG, a file of its own; the caller commits now (the next
    // file is taken then).
    bool commit_soon() const { return commit_soon_; }

    // Where the message goes, once begun: the reply file, the offset of its
    // length, and whether the file was made for it.
    const std::string& path() const { return reply_file_path(kind_); }
    long long offset() const { return offset_; }
    bool created() const { return created_; }

private:
    void withdraw();

    platform::File none_;             // before begin()
    platform::File* file_ = &none_;   // the reply file, kept open between messages
    ReplyKind kind_ = ReplyKind::Mail;
    long long offset_ = 0;
    bool created_ = false;
    bool active_ = false;
    bool commit_soon_ = false;
};

// Makes every message finished since the last commit durable before an
// input whose mail they hold is deleted, cut back or marked: flushes and
// syncs the reply files, REPLIES when it changed, and SoupDir when a name
// was made in it. When that fails, the reply files and REPLIES are cut
// back to the last commit, so those messages are in neither the reply
// packet nor (the caller keeps them) lost; the number taken out is
// `taken_out` and each must be reported by the caller. True also when
// there was nothing to commit.
[[nodiscard]] bool commit_replies(int* taken_out = nullptr);

// Messages appended to it since it was last registered.
int reply_message_count(ReplyKind kind);

// Tests, or a second run in one process: forget the reply files.
void reset_reply_state();

}  // namespace tw
