// The import run: Internet mail and news of the SOUP packet become FTN mail.
#pragma once

#include <cstddef>

namespace tw {

void import_run();

// The window in which the message files are read: a message up to half its
// size is read from the disk once; a larger one is framed and converted
// from the file. Tests make it small to take the second road.
inline constexpr std::size_t kImportWindowSize = std::size_t(4) << 20;
void set_import_window_size(std::size_t bytes);

}  // namespace tw
