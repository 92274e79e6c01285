// The run's command-line options and the start-up allocator: the part of the
// driver every layer may use (the command line itself is parsed by the
// executable).
#pragma once

#include <cstddef>

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

}  // namespace tw
