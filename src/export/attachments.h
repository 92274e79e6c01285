// The files attached to an exported message: each subject word that names a
// readable file becomes a base64 or uuencoded MIME part. What happens to a
// sent file afterwards (delete, truncate) is held back until the message is
// safely in the reply packet.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

class ReplyMessage;
struct ExportAnalysis;

enum class AfterSend : std::uint8_t { Keep, Delete, Truncate };

struct SentFile {
    std::string path;
    AfterSend action;
};

// Files sent with the message being written, and what to do with them.
// The attach-list entries the message took are given back (their state as
// it was) unless dispose_sent_files ran: a message that never reached the
// reply packet leaves its flow-file lines to be taken up again.
struct SentFiles {
    std::vector<SentFile> files;
    std::vector<std::pair<std::size_t, std::uint8_t>> taken;  // entry index, former state
    mutable bool disposed = false;

    SentFiles() = default;
    SentFiles(const SentFiles&) = delete;
    SentFiles& operator=(const SentFiles&) = delete;
    ~SentFiles();
};

// Writes the file parts and the closing boundary of a message whose attach
// flag is set. False when the reply file could not take them (the caller
// then abandons the message). Reports "* %s-encoding %s\n" per file.
[[nodiscard]] bool write_attached_files(ReplyMessage& out, const ExportAnalysis& analysis, bool use_attach_list,
                                        SentFiles& sent);

enum class AttachCheck : std::uint8_t { Allowed, Outside, Missing };

// Whether a file that an FTN message names by itself (no flow file of the
// local mailer lists it) may be read and disposed of: its real path, links
// and ".." resolved into `real`, must lie within an AttachPath directory,
// or InboundDir when no AttachPath is set. Missing: no such file.
AttachCheck check_attach_path(std::string_view name, std::string& real);

// After the message was finished in the reply packet: deletes or empties the
// sent files (nothing under /test).
void dispose_sent_files(const SentFiles& sent);

}  // namespace tw
