// Building SOUP packets and reading SOUP reply packets, for unit and CLI tests.
#pragma once

#include <string>
#include <vector>

#include "support/scratch.h"

namespace twtest {

// Writes message files and their AREAS lines into a SOUP directory.
class SoupBuilder {
public:
    SoupBuilder(const Scratch& dir, std::string soup) : dir_(dir), soup_(std::move(soup)) {}
    void area(const std::string& prefix, const std::string& name, const std::string& type,
              const std::string& bytes);

private:
    const Scratch& dir_;
    std::string soup_;
};

// The framings of a message file. `binary` is the length framing of
// binary message files and of reply files.
std::string mbox(const std::vector<std::string>& messages);
std::string mmdf(const std::vector<std::string>& messages);
std::string rnews(const std::vector<std::string>& messages);
std::string binary(const std::vector<std::string>& messages);

// The messages of length-framed bytes, as far as they go; `whole` tells
// whether they went to the end.
std::vector<std::string> unframe(const std::string& bytes, bool* whole = nullptr);

// The messages of a SOUP reply packet (REPLIES and its length-framed
// reply files under `soup`), in REPLIES order.
std::vector<std::string> reply_messages(const Scratch& dir, const std::string& soup);

}  // namespace twtest
