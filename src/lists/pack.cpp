// The pack command: every list file is rewritten without its deleted
// records and stray lines; the configuration section is copied unchanged.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "driver/options.h"
#include "driver/helpers.h"
#include "driver/output.h"
#include "lists/lists.h"

namespace tw {

namespace {

// Configuration lines are read in pieces of at most 254 characters.
constexpr std::size_t kPiece = 255;
// How much of a dropped line a report shows.
constexpr std::size_t kShown = 150;

// Subscriber lines are taken whole, however long: cutting one would shift
// the records after it or lose part of a stored value.
class LineCopier {
public:
    LineCopier(ListFileReader& in, platform::File& out) : in_(in), out_(out) {}

    // Reads one physical line. With copy set, writes it to the output with
    // a line feed (one is added to an unterminated last line), preceded by
    // `before`. The first characters stay in shown(). False at the end of
    // the file with nothing read (and nothing written).
    bool next(bool copy, const char* before = "") {
        char piece[kPiece];
        bool terminated = false;
        if (!in_.read_line(piece, sizeof piece, false, terminated)) return false;
        shown_.assign(piece, std::min(std::strlen(piece), kShown));
        // Every byte goes across, NUL bytes included.
        if (copy) ok_ = ok_ && out_.write(before) && out_.write(piece, in_.length());
        while (!terminated && in_.read_line(piece, sizeof piece, false, terminated))
            if (copy) ok_ = ok_ && out_.write(piece, in_.length());
        if (copy) ok_ = ok_ && out_.write("\n");
        return true;
    }
    const std::string& shown() const { return shown_; }
    bool ok() const { return ok_; }

private:
    ListFileReader& in_;
    platform::File& out_;
    std::string shown_;
    bool ok_ = true;
};

struct PackCounts {
    unsigned long deleted = 0;
    unsigned long erroneous = 0;
};

// Copies one list file into the temporary file; false when a write failed.
bool pack_file(const ListRecord& l, ListFileReader& in, platform::File& out, PackCounts& counts) {
    const bool verbose = options().verbose;
    long line = 0;
    char piece[kPiece];
    bool terminated = false;
    bool ok = true;
    bool users = false;
    while (in.read_line(piece, sizeof piece, false, terminated)) {
        ++line;
        ok = ok && out.write(piece, in.length()) && (!terminated || out.write("\n"));
        if (terminated && iequals(piece, "ListUsers")) {
            users = true;
            break;
        }
    }
    if (!users) return ok && out.flush();

    LineCopier lines(in, out);
    while (lines.next(false)) {
        ++line;
        char marker = lines.shown().empty() ? 0 : lines.shown()[0];
        if (marker == '*') {
            ++counts.deleted;
            if (!lines.next(false)) break;
            ++line;
            if (verbose) log_printf("* removed deleted user record %s\n", lines.shown().c_str());
            int rest = 0;
            while (rest < 3 && lines.next(false)) ++rest;
            line += rest;
            if (rest < 3) break;
        } else if (marker == '+') {
            if (!lines.next(true, "+\n")) break;
            ++line;
            // A record cut short by the end of the file is completed: empty
            // name, the list's status for newcomers, empty password.
            char status[16];
            std::snprintf(status, sizeof status, "%d\n", int(l.NewStatus));
            const char* supplied[3] = {"\n", status, "\n"};
            bool partial = false;
            for (const char* s : supplied) {
                if (!partial && lines.next(true)) {
                    ++line;
                    continue;
                }
                partial = true;
                ok = ok && out.write(s);
            }
            if (partial) {
                log_printf("* extended partial user record at end of file\n");
                break;
            }
        } else {
            ++counts.erroneous;
            if (verbose) log_printf("* removed erroneous line %ld: %s\n", line, lines.shown().c_str());
        }
    }
    return ok && lines.ok() && out.flush();
}

}  // namespace

void pack_lists() {
    int count = list_count();
    if (count == 0) {
        log_printf("No lists are configured; cannot PACK\n");
        return;
    }
    for (int i = 0; i < count; ++i) {
        const ListRecord& l = list_record(i);
        log_printf("Packing list #%d: %s\n", i + 1, l.ListName);
        std::string_view path = l.path;
        std::size_t cut = path.rfind('\\');
        if (cut == std::string_view::npos) cut = path.rfind('/');
        std::string dir(cut == std::string_view::npos ? std::string_view() : path.substr(0, cut + 1));

        platform::File in;
        if (!in.open(path, platform::OpenMode::Read, platform::Share::All, false)) {
            log_printf("! error opening %s for reading\n", l.path);
            continue;
        }
        std::string temp;
        platform::File out;
        bool created = false;
        // Another process may take the free name first: then the next one.
        for (int tries = 0; tries < 16 && !created; ++tries) {
            if (!make_numbered_name(dir, "list", ".tmp", temp)) break;
            created = out.open(temp, platform::OpenMode::CreateNew, platform::Share::DenyWrite, false);
            if (!created && !platform::exists(temp)) break;
        }
        if (!created) {
            in.release();
            log_printf("! error opening %s for writing\n", temp.c_str());
            continue;
        }
        auto reader = std::make_unique<ListFileReader>(in);
        PackCounts counts;
        bool ok = pack_file(l, *reader, out, counts);
        in.release();
        ok = out.close() && ok;
        if (!ok) {
            // A short copy must never replace the list.
            log_printf("! error writing %s\n", temp.c_str());
            platform::remove_file(temp);
            continue;
        }
        if (counts.deleted == 0 && counts.erroneous == 0)
            log_printf("--> nothing to do\n");
        else
            log_printf("--> removed %lu deleted user records\n    + %lu erroneous lines\n", counts.deleted,
                       counts.erroneous);
        // Renaming over the list replaces it in one step; the list is never
        // missing, not even for a moment.
        if (!platform::rename_file(temp, platform::resolve_case(path))) {
            log_printf("! error renaming %s to %s\n", temp.c_str(), l.path);
            platform::remove_file(temp);
        }
    }
}

void pack_run() { pack_lists(); }

}  // namespace tw
