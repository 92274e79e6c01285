// The body of an exported FTN message: the text without its control lines,
// re-wrapped at LineWidth, quoted-printable where the header said so.
#pragma once

#include <cstddef>
#include <string_view>

#include "export/analysis.h"
#include "export/message_text.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace tw {

// The quote prefix a wrapped quoted line carries onto its continuation.
using QuotePrefix = Text<8>;

// A piece of text cut at the width limit, as it is to be written (the
// current quote prefix already in front): takes the quote prefix of the
// piece into `prefix`, and returns how many of its characters make the
// written line. The line breaks after the last blank (else the last
// character that is no letter or digit) at a position from 33 up to below
// `width`; without one the piece is written whole.
std::size_t rewrap(std::string_view piece, std::size_t width, QuotePrefix& prefix);

// Writes the body from the text start to the end of the text; the input is
// then past the NUL that ends the text. False when the output failed.
[[nodiscard]] bool write_body(MessageText& in, platform::File& out, const ExportAnalysis& analysis);

}  // namespace tw
