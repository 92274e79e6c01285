// Small helpers shared by the bridge: reports, whole-file I/O with fsync,
// and a look at message headers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace twsoup {

// Progress and notes on standard error; errors get "! " and are counted,
// so the run can end with a status that tells a schedule something failed.
void note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int error_count();

// Whole file into out; false when it cannot be read. limit: refuse files
// larger than this many bytes (size_too_big is then set).
bool read_whole(const std::string& path, std::string& out, long long limit = -1, bool* size_too_big = nullptr);
// Every byte to fd, retrying short writes; false on any error.
bool write_all(int fd, std::string_view bytes);
// Writes a file under a temporary name, syncs it and renames it into place.
bool replace_file(const std::string& path, std::string_view bytes);
// Makes a rename or a new name in dir durable.
void sync_dir(const std::string& dir);
std::string dir_of(const std::string& path);
std::string base_of(const std::string& path);
bool is_dir(const std::string& path);
bool make_dirs(const std::string& path);
// Regular files of a directory whose names do not begin with '.', sorted.
std::vector<std::string> plain_files(const std::string& dir);

// Line ends become LF (a CR before LF is dropped), as the SOUP packet wants.
void to_lf(std::string& text);

// The unfolded value of the first header field of the name (case-blind),
// looking only at the header part of the message; empty when absent.
std::string header_field(std::string_view message, std::string_view name);
// The newsgroups of a Newsgroups value, in order.
std::vector<std::string> split_groups(std::string_view value);
// A message starts with a header field ("Name:" with a printable name).
bool starts_with_header(std::string_view message);

}  // namespace twsoup
