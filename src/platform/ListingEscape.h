#pragma once

#include <string>
#include <string_view>

namespace qm {

// Fields of the command-line listings (one item per line, fields separated by
// tabs). A backslash, tab or newline becomes `\\`, `\t`, `\n`; every other
// control character (C0, DEL, and the C1 controls U+0080..U+009F, byte by
// byte) and every byte that is not part of a well-formed UTF-8 sequence
// (overlong forms, surrogates, code points above U+10FFFF, stray or missing
// continuation bytes) becomes `\xhh` with two lower-case hex digits. So a file
// name cannot drive the terminal (ESC, CR), every line splits at tabs, and
// the original bytes can be recovered exactly.
std::string escapeListingField(std::string_view bytes);

// Length of the well-formed UTF-8 sequence that `bytes` starts with, by the
// rules above; 0 when it does not start with one (or is empty).
size_t utf8SequenceLength(std::string_view bytes);

// Degrees with 7 decimals ("48.8584000", "-2.2945000"), independent of the
// locale; never "-0.0000000".
std::string formatCoordinate(double degrees);

}  // namespace qm
