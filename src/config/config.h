// GatewayConfig: the one configuration record, filled once by the reader and
// only read afterwards. Each setting carries its configuration keyword's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "driver/types.h"
#include "platform/text.h"

namespace tw {

// A table of entries allocated one by one as the lines are read.
template <class T, int Cap>
struct Table {
    static constexpr int capacity = Cap;
    T* items[Cap];
    int count;

    bool full() const { return count >= Cap; }
    // A zero-filled new entry appended to the table; nullptr when the table
    // is full or the memory cannot be had.
    T* add() {
        if (full()) return nullptr;
        T* e = static_cast<T*>(std::calloc(1, sizeof(T)));
        if (!e) return nullptr;
        items[count++] = e;
        return e;
    }
    T& operator[](int i) { return *items[i]; }
    const T& operator[](int i) const { return *items[i]; }
    int size() const { return count; }
    T* const* begin() const { return items; }
    T* const* end() const { return items + count; }
    // Frees every entry (and what `inner` frees of it): for a record read
    // again in the same process, as tests and fuzzers do.
    template <class Inner>
    void release(Inner inner) {
        for (int i = 0; i < count; ++i) {
            inner(*items[i]);
            std::free(items[i]);
        }
        count = 0;
    }
    void release() {
        release([](T&) {});
    }
};

// A text stored at its exact length; nullptr when the memory cannot be had.
char* dup_text(std::string_view s);

// A table of texts stored at their exact length.
template <int Cap>
struct TextTable {
    static constexpr int capacity = Cap;
    char* items[Cap];
    int count;
    bool full() const { return count >= Cap; }
    bool add(std::string_view s) {
        if (full()) return false;
        char* t = dup_text(s);
        if (!t) return false;
        items[count++] = t;
        return true;
    }
    std::string_view operator[](int i) const { return items[i]; }
    int size() const { return count; }
    void release() {
        for (int i = 0; i < count; ++i) std::free(items[i]);
        count = 0;
    }
};

enum class Direction : std::uint8_t { Both = 0, Import = 1, Export = 2 };

struct AddrMapEntry {
    FtnAddress ftn;
    Text<128> inet;
    Text<128> inet2;  // may be empty
    Text<128> name;   // may be empty
};

struct FidoDomainEntry {
    std::uint16_t zone_low;
    std::uint16_t zone_high;
    char* domain;  // exact length
};

struct AreaMapEntry {
    Text<128> area;  // upper case
    Text<128> newsgroup;
    Direction direction;
};

struct RouteEntry {
    FtnAddress ftn;
    Text<128> inet;
    Text<64> password;  // may be empty
    Text<128> subject;  // may be empty
};

struct AliasEntry {
    Text<128> alias;
    Text<128> inet;
};

struct CharSetEntry {
    char* ftn;   // '#' stands for the blank before the level
    char* inet;
    Direction direction;
};

struct QuoteCharEntry {
    std::uint8_t ch;
    std::uint8_t col_low, col_high;
    std::uint8_t letters_low, letters_high;
};

enum class JunkCategory : std::uint8_t { Email = 0, News = 1, All = 2, None = 3 };

struct PatternEntry {
    JunkCategory category;
    char* text;  // exact length
};

enum class AuthorForm : std::uint8_t { Name = 0, Email = 1, None = 2, Both = 3 };

struct MailingListEntry {
    Text<128> area;  // as written
    Text<128> list_address;
    Text<128> sender_address;  // may be empty
    Text<128> match;
    Text<128> truncate;
    Text<128> truncate_end;
    Text<128> subject;
    AuthorForm author;
};

enum class HeaderChoice : std::uint8_t { Names = 0, Addresses = 1 };
enum class BodyLines : std::uint8_t { Names = 0, Addresses = 1, None = 2 };
enum class StripMode : std::uint8_t { No = 0, Yes = 1, Some = 2 };
enum class KillOriginMode : std::uint8_t { No = 0, Yes = 1, Email = 2 };
enum class AttachAction : std::uint8_t { Ignore = 0, Decode = 1, Kill = 2 };
enum class EncodeKind : std::uint8_t { Mime = 0, UU = 1 };
enum class FilterAction : std::uint8_t { Ignore = 0, Kill = 1, Move = 2, Junk = 3 };
enum class MailerKind : std::uint8_t { None = 0, ArcMail = 1, Binkley = 2 };

struct GatewayConfig {
    // Addresses and mapping
    FtnAddress FidoAddr;
    Table<AddrMapEntry, 1024> AddrMap;  // shared with Personal
    bool MapFidoOrg;
    bool TransFidoOrg;
    Table<FidoDomainEntry, 256> FidoDomain;
    Text<128> EmailArea;
    Table<AreaMapEntry, 2048> AreaMap;
    Table<RouteEntry, 1024> Route;
    Table<AliasEntry, 1024> Alias;

    // Message conversion and formatting
    HeaderChoice HeaderInfo;
    BodyLines HeaderInfoBody;
    Text<64> NoSpamText;
    Text<128> DefCharSet;
    Table<CharSetEntry, 256> CharSetMap;
    bool QuoteTo;
    Table<QuoteCharEntry, 256> QuoteChar;
    TextTable<256> QuoteMask;
    bool SeparateMSG;
    std::uint16_t LineWidth;
    bool UseQP;
    Text<64> Origin;
    Text<128> Organization;
    StripMode StripKludges[3];  // e-mail, news, list mail
    bool StrictFidoMsgID;
    KillOriginMode KillOrigin;
    Text<32> TimeZone;
    AttachAction Attach[2];  // AttachMail, AttachNews
    EncodeKind EncodeFormat;
    std::uint16_t ExportMaxTo;
    std::uint16_t ExportMaxXPost;

    // Filtering
    FilterAction OwnOrgAction;
    Text<128> OwnOrgArea;
    FilterAction JunkAction;
    Text<128> JunkArea;
    Table<PatternEntry, 4096> JunkFrom;
    Table<PatternEntry, 2048> JunkSubj;
    Table<PatternEntry, 2048> JunkStr;
    Table<PatternEntry, 512> JunkGroup;
    bool JunkFromTo;
    TextTable<512> IgnoreMessageText;

    // Directories, mailer and run limits
    MailerKind MailerType;
    Text<260> InboundDir;
    Text<260> OutboundDir;
    Text<260> NetmailDir;
    Text<260> DecodeDir;
    bool DecodeAll;
    Text<260> SoupDir;
    Text<260> TempDir;
    // Directories a file named only by an FTN message (a subject word no
    // flow file lists) may be read from and disposed of; none given: InboundDir.
    TextTable<64> AttachPath;
    Text<260> LogFile;
    bool QuickScan;
    bool ExportAllMail;
    std::uint16_t BaseZone;
    std::uint32_t ImportLimit;  // bytes
    std::uint32_t MaxPKTSize;   // kilobytes
    Text<9> PacketPwd;

    // Mailing-list areas
    Table<MailingListEntry, 1024> MailingList;
    int ListConfigCount;  // ListConfig lines taken (the lists themselves live in the ListTable)
};

// The record of this run. The driver allocates it zero-filled at start-up
// (alloc_or_die); tests use reset_config(). Only the reader and the start-up
// checks change it; the run reads it through config().
extern GatewayConfig* g_config;
inline const GatewayConfig& config() { return *g_config; }
inline GatewayConfig& mutable_config() { return *g_config; }

// Every keyword default, the driver's built-ins included
// (OwnOrgArea, JunkArea, EmailArea). TimeZone and TempDir are left alone:
// they come from the environment before the defaults are set.
void set_config_defaults(GatewayConfig& c);

// Tests: a fresh zero-filled record with the defaults (the old one is dropped).
void reset_config();

// Hosted lists a configuration may name (ListConfig lines).
inline constexpr int kMaxLists = 64;

// The Internet domain of FTN-style addresses when no FidoDomain entry
// covers the zone: the labels p.f.n.z go in front of the text after '#'.
inline constexpr const char* kDefaultFidoDomain = "#fidonet.org";

}  // namespace tw
