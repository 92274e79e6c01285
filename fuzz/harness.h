// Shared set-up of the fuzz targets: a scratch gateway site, made once per
// process, that a target fills with its input and runs a part of the
// gateway on, in process, over and over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace twfuzz {

// The site's configuration: the basic settings and `extra` lines.
std::string site_config(std::string_view extra = "");

// Makes (once) the scratch site and enters it: in/ out/ soup/ tmp/ net/
// lists/, on tmpfs (/dev/shm) when there is one, else under $TMPDIR or
// /tmp ($TWFUZZ_DIR chooses). It is removed when the process exits
// normally. Output of the gateway goes nowhere (libFuzzer keeps its own).
void enter_site();

// Reads the configuration file `name` of the site afresh (with the
// start-up defaults of a run); false when the reader refused it.
bool load_config(const std::string& name);
// Frees what the configuration and the list table hold.
void release_config();
// Ends a run of the gateway: forgets the names and directory listings it
// remembers (the harness changes the directories behind its back, and the
// next run must not depend on this one), so that a run also gives back all
// it took and libFuzzer's leak check need not run it again.
void finish_run();

void write_file(const std::string& path, std::string_view bytes);
std::string read_file(const std::string& path);  // empty when missing
// Removes every file in the directory (not below it).
void clear_dir(const std::string& dir);

// A hosted list (list@gate.example, two subscribers) and its reply texts,
// written afresh (a run may have changed them); other files in lists/ go.
void write_list_site();
inline constexpr const char* kListConfigLine = "ListConfig lists/t.lst\n";

}  // namespace twfuzz
