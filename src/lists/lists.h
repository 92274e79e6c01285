// Hosted mailing lists.
#pragma once

#include <string_view>

namespace tw {

// Number of hosted lists loaded so far (at most 64).
int list_count();

// Reads one list configuration file named by a ListConfig line: 1 when the
// list was added, 0 otherwise.
int load_list_config(std::string_view name, long line, std::string_view config_path, std::string_view program_path);

}  // namespace tw

namespace tw {

// The ListTable, allocated zero-filled at start-up (alloc_or_die).
void allocate_list_table();

// The pack command: compacts the subscriber sections of every list.
void pack_run();

}  // namespace tw
