// Shared types of every subsystem.
#pragma once

#include <cstdint>

namespace tw {

struct FtnAddress {
    std::uint16_t zone;
    std::uint16_t net;
    std::uint16_t node;
    std::uint16_t point;
    bool operator==(const FtnAddress&) const = default;
};

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
