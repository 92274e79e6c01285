// Test support: scratch directories and running the real binary.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace twtest {

// A fresh directory under $TMPDIR (or /tmp), removed again at the end
// unless TW_KEEP_SCRATCH is set.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& root() const { return root_; }
    std::string path(std::string_view rel) const;  // root + "/" + rel
    void mkdir(std::string_view rel) const;        // with parents
    void write(std::string_view rel, std::string_view bytes) const;
    void append(std::string_view rel, std::string_view bytes) const;
    std::string read(std::string_view rel) const;  // empty when missing
    bool exists(std::string_view rel) const;
    std::vector<std::string> list(std::string_view rel = "") const;  // sorted names

private:
    std::string root_;
};

struct RunResult {
    std::string out;
    std::string err;
    int code = -1;
};

// Environment changes for a child: a value sets, nullopt removes.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// Runs argv[0] with the arguments in cwd and captures both streams.
RunResult run_process(const std::vector<std::string>& argv, const std::string& cwd, const EnvChanges& env = {});

std::string read_file(const std::string& path);

// Local time is UTC while it lives; the caller's TZ comes back after.
class ScopedUtc {
public:
    ScopedUtc();
    ~ScopedUtc();
    ScopedUtc(const ScopedUtc&) = delete;
    ScopedUtc& operator=(const ScopedUtc&) = delete;

private:
    std::optional<std::string> saved_;
};

// The full path of a program found on PATH, or empty.
std::string find_program(const std::string& name);

// The configuration readers' warning for line `line` of `file`.
std::string config_warning(const std::string& what, long line, const std::string& file);

// Repeatable pseudo-random bytes for hostile-input tests.
std::string random_bytes(std::size_t n, unsigned seed);
void write_file(const std::string& path, std::string_view bytes);

}  // namespace twtest
