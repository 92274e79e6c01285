// Hosted mailing lists: the list configuration files, their in-memory
// records and the subscriber index built when they are loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/config.h"
#include "platform/buffered_reader.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace tw {

inline constexpr int kListBuckets = 27;

// One active subscriber record of a list file: where its marker line is.
struct SubscriberIndexEntry {
    std::uint32_t crc;     // crc32_text of the address line, exact bytes
    std::int64_t offset;   // byte offset of the record's "+" line
    SubscriberIndexEntry* next;
};

// One hosted list. Texts and file names are owned copies, nullptr when the
// keyword was not given. File names are already resolved.
struct ListRecord {
    char* path;  // the list file (in test mode its ".~LC" duplicate)
    char* ListName;
    char* ListAddress;
    char* ListArea;
    char* ListPassword;
    std::uint8_t NewStatus;
    char* KeeperName;
    char* KeeperAddress;
    char* SubscribeInfo;
    char* Welcome;
    char* GoodBye;
    char* PasswordInfo;
    char* NewPassword;
    char* ReadOnly;
    char* BlackList;
    std::int32_t subscriber_count;  // active records indexed
    SubscriberIndexEntry* buckets[kListBuckets];
    // Where the next entry of each bucket is linked (nullptr: the head), so
    // appending stays constant-time. Kept right by the index helpers below;
    // change the buckets only through them.
    SubscriberIndexEntry** tails[kListBuckets];
    // The file has its "ListUsers" line, so records may be appended.
    bool users_section;
};

struct ListTable {
    ListRecord lists[kMaxLists];
    int count;
};

// The ListTable, allocated zero-filled at start-up (alloc_or_die).
void allocate_list_table();
ListTable& list_table();
inline ListRecord& list_record(int index) { return list_table().lists[index]; }

// Tests: an empty table (earlier records and their index are released).
void reset_list_table();

// Number of hosted lists loaded so far (at most 64).
int list_count();

// Reads one list configuration file named by a ListConfig line: true when
// the list was added. Warnings name the list file.
bool load_list_config(std::string_view name, long line, std::string_view config_path, std::string_view program_path);

// Builds the subscriber index of a loaded list afresh from its file, after
// the file was changed behind the index (a change taken back); quiet about
// what the load already reported. False when the file cannot be read.
bool reindex_list(ListRecord& list);

// Hands load_list_config to the configuration reader for ListConfig lines;
// called at start-up, before the configuration is read.
void install_list_config_loader();

// 1 to 26 for an address starting with a letter (either case), else 0.
int bucket_of(std::string_view address);

// Appends an entry for the address at the end of its bucket and counts the
// subscriber; false when the entry cannot be allocated.
bool append_index_entry(ListRecord& list, std::string_view address, std::int64_t offset);

// Removes the entry *link points at (link: a bucket head or the next field
// of the entry before it), releases it and uncounts the subscriber.
void unlink_index_entry(ListRecord& list, int bucket, SubscriberIndexEntry** link);

// Copies a file in blocks of up to 256 bytes: the number of bytes copied,
// or -1 when either file cannot be opened (or a write fails).
long copy_file(std::string_view source, std::string_view destination, char (&buffer)[256]);

// The test-mode duplicate of a list file: the extension of the file name
// (not of a directory) replaced by ".~LC", or ".~LC" appended.
std::string list_duplicate_path(std::string_view path);

// A line as read, without its line end and cut at a NUL byte.
std::string_view without_line_end(const char* buf);

// Line reading of list files: text mode (a CR before LF is dropped) with
// byte offsets for seeking back to a record.
using ListFileReader = platform::BufferedReader;

// The pack command: compacts the subscriber sections of every list.
void pack_run();
void pack_lists();

// The first hosted list whose ListAddress equals the address (ignoring
// case), or -1.
int find_hosted_list(std::string_view address);
// The list's FTN echo area, empty when it has none.
std::string_view hosted_list_area(int index);

// ------------------------------------------------------- subscribers

// A subscriber's status as stored in the list file. Any other stored number
// is kept as it is and treated as a member.
enum class SubscriberStatus : std::int32_t {
    Member = 0,
    MemberToo = 1,  // treated as Member; the usual NewStatus
    ReadOnly = 2,   // receives list mail; postings are answered with ReadOnly
    BlackListed = 3 // receives nothing; everything is answered with BlackList
};

// One subscriber record as read from or written to a list file.
struct SubscriberRecord {
    Text<128> address;
    Text<128> name; // empty when no separate name is known
    SubscriberStatus status;
    Text<128> password;
};

// Where find_subscriber found a record: the entry and the link that points
// at it (the bucket head or the next field of the entry before it).
struct SubscriberLocation {
    SubscriberIndexEntry** link;
    SubscriberIndexEntry* entry;
};

// Reads the record an index entry points at through the one shared reader:
// true when read, false (reported) otherwise. The reader stays open.
[[nodiscard]] bool read_subscriber(int list, const SubscriberIndexEntry& entry, SubscriberRecord& record);
void close_subscriber_reader();

// Looks an address up through the index: true and the record when found.
bool find_subscriber(int list, std::string_view address, SubscriberRecord& record,
                    SubscriberLocation* where = nullptr);

// The record a newcomer (the current message's sender) would get.
void new_subscriber(int list, SubscriberRecord& record);

// The password of a new subscriber of a list with a non-empty ListPassword;
// otherwise the field is left as it is.
void derive_password(int list, std::string_view address, Text<128>& password);

// Appends a record to the list file and indexes it: true when written.
[[nodiscard]] bool add_subscriber(int list, const SubscriberRecord& record);

// Marks a found record deleted and drops it from the index: true when done.
[[nodiscard]] bool remove_subscriber(int list, const SubscriberRecord& record, const SubscriberLocation& where);

// Writes a record's marker ('+' active, '*' deleted) in place: true when done.
[[nodiscard]] bool set_record_marker(int list, long long offset, char marker);

// Stores a found record again with its new password (the old copy marked
// deleted, the new one appended, the entry moved to it): true when done.
[[nodiscard]] bool rewrite_subscriber(int list, const SubscriberRecord& record, SubscriberIndexEntry& entry);

// The "Bcc:" header line naming every subscriber who receives list mail.
void write_bcc_list(int list, platform::File& out);

// ----------------------------------------------------- commands, postings

// Writes one administrative reply to the record's address with the reply
// text file (none: nothing is sent). False (reported) when it could not be
// written: the message that asked for it must then stay in the input.
[[nodiscard]] bool send_admin_reply(int list, const SubscriberRecord& record, const char* text_file);

// Replaces every occurrence of the placeholder in the NUL-terminated text of
// buf (capacity cap bytes) by the value (nullptr: "[unknown]"), as long as
// the result still fits.
void replace_token(char* buf, std::size_t cap, std::string_view placeholder, const char* value);

// Tests: the run-wide counter that keeps reply identifiers apart.
void reset_admin_counter();

// What became of a posting to a hosted list.
enum class Posting : std::uint8_t {
    Kept,     // the copy or the refusal could not be written (reported): the posting stays in the input
    Answered, // refused or sent on; nothing goes into the list's echo area
    ToArea,   // sent on; the message is also written into the list's echo area
};

// A posting to a hosted list: sends it on to the subscribers.
[[nodiscard]] Posting distribute_posting(int index, platform::File& message_file, long long body_start, long long extent_end);

// A command to a list, by the subject of a mail to its address.
enum class ListCommand : std::uint8_t { None = 0, Subscribe = 1, Unsubscribe = 2, ChangePass = 3 };

// A subscribe, unsubscribe or changepass command to a list.
// False when it is not done, its change and its reply both on disk: the
// command then stays in the input (its change, if any, taken back).
[[nodiscard]] bool list_command(int index, ListCommand command);

// ------------------------------------------------------------- journal
// What a hosted list does with a message of the SOUP packet (a command, a
// posting) is journaled, so that a run killed halfway leaves nothing at odds
// and the next one neither loses nor repeats it.

// Import: the message about to be handled, by its message file and offset.
void note_list_input(std::string_view message_file, long long offset);
// Run start (import, export, pack; not in test mode): settles what a killed
// run left half done, and learns which messages it handled whole.
void recover_list_journal();
// Import end, with every message file gone from the input: the journal goes.
void close_list_journal();

// The message being handled was handled whole by an earlier run: 'A'
// (answered, or a command carried out), 'T' (sent on to the subscribers and
// meant for the echo area too); 0 when not.
char list_input_done();
// Before a change and its answer: `marker` is the record the change marks
// deleted (-1 none; kNoListChange: the list file is not changed), `reply`
// the answer as begun (nullptr: none). False (reported) when it cannot be
// journaled: then nothing may change.
inline constexpr long long kNoListChange = -2;
class ReplyMessage;
[[nodiscard]] bool journal_intent(int list, char how, long long marker, const ReplyMessage* reply);
// Change and answer are both done.
void journal_done();
// The answer could not be finished: the change is taken back (the index
// built afresh). False (reported) when it could not be.
bool journal_take_back();

}  // namespace tw
