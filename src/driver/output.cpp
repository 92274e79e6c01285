#include "driver/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "driver/types.h"

namespace tw {

platform::File run_log;

namespace {

// The progress text last shown, while nothing else followed it on the
// console: the same text again would change nothing a sysop sees (on a
// terminal each is a system call, once a message).
char g_progress[32];

}  // namespace

void console_printf(const char* fmt, ...) {
    g_progress[0] = 0;
    std::fflush(stderr);  // keeps the order of the two streams
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stdout, fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

void log_printf(const char* fmt, ...) {
    // One formatted message holds at most 199 characters; longer ones are cut.
    char buffer[200];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, ap);
    va_end(ap);
    g_progress[0] = 0;
    std::fprintf(stderr, "%s", buffer);
    if (run_log) {
        run_log.printf("%s", buffer);
        // The log is kept as far as the disk allows; mail does not wait on it.
        (void)run_log.flush();
    }
}

void config_warning(const char* message, long line, std::string_view path) {
    g_progress[0] = 0;
    std::fprintf(stderr, "Warning: %s in line %ld of %.*s\n\n", message, line, (int)path.size(), path.data());
}

void error_printf(const char* fmt, ...) {
    g_progress[0] = 0;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void progress_printf(const char* fmt, ...) {
    char text[sizeof g_progress];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    if (std::size_t(n) >= sizeof text) {
        g_progress[0] = 0;
        va_start(ap, fmt);
        std::vfprintf(stderr, fmt, ap);
        va_end(ap);
        return;
    }
    progress_text(text);
}

void progress_text(const char* text) {
    std::size_t n = std::strlen(text);
    if (n >= sizeof g_progress) {
        g_progress[0] = 0;
        std::fputs(text, stderr);
        return;
    }
    if (n > 1 && std::strcmp(text, g_progress) == 0) return;  // a percentage, not a bare line end
    std::memcpy(g_progress, text, n + 1);
    std::fputs(text, stderr);
}

void open_run_log(std::string_view path) {
    if (path.empty()) return;
    if (!run_log.open(path, platform::OpenMode::Append, platform::Share::DenyWrite, true)) return;
    std::tm tm{};
    platform::local_time(platform::now(), tm);
    if (run_log.size() > 0) run_log.printf("\n");
    int wd = tm.tm_wday >= 0 && tm.tm_wday < 7 ? tm.tm_wday : 0;
    int mon = tm.tm_mon >= 0 && tm.tm_mon < 12 ? tm.tm_mon : 0;
    run_log.printf("--- Tarnwick-%s v%d.%02d  %s %02d-%-3s-%04d %02d:%02d:%02d\n", kPlatformTag, kVersionMajor,
                   kVersionMinor, kDayNames[wd], tm.tm_mday, kMonthNames[mon], tm.tm_year + 1900, tm.tm_hour,
                   tm.tm_min, tm.tm_sec);
    (void)run_log.flush();  // as in log_printf
}

void close_run_log() { run_log.release(); }

}  // namespace tw
