// Internet header field parsing: addresses, message identifiers, plain text
// fields, newsgroup lists and dates of RFC 822 headers.
//
// The operations that take a `char*` change the NUL-terminated text in
// place (escapes removed, parts blanked or cut off) and never make it
// longer, so callers hand them a working copy of the header value. Every
// result is cut to its field.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/message.h"
#include "driver/types.h"
#include "platform/text.h"

namespace tw {

// While a value is parsed an escaped blank is held as this byte, so that it
// does not split words; each result turns it back into a blank.
inline constexpr char kEscapedBlank = char(0xFF);

// Removes every backslash; the character after one is kept as it is and not
// looked at again, except that an escaped blank becomes kEscapedBlank.
void unescape_text(char* text);

// Every kEscapedBlank byte becomes a blank.
void restore_blanks(char* text);

// While the text is longer than one character and starts and ends with the
// same '"' or '\'' character, both are removed.
void unquote(char* text);

// What an address header is: the element kinds 1 to 3 also feed the
// recipient list.
enum class AddressKind : std::uint8_t { From = 0, To = 1, Cc = 2, Bcc = 3, ReplyTo = 4, Attribution = 5 };

// Splits an address list at its top-level commas. The first element fills
// the given fields (either may be null); the other elements of To, and
// every element of Cc and Bcc when no field is given, go to recipients().
void parse_address_list(char* value, Field* first_address, Field* first_name, AddressKind kind);

// The identifier around the first (or, with last_at, the last) '@', without
// its brackets; `out` is left alone when the value holds no '@'. Longer
// identifiers are cut to the field.
void extract_message_id(char* value, Field& out, bool last_at);

// The value without leading and trailing blanks and tabs; `out` is left
// alone when nothing remains. At most 127 characters are copied (then cut
// to the field when it is smaller, as the mail password is).
template <std::size_t N>
void trim_field(std::string_view value, Text<N>& out);

// Appends the newsgroups of a Newsgroups value other than the current
// area's own to crossposts(). The value is unchanged afterwards.
void split_newsgroups(char* value, std::string_view area_newsgroup);

// Reads "[Wdy,] DD Mon YY[YY] HH:MM[:SS] zone". Fields that the value does
// not reach get the defaults 1 Jan 1970 00:00:00; the zone stays text (its
// field, when given, is emptied first).
void parse_date(char* value, MessageDate& date, Field* zone);
// The same into the date fields and zone text of the message.
void parse_date(char* value, CurrentMessage& msg);

// --- template definitions ---

void trim_field_into(std::string_view value, char* out, std::size_t cap);

template <std::size_t N>
void trim_field(std::string_view value, Text<N>& out) {
    trim_field_into(value, out.data(), N);
}

}  // namespace tw
