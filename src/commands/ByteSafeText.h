#pragma once

#include <string>
#include <string_view>

namespace qm {

// JSON carries text, but file and tag names on Linux are bytes. Valid UTF-8
// is stored as itself, so the file stays readable; anything else (and, to
// keep the mapping one-to-one, anything starting with a NUL character, which
// no path can) is stored as U+0000 followed by the base64 of the raw bytes.
std::string encodeByteSafeText(std::string_view bytes);
// The inverse; a U+0000 text whose rest is not base64 gives nothing.
bool decodeByteSafeText(std::string_view text, std::string& bytes);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes) noexcept;

}  // namespace qm
