// Byte searches of the import's hot loops, done sixteen bytes at a time
// where the processor allows, with the results of the plain byte loops.
#pragma once

#include <cstddef>
#include <string_view>

namespace tw::platform {

// The first occurrence of sep (two bytes or more) among the n bytes at p,
// or null: as memmem, which is slow with a separator at every line start.
const char* find_text(const char* p, std::size_t n, std::string_view sep);

// The n bytes at `in` with every run of white space (blank, tab, CR, LF, VT,
// FF) made one blank and none left at either end, stored at `out` (which
// may be `in`; n bytes of room). Returns the length; no NUL is added.
std::size_t collapse_white_space(const char* in, std::size_t n, char* out);

}  // namespace tw::platform
