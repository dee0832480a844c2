#pragma once

#include <string>
#include <string_view>

namespace qm {

// Fields of the command-line listings (one item per line, fields separated by
// tabs). A backslash, tab or newline becomes `\\`, `\t`, `\n`; every byte that
// is not part of a well-formed UTF-8 sequence (overlong forms, surrogates,
// code points above U+10FFFF, stray or missing continuation bytes) becomes
// `\xhh` with two lower-case hex digits. Everything else, including other
// control characters, is copied as it is, so every line splits at tabs and the
// original bytes can be recovered exactly.
std::string escapeListingField(std::string_view bytes);

// Length of the well-formed UTF-8 sequence that `bytes` starts with, by the
// rules above; 0 when it does not start with one (or is empty).
size_t utf8SequenceLength(std::string_view bytes);

// Degrees with 7 decimals ("48.8584000", "-2.2945000"), independent of the
// locale; never "-0.0000000".
std::string formatCoordinate(double degrees);

}  // namespace qm
