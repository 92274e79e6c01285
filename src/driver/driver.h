// The run driver: command line, start-up checks and dispatch.
#pragma once

#include <string_view>

#include "driver/options.h"

namespace tw {

[[noreturn]] void show_usage();

// Tests the directory named by a setting that ends in a separator; when
// nothing exists there, reports it and ends the process with exit code 1.
void require_directory(const char* keyword, std::string_view path);

// The whole run; returns the process exit code.
int run_program(int argc, char** argv);

}  // namespace tw
