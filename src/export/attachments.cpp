#include "export/attachments.h"

#include <algorithm>
#include <string_view>

#include "config/config.h"
#include "driver/message.h"
#include "driver/options.h"
#include "driver/output.h"
#include "export/analysis.h"
#include "export/attach_list.h"
#include "platform/platform.h"
#include "rfc822/mime.h"
#include "soup/soup.h"

namespace tw {

namespace {

constexpr const char* kBoundary = "+=Tarnwick=+";

// Lines encoded per read: the file streams through these two fixed buffers
// whatever its size.
constexpr std::size_t kLinesPerBlock = 1024;
constexpr std::size_t kMaxLineBytes = mime::kBase64LineBytes;        // 57 >= 45
constexpr std::size_t kMaxLineChars = mime::kBase64LineChars + 1;    // 76 + '\n' >= 1 + 60 + '\n'
unsigned char g_in[kMaxLineBytes * kLinesPerBlock];
char g_out[kMaxLineChars * kLinesPerBlock];

// A name as the log shows it: control characters become '_'.
std::string printable(std::string_view name) {
    std::string s(name);
    for (char& ch : s)
        if ((unsigned char)ch < 0x20 || ch == 0x7F) ch = '_';
    return s;
}

// The name a part carries: the file-name part of the path. Control
// characters and quotes would let a subject word write header lines of its
// own into the part, so they are shown as '_'.
std::string shown_name(std::string_view path) {
    std::string s(path.substr(platform::file_name_pos(path)));
    for (char& ch : s) {
        unsigned char u = (unsigned char)ch;
        if (u < 0x20 || u == 0x7F || ch == '"') ch = '_';
    }
    return s;
}

// Encodes up to `size` bytes of the file as data lines. Returns false when
// the reply file refused a write; `sent` receives the bytes actually read,
// which is less than size when the file ended early or could not be read.
bool encode_file(ReplyMessage& out, platform::File& file, long long size, bool uu, long long& sent) {
    const std::size_t line_bytes = uu ? mime::kUuLineBytes : mime::kBase64LineBytes;
    const std::size_t block = line_bytes * kLinesPerBlock;
    sent = 0;
    while (sent < size) {
        std::size_t want = (std::size_t)std::min<long long>((long long)block, size - sent);
        std::size_t got = file.read(g_in, want);
        if (got == 0) break;
        char* o = g_out;
        for (std::size_t at = 0; at < got; at += line_bytes) {
            std::size_t n = std::min(line_bytes, got - at);
            if (uu) {
                o += mime::encode_uu_line(g_in + at, n, o);
            } else {
                std::size_t chars = mime::encode_base64_line(g_in + at, n, o);
                // Only the last line of a file can be short of a multiple of 4.
                for (std::size_t pad = mime::base64_padding(chars); pad > 0; --pad) o[chars++] = '=';
                o += chars;
            }
            *o++ = '\n';
        }
        if (!out.write(std::string_view(g_out, std::size_t(o - g_out)))) return false;
        sent += (long long)got;
        if (got < want) break;
    }
    return true;
}

// Realpath of a directory setting, with a final '/' so that a prefix test
// cannot take /in2/x for a file in /in.
bool directory_prefix(std::string_view dir, std::string& out) {
    if (dir.empty() || !platform::real_path(dir, out)) return false;
    if (out.empty() || out.back() != '/') out += '/';
    return true;
}

}  // namespace

AttachCheck check_attach_path(std::string_view name, std::string& real) {
    if (!platform::real_path(name, real)) return AttachCheck::Missing;
    const GatewayConfig& c = config();
    std::string dir;
    if (c.AttachPath.count == 0) return directory_prefix(c.InboundDir.view(), dir) && real.starts_with(dir)
                                           ? AttachCheck::Allowed
                                           : AttachCheck::Outside;
    for (int i = 0; i < c.AttachPath.count; ++i)
        if (directory_prefix(c.AttachPath[i], dir) && real.starts_with(dir)) return AttachCheck::Allowed;
    return AttachCheck::Outside;
}

bool write_attached_files(ReplyMessage& out, const ExportAnalysis& analysis, bool use_attach_list, SentFiles& sent) {
    const CurrentMessage& m = message();
    const bool uu = config().EncodeFormat == EncodeKind::UU;
    const char* encoding = uu ? "UU" : "MIME";
    AttachList& list = attach_list();

    std::string_view subject = m.subject.view();
    std::size_t pos = 0;
    for (;;) {
        while (pos < subject.size() && subject[pos] == ' ') ++pos;
        if (pos >= subject.size()) break;
        std::size_t end = subject.find(' ', pos);
        if (end == std::string_view::npos) end = subject.size();
        std::string name(subject.substr(pos, std::min<std::size_t>(end - pos, 255)));
        pos = end;

        // A file the local mailer listed in a flow file is the sysop's own;
        // anything else was named by the message alone and is confined.
        bool listed_by_mailer = false;
        if (use_attach_list && !list.empty()) {
            if (AttachEntry* e = list.find_base_name(name)) {
                if (m.export_target == ExportTarget::Gateway && e->state == AttachState::Packet) continue;
                name.assign(e->line.view().substr(0, 255));
                sent.taken.emplace_back(std::size_t(e - &list[0]), std::uint8_t(e->state));
                e->state = AttachState::Done;
                listed_by_mailer = !list.named_by_message();
            }
        }

        AfterSend action = AfterSend::Keep;
        if (!name.empty() && name[0] == '#') {
            name.erase(0, 1);
            action = AfterSend::Truncate;
        } else if (!name.empty() && name[0] == '^') {
            name.erase(0, 1);
            action = AfterSend::Delete;
        } else if (analysis.kill_files) {
            action = AfterSend::Delete;
        } else if (analysis.truncate_files) {
            action = AfterSend::Truncate;
        }

        std::string path = name;
        if (!listed_by_mailer) {
            AttachCheck check = check_attach_path(name, path);
            if (check == AttachCheck::Missing) continue;
            if (check == AttachCheck::Outside) {
                log_printf("! %s lies outside AttachPath: not sent\n", printable(name).c_str());
                continue;
            }
        }
        // Devices and pipes are no files to send (a pipe would hang the run).
        if (!platform::is_regular_file(path)) continue;
        platform::File file;
        if (!file.open(path, platform::OpenMode::Read)) continue;
        long long size = file.size();
        if (size < 0) continue;

        std::string shown = shown_name(name);
        log_printf("* %s-encoding %s\n", encoding, shown.c_str());
        std::string head = "\n--";
        head += kBoundary;
        head += "\nContent-Type: application/octet-stream; name=\"" + shown + "\"\nContent-Transfer-Encoding: ";
        head += uu ? "7bit\n\nbegin 644 " + shown + "\n" : std::string("base64\n\n");
        if (!out.write(head)) return false;
        long long read = 0;
        if (!encode_file(out, file, size, uu, read)) return false;
        if (!out.write(uu ? "`\nend\n\n" : "\n")) return false;
        file.release();

        if (read < size) {
            // The part holds what could be read; the file stays for the
            // sysop whatever the message asked, as it was not sent whole.
            log_printf("! %s ended after %lld of %lld bytes: sent short, file kept\n", printable(name).c_str(), read,
                       size);
            action = AfterSend::Keep;
        }
        if (action != AfterSend::Keep) sent.files.push_back(SentFile{path, action});
    }
    std::string close = "\n--";
    close += kBoundary;
    close += "--\n";
    return out.write(close);
}

SentFiles::~SentFiles() {
    if (disposed) return;
    AttachList& list = attach_list();
    for (auto it = taken.rbegin(); it != taken.rend(); ++it)
        if (it->first < list.size()) list[it->first].state = AttachState(it->second);
}

void dispose_sent_files(const SentFiles& sent) {
    sent.disposed = true;
    if (options().test) return;
    for (const SentFile& f : sent.files) {
        if (f.action == AfterSend::Delete) {
            platform::remove_file(f.path);
        } else if (f.action == AfterSend::Truncate) {
            platform::File empty;
            empty.open(f.path, platform::OpenMode::Write);
        }
    }
}

}  // namespace tw
