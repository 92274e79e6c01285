// The run driver: command line, start-up checks and dispatch.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/text.h"

namespace tw {

enum class RunCommand : unsigned char { None, Import, Export, Pack, Check };

struct RunOptions {
    RunCommand command;
    bool test;
    bool verbose;
    bool global;
    Text<260> ConfigFileName;
    Text<260> PacketDirectory;
};

extern RunOptions g_options;
inline RunOptions& options() { return g_options; }

// A zero-filled block, or "Error: not enough memory" and exit code 255.
void* alloc_or_die(std::size_t size);

[[noreturn]] void show_usage();

// Tests the directory named by a setting that ends in a separator; when
// nothing exists there, reports it and ends the process with exit code 1.
void require_directory(const char* keyword, std::string_view path);

// The whole run; returns the process exit code.
int run_program(int argc, char** argv);

}  // namespace tw
