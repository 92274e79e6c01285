// Console and run-log output. The banner and usage go to standard output,
// progress and errors to standard error with a copy in the run log, and
// configuration warnings to standard error only.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace tw {

// The run log; closed unless LogFile is set and the file could be opened.
extern platform::File run_log;

void console_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void config_warning(const char* message, long line, std::string_view path);

// Start-up errors ("Error: ...") go straight to standard error.
void error_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Terminal-only progress (percentages, "\r"): standard error alone.
void progress_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same for a text already made: a percentage is shown only when it
// changed.
void progress_text(const char* text);

// Opens the run log and writes its header; silently nothing when it fails.
void open_run_log(std::string_view path);
void close_run_log();

}  // namespace tw
