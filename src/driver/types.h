// Shared types of every subsystem.
#pragma once

#include <cstdint>
#include <ctime>

namespace tw {

struct FtnAddress {
    std::uint16_t zone;
    std::uint16_t net;
    std::uint16_t node;
    std::uint16_t point;
    bool operator==(const FtnAddress&) const = default;
};

// The date of a message, as read from a header or packet or taken from the
// clock: month 0 = January, year in full.
struct MessageDate {
    std::uint16_t day, month, year, hour, minute, second;
    static MessageDate from_tm(const std::tm& tm) {
        return MessageDate{std::uint16_t(tm.tm_mday), std::uint16_t(tm.tm_mon),  std::uint16_t(tm.tm_year + 1900),
                           std::uint16_t(tm.tm_hour), std::uint16_t(tm.tm_min), std::uint16_t(tm.tm_sec)};
    }
};

// The kind of a SOUP area: its messages are mail or news.
enum class AreaKind : std::uint8_t { Mail = 0, News = 1 };

enum class MessageKind : std::uint8_t { Mail = 0, News = 1, List = 2 };

enum class JunkKind : std::uint8_t { None = 0, From = 1, Subject = 2, Body = 3, Group = 4, FromTo = 5, ImpExp = 6 };

enum class ReplyKind : std::uint8_t { Mail = 0, News = 1 };

enum class ExportTarget : std::uint8_t { Gateway, Route, Undetermined };

// Product identity, written through "Tarnwick-%s v%d.%02d".
inline constexpr const char* kPlatformTag = "DOS";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 5;

// One table of English names serves the log header, FTN dates, the date
// parser and Date header lines.
inline constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace tw
